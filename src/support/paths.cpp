#include "support/paths.h"

#include <windows.h>

#include <direct.h>

#include <cstdarg>
#include <cstring>

#include "resource_ids.h"
#include "support/memory.h"
#include "support/questions.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/system_functions.h"
#include "support/text_format.h"

namespace {

bool system_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

// Names are ANSI; only file calls switched to the OEM set need the OEM form, and an OEM name
// handed to an ANSI call would miss every file with an accented name.
void to_file_call_set(char* name)
{
    if (!AreFileApisANSI()) CharToOemA(name, name);
}

// A copy of `path` in the form the file calls take.
struct file_call_name {
    char text[path_capacity];
    explicit file_call_name(const char* path)
    {
        copy_bounded(text, path_capacity, path);
        to_file_call_set(text);
    }
};

void drive_root(char (&root)[4], int drive)
{
    root[0] = static_cast<char>('A' + drive);
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
}

}  // namespace

void use_system_code_page() { set_lead_byte_test(system_lead_byte); }

char* join_path(char* out, ...)
{
    char work[path_capacity] = "";
    std::va_list parts;
    va_start(parts, out);
    while (const char* part = va_arg(parts, const char*)) {
        if (!*part) continue;
        // The one character-safe join; once a part is cut, the later ones are dropped with it.
        const std::size_t whole = std::strlen(work) + (work[0] ? 1 : 0) + std::strlen(part);
        join_path_text(work, {work, part});
        if (std::strlen(work) + 1 < whole) break;
    }
    va_end(parts);
    if (!out) out = static_cast<char*>(alloc_block(static_cast<std::uint32_t>(std::strlen(work) + 1)));
    std::strcpy(out, work);
    return out;
}

char* target_path(char* out, const char* relative) { return target_path_text(out, setup.target_dir, relative); }

int make_directory_path(const char* path)
{
    char buffer[path_capacity];
    copy_bounded(buffer, path_capacity, path);
    // The drive prefix (letter, colon, backslash) is never created.
    char* rest = buffer;
    if (buffer[0] && buffer[1] == ':') rest = buffer + (buffer[2] ? 3 : 2);
    to_file_call_set(rest);
    // Most members go into a folder that is already there: one look instead of a failed
    // CreateDirectory per level (which would also answer 0).
    const DWORD attributes = GetFileAttributesA(buffer);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    int created = 0;
    for (char* scan = rest;;) {
        char* separator = find_char(scan, '\\');
        if (!separator) return CreateDirectoryA(buffer, nullptr) != 0;
        *separator = '\0';
        created = CreateDirectoryA(buffer, nullptr) != 0;
        *separator = '\\';
        if (!separator[1]) return created;
        scan = separator + 1;
    }
}

int file_can_open(const char* path)
{
    const HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return 0;
    _lclose(file);
    return 1;
}

int path_exists(const char* path)
{
    const file_call_name name(path);
    return GetFileAttributesA(name.text) != INVALID_FILE_ATTRIBUTES;
}

int rename_path(const char* from, const char* to)
{
    const file_call_name old_name(from);
    const file_call_name new_name(to);
    return MoveFileA(old_name.text, new_name.text) != 0;
}

std::uint32_t file_dos_time(const char* path)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    WORD date = 0, time = 0;
    // UTC as listed, with no turn to local time: only comparisons use it.
    if (!FileTimeToDosDateTime(&found.ftLastWriteTime, &date, &time)) return 0;
    return static_cast<std::uint32_t>(date) << 16 | time;
}

std::uint32_t file_size_of(const char* path)
{
    const HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

bool size_of_listed_file(const char* path, std::uint32_t& size)
{
    // A wildcard would let another file's entry stand in for this one.
    if (find_char(path, '*') || find_char(path, '?')) return false;
    WIN32_FIND_DATAA found;
    const HANDLE listing = FindFirstFileA(path, &found);
    if (listing == INVALID_HANDLE_VALUE) return false;
    FindClose(listing);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || found.nFileSizeHigh) return false;
    size = found.nFileSizeLow;
    return true;
}

bool size_of_present_file(const char* path, std::uint32_t& size)
{
    // One request where kernel32 has it (not the first Windows 95 release); else the listing.
    using attributes_ex = BOOL(WINAPI*)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
    static const auto attributes = loaded_system_function<attributes_ex>("kernel32.dll", "GetFileAttributesExA");
    if (!attributes) return size_of_listed_file(path, size);
    WIN32_FILE_ATTRIBUTE_DATA found;
    if (!attributes(path, GetFileExInfoStandard, &found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        found.nFileSizeHigh)
        return false;
    size = found.nFileSizeLow;
    return true;
}

int drive_has_room(int drive, std::uint32_t bytes)
{
    char root[4];
    drive_root(root, drive);
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters, &total_clusters)) return 0;
    std::uint32_t needed = bytes / 8192;
    if (bytes_per_sector && sectors_per_cluster)
        needed = ((bytes + bytes_per_sector) / bytes_per_sector + sectors_per_cluster) / sectors_per_cluster;
    return needed < free_clusters;
}

unsigned drive_type_of(int drive)
{
    char root[4];
    drive_root(root, drive);
    return GetDriveTypeA(root);
}

int change_drive(char letter)
{
    const char upper = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - 'a' + 'A' : letter);
    return _chdrive(upper - 'A' + 1) == 0 ? 0 : -1;
}

int change_directory(const char* path)
{
    if (!path) return 0;
    if (path[0] && path[1] == ':') change_drive(path[0]);
    const file_call_name name(path);
    return _chdir(name.text) == 0;
}

bool ask_more_disk_space() { return ask_retry_question(resource_text(1, STR_NEED_DISK_SPACE)) != 0; }

int write_with_retry(int file, const void* buffer, std::uint16_t count)
{
    // A write of no bytes would cut the file at its position.
    if (count == 0) return 1;
    const LONG position = _llseek(file, 0, FILE_CURRENT);
    for (;;) {
        const UINT written = _lwrite(file, static_cast<LPCCH>(buffer), count);
        if (written != static_cast<UINT>(HFILE_ERROR) && (written & 0xFFFF) == count) return 1;
        // The whole buffer again from the same place, so no partial chunk stays in front of it.
        _llseek(file, position, FILE_BEGIN);
        if (!ask_more_disk_space()) break;
    }
    give_up_on_disk_space();
    return 0;
}

HMODULE load_library_from(const char* path)
{
    if (!std::strchr(path, '\\') && !std::strchr(path, ':')) return nullptr;
    char full[path_capacity];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return nullptr;
    return LoadLibraryA(full);
}
