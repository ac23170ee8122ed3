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
// Where open files can be renamed, the spare stays open from its write until the next member
// takes it over: an open, the first write's look-up of the handle and a close fewer per member,
// each a request to the window server under Wine.
HANDLE spare_handle = INVALID_HANDLE_VALUE;

HANDLE as_handle(HFILE file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }
HFILE as_hfile(HANDLE file)
{
    return file == INVALID_HANDLE_VALUE ? HFILE_ERROR : static_cast<HFILE>(reinterpret_cast<INT_PTR>(file));
}

// The spare archive under `archive_path`, open to be written over from its start (the caller cuts
// it at its new end); HFILE_ERROR when there is none or it cannot be taken, and then it is gone.
// Not emptied by _lcreat: ext4 writes a file truncated to nothing out to the disk when it is
// closed, and the next truncation waits for that write, so each member would cost both.
HFILE take_spare_archive(const char* archive_path)
{
    if (!spare_archive[0]) return HFILE_ERROR;
    const bool already_named = !lstrcmpiA(spare_archive, archive_path);
    HANDLE file = spare_handle;
    const char* name = spare_archive;  // where it lies
    if (file != INVALID_HANDLE_VALUE) {
        // Not over a file of that name: then the archive is made anew, as without a spare.
        if (already_named || rename_open_file(file, archive_path, false)) {
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        } else {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
        }
    } else if (already_named || MoveFileA(spare_archive, archive_path)) {
        name = archive_path;
        file = CreateFileA(archive_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) DeleteFileA(name);
    spare_handle = INVALID_HANDLE_VALUE;
    spare_archive[0] = '\0';
    return as_hfile(file);
}

// A new archive that can be renamed while open: as _lcreat makes it, with DELETE access too.
HFILE create_renamable_archive(const char* archive_path)
{
    return as_hfile(CreateFileA(archive_path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Closes the output of write_out_member when it returns early.
struct output_closer {
    HFILE file;
    ~output_closer()
    {
        if (file != HFILE_ERROR) _lclose(file);
    }
    HFILE release()
    {
        const HFILE kept = file;
        file = HFILE_ERROR;
        return kept;
    }
};

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
    const bool keep_open = !direct && can_rename_open_file();
    HFILE file = spare;
    if (!reused) file = keep_open ? create_renamable_archive(archive_path) : _lcreat(direct ? final_path : archive_path, 0);
    if (file == HFILE_ERROR) return fail(19);
    output_closer output{file};
    if (!copy_member_bytes(file, member, dialog, base, divisor)) return 0;
    // Whatever of the last member's archive lay beyond this one's end goes.
    if (reused && member->stored_size < spare_size && !SetEndOfFile(as_handle(file))) return fail(20);
    if (!keep_open && _lclose(output.release()) == HFILE_ERROR) return fail(20);
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
    if (keep_open) spare_handle = as_handle(output.release());
    return 1;
}

void discard_spare_archive()
{
    if (spare_handle != INVALID_HANDLE_VALUE) CloseHandle(spare_handle);
    spare_handle = INVALID_HANDLE_VALUE;
    if (spare_archive[0]) DeleteFileA(spare_archive);
    spare_archive[0] = '\0';
}
