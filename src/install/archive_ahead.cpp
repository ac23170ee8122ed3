#include "install/archive_ahead.h"

#include <windows.h>

#include "package/package_format.h"
#include "package/package_reader.h"
#include "support/paths.h"
#include "support/run_state.h"

namespace {

// The job is handed over through these fields: the main thread fills them, then sets `go`; the
// thread reads them, writes, sets `written`, and only then `finished`. Neither side touches them
// while the other has the job.
struct ahead_state {
    HANDLE thread = nullptr;
    HANDLE go = nullptr;    // auto-reset: a job (or the end) is there
    HANDLE done = nullptr;  // auto-reset: set when the main thread waits for the job
    HANDLE package = INVALID_HANDLE_VALUE;
    volatile LONG finished = 1;
    volatile LONG main_waits = 0;
    volatile LONG quit = 0;
    bool in_hand = false;  // a job given and not yet taken (main thread only)
    const package_member* member = nullptr;
    char path[path_capacity] = {};
    bool reuse = false;
    std::uint32_t old_size = 0;
    bool written = false;
} ahead;

unsigned char ahead_buffer[io_buffer_size];

HANDLE as_handle(HFILE file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }

bool copy_archive(HFILE out)
{
    const package_member& member = *ahead.member;
    if (SetFilePointer(ahead.package, static_cast<LONG>(member.data_offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    for (std::uint32_t copied = 0; copied < member.stored_size;) {
        const DWORD left = member.stored_size - copied;
        const DWORD chunk = left < io_buffer_size ? left : io_buffer_size;
        DWORD got = 0;
        if (!ReadFile(ahead.package, ahead_buffer, chunk, &got, nullptr) || got != chunk) return false;
        if (_lwrite(out, reinterpret_cast<LPCCH>(ahead_buffer), chunk) != chunk) return false;
        copied += chunk;
    }
    return !ahead.reuse || member.stored_size >= ahead.old_size || SetEndOfFile(as_handle(out));
}

bool write_job()
{
    const HFILE out = ahead.reuse ? _lopen(ahead.path, OF_READWRITE) : _lcreat(ahead.path, 0);
    if (out == HFILE_ERROR) return false;
    const bool copied = copy_archive(out);
    return _lclose(out) != HFILE_ERROR && copied;
}

DWORD WINAPI ahead_thread(void*)
{
    for (;;) {
        WaitForSingleObject(ahead.go, INFINITE);
        if (InterlockedCompareExchange(&ahead.quit, 0, 0)) return 0;
        ahead.written = write_job();
        // Interlocked, both: either this sees that the main thread waits, or it sees finished.
        InterlockedExchange(&ahead.finished, 1);
        if (InterlockedCompareExchange(&ahead.main_waits, 0, 0)) SetEvent(ahead.done);
    }
}

void wait_for_job()
{
    if (!ahead.in_hand || InterlockedCompareExchange(&ahead.finished, 0, 0)) return;
    InterlockedExchange(&ahead.main_waits, 1);
    // A signal left from a job whose end was seen without waiting only makes one more round.
    while (!InterlockedCompareExchange(&ahead.finished, 0, 0)) WaitForSingleObject(ahead.done, INFINITE);
    InterlockedExchange(&ahead.main_waits, 0);
}

void close_handle(HANDLE& handle, HANDLE none)
{
    if (handle != none) CloseHandle(handle);
    handle = none;
}

}  // namespace

bool open_archive_ahead()
{
    if (ahead.thread) return true;
    ahead.package = CreateFileA(setup.package_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    ahead.go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ahead.done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ahead.quit = 0;
    ahead.finished = 1;
    ahead.in_hand = false;
    DWORD id = 0;
    if (ahead.package != INVALID_HANDLE_VALUE && ahead.go && ahead.done)
        ahead.thread = CreateThread(nullptr, 65536, ahead_thread, nullptr, 0, &id);
    if (ahead.thread) return true;
    close_archive_ahead();
    return false;
}

void close_archive_ahead()
{
    drop_archive_ahead();
    if (ahead.thread) {
        InterlockedExchange(&ahead.quit, 1);
        SetEvent(ahead.go);
        WaitForSingleObject(ahead.thread, INFINITE);
    }
    close_handle(ahead.thread, nullptr);
    close_handle(ahead.go, nullptr);
    close_handle(ahead.done, nullptr);
    close_handle(ahead.package, INVALID_HANDLE_VALUE);
}

bool write_archive_ahead(const package_member* member, const char* path, bool reuse, std::uint32_t old_size)
{
    if (!ahead.thread || ahead.in_hand) return false;
    ahead.member = member;
    lstrcpynA(ahead.path, path, sizeof ahead.path);
    ahead.reuse = reuse;
    ahead.old_size = old_size;
    ahead.written = false;
    InterlockedExchange(&ahead.finished, 0);
    ahead.in_hand = true;
    SetEvent(ahead.go);
    return true;
}

bool take_archive_ahead(const package_member* member, char* path)
{
    if (!ahead.in_hand) return false;
    wait_for_job();
    ahead.in_hand = false;
    if (ahead.member == member && ahead.written) {
        lstrcpynA(path, ahead.path, path_capacity);
        return true;
    }
    DeleteFileA(ahead.path);
    return false;
}

bool drop_archive_ahead()
{
    if (!ahead.in_hand) return false;
    wait_for_job();
    ahead.in_hand = false;
    DeleteFileA(ahead.path);
    return true;
}
