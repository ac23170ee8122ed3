// dunzipnt.dll - the unzip library SETUP.EXE loads to unpack the members of its package.
//
// One export, int __stdcall dunzip(void* record): the 110-byte command record names a ZIP
// archive of one file and a destination directory; the file is written there under its entry's
// name through a temporary file that only replaces the final name once its CRC-32 and size
// proved right. The record, the callbacks and the result codes: docs/unzip-library.md.
// The ZIP work itself is the portable core (unzip_core.h); this file is its Win32 side.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "install/unzip_record.h"
#include "support/file_rename.h"
#include "support/file_replace.h"
#include "unzip_core.h"

namespace {

using progress_callback = int(__stdcall*)(DWORD written, DWORD total, DWORD reserved);
using entry_callback = int(__stdcall*)(DWORD name, DWORD unpacked_size, DWORD packed_size, DWORD crc,
                                       DWORD method, DWORD dos_time, DWORD flags);

using unzip_record::command_defaults;
using unzip_record::command_extract;
using unzip_record::field_address;

// The option words at 36 to 56 as a "defaults" record carries them (44 and 56 are reserved, 0;
// 48 and 52 are reserved, 1).
constexpr struct {
    unsigned offset;
    std::uint32_t value;
} defaults[] = {{36, 1}, {40, 1}, {44, 0}, {48, 1}, {52, 1}, {56, 0}};

DWORD field(const unsigned char* record, unsigned offset) { return unzip_record::get(record, offset); }

// The announced name, kept in the library's own image: the callback takes its address as a
// 4-byte argument, and the heap of a 64-bit process may lie above 4 GiB.
char announced_name[MAX_PATH];

bool lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte); }

// Whether the path's last character (stepping by characters) is a backslash or a slash.
bool ends_in_separator(const char* path)
{
    bool separator = false;
    for (const char* p = path; *p; ++p) {
        separator = *p == '\\' || *p == '/';
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ++p;
    }
    return separator;
}

struct archive_file {
    HANDLE handle;
    DWORD position;

    static bool read(void* context, std::uint32_t offset, void* buffer, std::uint32_t count)
    {
        auto* self = static_cast<archive_file*>(context);
        if (self->position != offset) {
            LONG high = 0;  // with a high part, the low part counts as unsigned
            if (SetFilePointer(self->handle, static_cast<LONG>(offset), &high, FILE_BEGIN) ==
                    INVALID_SET_FILE_POINTER &&
                GetLastError() != NO_ERROR)
                return false;
            self->position = offset;
        }
        DWORD got = 0;
        if (!ReadFile(self->handle, buffer, count, &got, nullptr) || got != count) return false;
        self->position += count;
        return true;
    }
};

struct output_file {
    HANDLE handle;
    DWORD written;
    DWORD total;
    progress_callback progress;

    static int write(void* context, const void* data, std::uint32_t count)
    {
        auto* self = static_cast<output_file*>(context);
        DWORD done = 0;
        if (!WriteFile(self->handle, data, count, &done, nullptr)) {
            const DWORD error = GetLastError();
            return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? unzip::disk_full
                                                                                 : unzip::cannot_create;
        }
        if (done != count) return unzip::disk_full;  // a short write: no room left
        self->written += count;
        return self->progress && !self->progress(self->written, self->total, 0) ? unzip::skipped : unzip::ok;
    }
};

// The entry's name in the system's ANSI code page: as stored, or converted from UTF-8 when flag
// bit 11 says so. A name the code page cannot show is refused as unsafe (no best-fit guesses).
int ansi_name(unzip::entry_info& entry)
{
    bool ascii = true;
    for (std::uint16_t i = 0; i < entry.name_length; ++i) ascii = ascii && static_cast<unsigned char>(entry.name[i]) < 0x80;
    if (!(entry.flags & unzip::flag_utf8_name) || ascii) return unzip::ok;
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, entry.name, entry.name_length, nullptr, 0);
    if (wide_length <= 0) return unzip::unsafe_name;
    auto* wide = static_cast<WCHAR*>(std::malloc(wide_length * sizeof(WCHAR)));
    if (!wide) return unzip::no_memory;
    MultiByteToWideChar(CP_UTF8, 0, entry.name, entry.name_length, wide, wide_length);
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0, nullptr, &lossy);
    char* name = length > 0 && length <= 0xFFFF && !lossy ? static_cast<char*>(std::malloc(length + 1)) : nullptr;
    const int result = length <= 0 || length > 0xFFFF || lossy ? unzip::unsafe_name : name ? unzip::ok : unzip::no_memory;
    if (name) {
        WideCharToMultiByte(CP_ACP, 0, wide, wide_length, name, length, nullptr, nullptr);
        name[length] = '\0';
        std::free(entry.name);
        entry.name = name;
        entry.name_length = static_cast<std::uint16_t>(length);
    }
    std::free(wide);
    return result;
}

// Makes the directories of `path` from `from` on (the ones below the destination).
bool make_directories(char* path, std::size_t from)
{
    for (std::size_t i = from; path[i]; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && path[i + 1]) {
            ++i;
        } else if (path[i] == '\\') {
            path[i] = '\0';
            const DWORD attributes = CreateDirectoryA(path, nullptr) ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesA(path);
            const bool made = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
            path[i] = '\\';
            if (!made) return false;
        }
    }
    return true;
}

// Puts the checked temporary file in place of `target`, replacing it; one of the two always
// stands under the target's name.
bool put_in_place(const char* temporary, const char* target)
{
    char aside[MAX_PATH];
    return aside_name(target, aside) && replace_file(temporary, target, aside);
}

void set_entry_time(HANDLE file, std::uint32_t dos_time)
{
    FILETIME local, utc;
    if (DosDateTimeToFileTime(static_cast<WORD>(dos_time >> 16), static_cast<WORD>(dos_time), &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(file, nullptr, nullptr, &utc);
}

struct request {
    const char* archive;
    const char* destination;
    bool replace;
    bool keep_directories;
    progress_callback progress;
    entry_callback announce;
};

// Creates a new file named "dztNNNN.tmp" in the directory and opens it for writing (and
// `extra_access`), trying other numbers while a name is taken. One create, where GetTempFileName
// would create the file and it would then be opened again: under Wine every new name costs a scan
// of the directory.
HANDLE create_temporary(const char* directory, const char* separator, char* temporary, DWORD extra_access)
{
    static DWORD next_number = GetCurrentProcessId() * 7919u;
    if (std::strlen(directory) + std::strlen(separator) + 12 >= MAX_PATH) return INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        wsprintfA(temporary, "%s%sdzt%04X.tmp", directory, separator, static_cast<unsigned>(next_number++ & 0xFFFF));
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE | extra_access, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the entry into the destination: to a temporary file there, checked, then renamed.
int write_entry(const request& job, const unzip::unzip_reader& reader, unzip::entry_info& entry)
{
    if (const int result = ansi_name(entry)) return result;
    if (const int result = unzip::check_entry_name(entry.name, entry.name_length, lead_byte)) return result;
    const char* name = entry.name;
    if (!job.keep_directories)
        for (const char* p = entry.name; *p; ++p) {
            if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ++p;
            else if (*p == '\\') name = p + 1;
        }

    char target[MAX_PATH];
    const std::size_t directory_length = std::strlen(job.destination);
    const char* separator = ends_in_separator(job.destination) ? "" : "\\";
    if (directory_length + 1 + std::strlen(name) >= MAX_PATH) return unzip::cannot_create;
    std::strcpy(target, job.destination);
    std::strcat(target, separator);
    const std::size_t name_start = std::strlen(target);
    std::strcat(target, name);

    if (job.announce) {
        std::uint32_t name_field = 0;
        lstrcpynA(announced_name, name, sizeof announced_name);
        if (!unzip_record::address_field(announced_name, name_field)) return unzip::no_memory;
        if (!job.announce(name_field, entry.unpacked_size, entry.packed_size, entry.crc, entry.method, entry.dos_time,
                          entry.flags))
            return unzip::skipped;
    }
    if (!job.replace && GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES) return unzip::skipped;

    char temporary[MAX_PATH];
    const bool by_handle = can_rename_open_file();
    HANDLE file = create_temporary(job.destination, separator, temporary, by_handle ? DELETE : 0);
    if (file == INVALID_HANDLE_VALUE) return unzip::cannot_create;
    output_file output{file, 0, entry.unpacked_size, job.progress};
    int result = job.progress && !job.progress(0, entry.unpacked_size, 0) ? unzip::skipped : unzip::ok;
    if (!result) result = unzip::extract_entry(reader, entry, unzip::unzip_writer{&output, output_file::write});
    if (!result) set_entry_time(file, entry.dos_time);
    // Checked and complete: into place, through the open handle where the system allows it.
    bool placed = false;
    if (!result) {
        if (!make_directories(target, name_start)) result = unzip::cannot_create;
        else placed = by_handle && rename_open_file(file, target, true);
    }
    if (!CloseHandle(file) && !result) result = unzip::cannot_create;
    if (!result && !placed && !put_in_place(temporary, target)) result = unzip::cannot_create;
    // Once renamed, the checked file is the target's content: it stays, whatever the close says.
    if (result && !placed) DeleteFileA(temporary);
    return result;
}

int extract(const request& job)
{
    // Read while its writer may still hold it open, renamable (SETUP.EXE keeps the archive it wrote
    // for the next member). The Windows 95 family refuses FILE_SHARE_DELETE as a bad parameter.
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = CreateFileA(job.archive, GENERIC_READ, share | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        file = CreateFileA(job.archive, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return unzip::cannot_read;
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    int result = unzip::ok;
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) result = unzip::cannot_read;
    else if (high) result = unzip::unsupported;  // 4 GiB and more: zip64 ground
    if (!result) {
        archive_file archive{file, 0};
        const unzip::unzip_reader reader{&archive, size, archive_file::read};
        unzip::entry_info entry;
        result = unzip::find_only_entry(reader, entry);
        if (!result) result = write_entry(job, reader, entry);
        unzip::release_entry(entry);
    }
    CloseHandle(file);
    return result;
}

}  // namespace

extern "C" int __stdcall dunzip(void* record_pointer)
{
    auto* record = static_cast<unsigned char*>(record_pointer);
    if (!record || field(record, unzip_record::at_size) != unzip_record::size) return unzip::bad_record;
    const DWORD command = field(record, unzip_record::at_command);
    if (command == command_defaults) {
        for (const auto& option : defaults) unzip_record::put(record, option.offset, option.value);
        return unzip::ok;
    }
    if (command != command_extract) return unzip::bad_record;
    const request job{
        field_address<const char*>(field(record, unzip_record::at_archive)),
        field_address<const char*>(field(record, unzip_record::at_destination)),
        field(record, unzip_record::at_replace) != 0,
        field(record, unzip_record::at_keep_directories) != 0,
        field_address<progress_callback>(field(record, unzip_record::at_progress)),
        field_address<entry_callback>(field(record, unzip_record::at_entry)),
    };
    if (!job.archive || !job.destination || !*job.archive || !*job.destination) return unzip::bad_record;
    return extract(job);
}
