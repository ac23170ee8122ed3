#include "install/extract.h"

#include <cstring>

#include "app/run_state.h"
#include "install/file_rename.h"
#include "install/paths.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "resource_ids.h"
#include "support/strings.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"

namespace {

using unzip_function = int(__stdcall*)(void* record);

HMODULE unzip_library;
unzip_function unzip_entry;
unsigned char unzip_command[unzip_command_size];

constexpr int library_result_skipped = 49;

char spare_archive[path_capacity];  // empty: none
std::uint32_t spare_archive_size;    // its length in bytes

// The spare archive under `archive_path`, open to be written over from its start (the caller cuts
// it at its new end); HFILE_ERROR when there is none or it cannot be taken, and then it is gone.
// Renamed through the handle that writes it where the system allows, else by name first. Not
// emptied by _lcreat: ext4 writes a file truncated to nothing out to the disk when it is closed,
// and the next truncation waits for that write, so each member would cost a disk write and a wait.
HFILE take_spare_archive(const char* archive_path)
{
    if (!spare_archive[0]) return HFILE_ERROR;
    const bool same_name = !lstrcmpiA(spare_archive, archive_path);
    const bool by_handle = !same_name && can_rename_open_file();
    const bool moved = !same_name && !by_handle && MoveFileA(spare_archive, archive_path);
    const char* name = moved ? archive_path : spare_archive;  // where it lies now
    HANDLE file = INVALID_HANDLE_VALUE;
    if (same_name || by_handle || moved) {
        file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE | (by_handle ? DELETE : 0), FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        // Not over a file of that name: then the archive is made anew, as without a spare.
        if (file != INVALID_HANDLE_VALUE && by_handle && !rename_open_file(file, archive_path, false)) {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    }
    if (file == INVALID_HANDLE_VALUE) DeleteFileA(name);
    spare_archive[0] = '\0';
    return file == INVALID_HANDLE_VALUE ? HFILE_ERROR : static_cast<HFILE>(reinterpret_cast<INT_PTR>(file));
}

int fail(std::uint16_t number)
{
    setup.fatal_error = number;
    return 0;
}

void put32(unsigned char* record, unsigned offset, std::uint32_t value) { std::memcpy(record + offset, &value, 4); }

std::uint32_t address_of(const void* pointer) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer)); }

HMODULE load_from_target(const char* name)
{
    char path[path_capacity];
    target_path(path, name);
    return LoadLibraryA(path);
}

}  // namespace

int copy_member_bytes(int file, const package_member* member, HWND dialog, std::uint32_t base, std::uint32_t divisor)
{
    if (_llseek(setup.package_handle, static_cast<LONG>(member->data_offset), FILE_BEGIN) == HFILE_ERROR) return fail(7);
    const HWND gauge = dialog_gauge(dialog);
    std::uint32_t copied = 0;
    std::uint32_t chunk = io_buffer_size;
    while (copied < member->stored_size) {
        if (member->stored_size - copied < chunk) chunk = member->stored_size - copied;
        const UINT got = _lread(setup.package_handle, setup.io_buffer, chunk);
        if (got == static_cast<UINT>(HFILE_ERROR) || got < chunk) return fail(8);
        if (!write_with_retry(file, setup.io_buffer, static_cast<std::uint16_t>(chunk))) return fail(9);
        if (gauge) SendMessageA(gauge, GAUGE_SETPOS, 0, static_cast<LPARAM>((base + copied) / divisor));
        copied += chunk;
    }
    return 1;
}

int place_unzip_library()
{
    setup.unzip_library_member = 0;
    const member_table* table = setup.file_table;
    if (!table || table->count == 0 || !same_name(member_name(table->members[0]), unzip_library_name)) return 1;
    setup.unzip_library_member = 1;
    char path[path_capacity];
    target_path(path, "dunzipnt.dll");
    const HFILE file = _lcreat(path, 0);
    if (file == HFILE_ERROR) return fail(11);
    if (!copy_member_bytes(file, table->members[0], nullptr, 0, 1)) {
        _lclose(file);
        return 0;
    }
    if (_lclose(file) == HFILE_ERROR) return fail(12);
    return 1;
}

int load_unzip_library()
{
    unzip_library = load_from_target("dunzipnt.dll");
    if (!unzip_library) unzip_library = load_from_target("dunzip32.dll");
    if (!unzip_library) return fail(13);
    unzip_entry = reinterpret_cast<unzip_function>(GetProcAddress(unzip_library, "dunzip"));
    if (!unzip_entry) return fail(14);
    return 1;
}

void unload_unzip_library()
{
    if (unzip_library) FreeLibrary(unzip_library);
    unzip_library = nullptr;
    unzip_entry = nullptr;
}

void fill_unzip_defaults(unsigned char* record)
{
    std::memset(record, 0, unzip_command_size);
    put32(record, 0, unzip_command_size);
    put32(record, 4, 9);
    put32(record, 20, 0xFFFFFFFF);
    for (unsigned offset : {36u, 40u, 48u, 52u, 56u}) put32(record, offset, 1);
}

int __stdcall unzip_callback_a(std::uint32_t, std::uint32_t, std::uint32_t) { return 1; }

int __stdcall unzip_callback_b(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t)
{
    return 1;
}

int run_unzip(const char* archive, const char* directory)
{
    fill_unzip_defaults(unzip_command);
    put32(unzip_command, 24, address_of(directory));
    put32(unzip_command, 8, address_of(archive));
    put32(unzip_command, 56, 0);
    put32(unzip_command, 20, 0);
    put32(unzip_command, 16, 0);
    put32(unzip_command, 4, 8);
    put32(unzip_command, 68, address_of(reinterpret_cast<const void*>(&unzip_callback_a)));
    put32(unzip_command, 100, address_of(reinterpret_cast<const void*>(&unzip_callback_b)));
    return unzip_entry(unzip_command);
}

const unsigned char* last_unzip_command() { return unzip_command; }

int write_out_member(const package_member* member, const char* archive_path, const char* directory,
                     const char* final_path, int direct, HWND dialog, std::uint32_t base, std::uint32_t divisor)
{
    // A direct member is written where it belongs: the space the archive took is freed first.
    if (direct) discard_spare_archive();
    const std::uint32_t spare_size = spare_archive_size;
    const HFILE spare = direct ? HFILE_ERROR : take_spare_archive(archive_path);
    const bool reused = spare != HFILE_ERROR;
    const HFILE file = reused ? spare : _lcreat(direct ? final_path : archive_path, 0);
    if (file == HFILE_ERROR) return fail(19);
    if (!copy_member_bytes(file, member, dialog, base, divisor)) {
        _lclose(file);
        return 0;
    }
    // Whatever of the last member's archive lay beyond this one's end goes.
    if (reused && member->stored_size < spare_size && !SetEndOfFile(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)))) {
        _lclose(file);
        return fail(20);
    }
    if (_lclose(file) == HFILE_ERROR) return fail(20);
    pump_messages();
    if (setup.install_cancelled) return 0;
    if (direct) return 1;

    for (;;) {
        // A look at the name is answered in the process; a delete of a missing file asks the system.
        if (path_exists(final_path)) DeleteFileA(final_path);
        const int result = run_unzip(archive_path, directory);
        if (result == 0 || result == library_result_skipped) break;
        if (result == 4 || result == 5) {
            if (ask_retry(resource_text(1, STR_OUT_OF_MEMORY))) continue;
        } else if (result == 28 || result == 50) {
            if (ask_more_disk_space()) continue;
            if (setup.low_space_program[0]) setup.offer_low_space_program = 1;
        }
        return fail(static_cast<std::uint16_t>(1000 + result));
    }
    // A missing file must not pass as an empty member: its attributes say whether it is there.
    WIN32_FILE_ATTRIBUTE_DATA found;
    if (!GetFileAttributesExA(final_path, GetFileExInfoStandard, &found) ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.nFileSizeHigh ||
        found.nFileSizeLow != member->unpacked_size)
        return fail(21);
    lstrcpynA(spare_archive, archive_path, sizeof spare_archive);
    spare_archive_size = member->stored_size;
    return 1;
}

void discard_spare_archive()
{
    if (spare_archive[0]) DeleteFileA(spare_archive);
    spare_archive[0] = '\0';
}
