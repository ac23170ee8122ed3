#include "install/extract.h"

#include <cstring>

#include "install/archive_ahead.h"
#include "install/unzip_record.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "resource_ids.h"
#include "support/fatal_errors.h"
#include "support/file_replace.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "ui/dialogs.h"
#include "ui/screen_pace.h"

namespace {

using unzip_function = int(__stdcall*)(void* record);

HMODULE unzip_library;
unzip_function unzip_entry;
unsigned char unzip_command[unzip_record::size];

constexpr int library_result_skipped = 49;

HANDLE as_handle(HFILE file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }

// A kept archive's name and size, taken out of its slot; false when none is kept.
bool take_spare_name(char* path, std::uint32_t& size)
{
    for (kept_archive& spare : setup.spare_archives) {
        if (!spare.path[0]) continue;
        lstrcpynA(path, spare.path, path_capacity);
        size = spare.size;
        spare.path[0] = '\0';
        return true;
    }
    return false;
}

// A kept archive, opened to be written over from its start (the caller cuts it at its new end),
// its name copied to `lies_at`; HFILE_ERROR when none is kept or none can be opened, and then
// they are gone. It keeps the name it was made under: a rename per member would be one more
// request to the window server under Wine, and the name only matters once a member stops. Not
// emptied by _lcreat: ext4 writes a file truncated to nothing out to the disk when it is closed,
// and the next truncation waits for that write, so each member would cost both.
HFILE take_spare_archive(char* lies_at, std::uint32_t& size)
{
    while (take_spare_name(lies_at, size)) {
        const HFILE file = _lopen(lies_at, OF_READWRITE);
        if (file != HFILE_ERROR) return file;
        DeleteFileA(lies_at);
    }
    return HFILE_ERROR;
}

void keep_spare_archive(const char* path, std::uint32_t size)
{
    for (kept_archive& spare : setup.spare_archives) {
        if (spare.path[0]) continue;
        lstrcpynA(spare.path, path, path_capacity);
        spare.size = size;
        return;
    }
    DeleteFileA(path);  // not reached: at most two archives are on the disk at a time
}

// `next`'s archive written while this member is unpacked: over a kept archive, else under its
// own name.
void start_next_archive(const package_member* next, const char* next_archive)
{
    char path[path_capacity];
    std::uint32_t size = 0;
    if (take_spare_name(path, size)) {
        if (!write_archive_ahead(next, path, true, size)) keep_spare_archive(path, size);
    } else {
        write_archive_ahead(next, next_archive, false, 0);
    }
}

// The output of write_out_member until it is closed. When the member stops, it is closed and
// left under the member's own archive name, as if it had been made for this member (a file
// already there is replaced, as _lcreat would have emptied it).
struct member_output {
    HFILE file;
    const char* lies_at;
    const char* member_archive;
    bool done = false;  // the member is in place
    ~member_output()
    {
        if (done) return;
        if (file != HFILE_ERROR) _lclose(file);
        if (lstrcmpiA(lies_at, member_archive) != 0) {
            DeleteFileA(member_archive);
            MoveFileA(lies_at, member_archive);
        }
    }
    int close()
    {
        const HFILE open = file;
        file = HFILE_ERROR;
        return _lclose(open);
    }
};

using unzip_record::put;

HMODULE load_from_target(const char* name)
{
    char path[path_capacity];
    target_path(path, name);
    return load_library_from(path);
}

}  // namespace

int copy_member_bytes(int file, const package_member* member, screen_pace* pace, std::uint32_t base, std::uint32_t divisor)
{
    if (_llseek(setup.package_handle, static_cast<LONG>(member->data_offset), FILE_BEGIN) == HFILE_ERROR) return stop_with(fatal::member_seek);
    std::uint32_t copied = 0;
    std::uint32_t chunk = io_buffer_size;
    while (copied < member->stored_size) {
        if (member->stored_size - copied < chunk) chunk = member->stored_size - copied;
        const UINT got = _lread(setup.package_handle, setup.io_buffer, chunk);
        if (got == static_cast<UINT>(HFILE_ERROR) || got < chunk) return stop_with(fatal::member_read);
        if (!write_with_retry(file, setup.io_buffer, static_cast<std::uint16_t>(chunk))) return stop_with(fatal::member_write);
        if (pace) pace_gauge(*pace, (base + copied) / divisor);  // a long member is named while it is copied
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
    if (file == HFILE_ERROR) return stop_with(fatal::unzip_library_not_created);
    if (!copy_member_bytes(file, table->members[0], nullptr, 0, 1)) {
        _lclose(file);
        return 0;
    }
    if (_lclose(file) == HFILE_ERROR) return stop_with(fatal::unzip_library_not_closed);
    return 1;
}

void unload_unzip_library()
{
    if (unzip_library) FreeLibrary(unzip_library);
    unzip_library = nullptr;
    unzip_entry = nullptr;
}

int load_unzip_library()
{
    unzip_library = load_from_target("dunzipnt.dll");
    if (!unzip_library) unzip_library = load_from_target("dunzip32.dll");
    if (!unzip_library) return stop_with(fatal::unzip_library_not_loaded);
    unzip_entry = reinterpret_cast<unzip_function>(GetProcAddress(unzip_library, "dunzip"));
    if (!unzip_entry) return stop_with(fatal::unzip_library_no_export);
    return 1;
}

void fill_unzip_defaults(unsigned char* record)
{
    std::memset(record, 0, unzip_record::size);
    put(record, unzip_record::at_size, unzip_record::size);
    put(record, unzip_record::at_command, unzip_record::command_defaults);
    put(record, 20, 0xFFFFFFFF);
    for (unsigned offset : {36u, 40u, 48u, 52u, 56u}) put(record, offset, 1);
}

// Called as the library writes: a long member is named while it is unpacked.
int __stdcall unzip_callback_a(std::uint32_t, std::uint32_t, std::uint32_t)
{
    show_held_text(true);
    return 1;
}

int __stdcall unzip_callback_b(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t)
{
    return 1;
}

int run_unzip(const char* archive, const char* directory)
{
    // Each address must fit its 4-byte field: a cut one would send the library elsewhere.
    std::uint32_t directory_field, archive_field, callback_a_field, callback_b_field;
    if (!unzip_record::address_field(directory, directory_field) ||
        !unzip_record::address_field(archive, archive_field) ||
        !unzip_record::function_field(&unzip_callback_a, callback_a_field) ||
        !unzip_record::function_field(&unzip_callback_b, callback_b_field))
        return unzip_address_out_of_reach;
    fill_unzip_defaults(unzip_command);
    put(unzip_command, unzip_record::at_destination, directory_field);
    put(unzip_command, unzip_record::at_archive, archive_field);
    put(unzip_command, 56, 0);
    put(unzip_command, 20, 0);
    put(unzip_command, 16, 0);
    put(unzip_command, unzip_record::at_command, unzip_record::command_extract);
    put(unzip_command, unzip_record::at_progress, callback_a_field);
    put(unzip_command, unzip_record::at_entry, callback_b_field);
    return unzip_entry(unzip_command);
}

int write_out_member(const package_member* member, const char* archive_path, const char* directory,
                     const char* final_path, int direct, screen_pace* pace, std::uint32_t base, std::uint32_t divisor,
                     const package_member* next, const char* next_archive)
{
    // A direct member is the file itself: the space the archive took is freed first, and it is
    // written whole under its archive name before it replaces the installed one.
    if (direct) discard_spare_archive();
    char lies_at[path_capacity];  // where this member's archive is written
    const bool written_ahead = !direct && take_archive_ahead(member, lies_at);
    std::uint32_t spare_size = 0;
    HFILE file = direct || written_ahead ? HFILE_ERROR : take_spare_archive(lies_at, spare_size);
    const bool reused = written_ahead || file != HFILE_ERROR;
    if (reused) {
        // A file under this member's archive name would have been emptied and deleted with it.
        if (lstrcmpiA(lies_at, archive_path) && path_exists(archive_path)) DeleteFileA(archive_path);
    } else {
        lstrcpynA(lies_at, archive_path, sizeof lies_at);
        file = _lcreat(lies_at, 0);
        if (file == HFILE_ERROR) return stop_with(fatal::archive_not_created);
    }
    member_output output{file, lies_at, archive_path};
    if (!written_ahead) {
        if (!copy_member_bytes(file, member, pace, base, divisor)) return 0;
        // Whatever of the last member's archive lay beyond this one's end goes.
        if (reused && member->stored_size < spare_size && !SetEndOfFile(as_handle(file)))
            return stop_with(fatal::archive_not_closed);
        // Closed before the library has it: a library may open it by name with any sharing.
        if (output.close() == HFILE_ERROR) return stop_with(fatal::archive_not_closed);
    }
    if (pace) pace_turn(*pace);
    if (setup.install_cancelled) return 0;
    if (direct) {
        char aside[path_capacity];
        if (!aside_name(final_path, aside) || !replace_file(lies_at, final_path, aside)) return stop_with(fatal::archive_not_created);
        output.done = true;
        return 1;
    }

    if (next) start_next_archive(next, next_archive);
    for (;;) {
        // The library replaces the installed file in one step once the new one is whole: it is
        // not deleted first, so an interruption never leaves neither.
        const int result = run_unzip(lies_at, directory);
        if (result == 0 || result == library_result_skipped) break;
        if (result == unzip_address_out_of_reach) return stop_with(fatal::address_out_of_reach);
        if (result == 4 || result == 5) {
            if (ask_retry(resource_text(1, STR_OUT_OF_MEMORY))) continue;
        } else if (result == 28 || result == 50) {
            // The archives beside this one's are not in the space the install was found to
            // need: they go first, and the library tries again before anyone is asked.
            if (discard_spare_archive()) continue;
            if (ask_more_disk_space()) continue;
            if (setup.low_space_program[0]) setup.offer_low_space_program = 1;
        }
        return stop_with(static_cast<std::uint16_t>(fatal::unzip_library_result + result));
    }
    // A missing file must not pass as an empty member, nor one another program holds open (a
    // virus scanner) fail as if it were empty.
    std::uint32_t unpacked = 0;
    if (!size_of_present_file(final_path, unpacked) || unpacked != member->unpacked_size) return stop_with(fatal::unpacked_size);
    keep_spare_archive(lies_at, member->stored_size);
    output.done = true;
    return 1;
}

bool discard_spare_archive()
{
    bool dropped = drop_archive_ahead();
    for (kept_archive& spare : setup.spare_archives) {
        if (!spare.path[0]) continue;
        DeleteFileA(spare.path);
        spare.path[0] = '\0';
        dropped = true;
    }
    return dropped;
}
