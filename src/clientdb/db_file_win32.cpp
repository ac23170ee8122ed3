// The client database's file services in SETUP.EXE: the 16-bit-compatible file calls on integer
// handles, the drive's free space, the retry boxes 34400 and 34050, and the setup log.
#include <windows.h>

#include "clientdb/db_file.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "ui/dialogs.h"

namespace {

HANDLE system_handle(db_file file) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)); }

db_file open_file(const char* path, int writable)
{
    const HFILE file = _lopen(path, writable ? OF_READWRITE : OF_READ);
    return file == HFILE_ERROR ? no_db_file : file;
}

db_file duplicate_file(db_file file)
{
    HANDLE copy = nullptr;
    if (file == no_db_file ||
        !DuplicateHandle(GetCurrentProcess(), system_handle(file), GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return no_db_file;
    return static_cast<db_file>(reinterpret_cast<INT_PTR>(copy));
}

void close_file(db_file file)
{
    if (file != no_db_file) _lclose(file);
}

int seek_file(db_file file, std::uint32_t offset)
{
    return file != no_db_file && _llseek(file, static_cast<LONG>(offset), FILE_BEGIN) != HFILE_ERROR;
}

int seek_file_end(db_file file, std::uint32_t* end)
{
    const LONG found = file == no_db_file ? HFILE_ERROR : _llseek(file, 0, FILE_END);
    if (found == HFILE_ERROR) return 0;
    *end = static_cast<std::uint32_t>(found);
    return 1;
}

std::uint32_t read_file(db_file file, void* buffer, std::uint32_t count)
{
    if (file == no_db_file) return 0;
    const UINT got = _lread(file, buffer, count);
    return got == static_cast<UINT>(HFILE_ERROR) ? 0 : got;
}

std::uint32_t write_file(db_file file, const void* data, std::uint32_t count)
{
    if (file == no_db_file) return 0;
    const UINT put = _lwrite(file, static_cast<LPCCH>(data), count);
    return put == static_cast<UINT>(HFILE_ERROR) ? 0 : put;
}

int set_file_length(db_file file, std::uint32_t length)
{
    return seek_file(file, length) && SetEndOfFile(system_handle(file));
}

int flush_file(db_file file) { return file != no_db_file && FlushFileBuffers(system_handle(file)); }

void remove_file(const char* path) { DeleteFileA(path); }

void list_directory(const char* directory, int (*visit)(void*, const char*), void* context)
{
    char pattern[path_capacity];
    join_path(pattern, directory, "*.*", nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!visit(context, found.cFileName)) break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int has_room(const char*, char drive_letter, std::uint32_t bytes)
{
    return drive_has_room(drive_letter - 'A', bytes);
}

int ask_disk_full(char drive_letter) { return ask_retry(resource_text(1, STR_DB_DISK_FULL), drive_letter); }

void log_text(const char* line) { log_line("%s", line); }

}  // namespace

const db_host db_platform_host = {
    .open = open_file,
    .duplicate = duplicate_file,
    .close = close_file,
    .seek = seek_file,
    .seek_end = seek_file_end,
    .read = read_file,
    .write = write_file,
    .set_length = set_file_length,
    .flush = flush_file,
    .remove = remove_file,
    .list_directory = list_directory,
    .has_room = has_room,
    .ask_disk_full = ask_disk_full,
    .ask_more_disk_space = [] { return ask_more_disk_space() ? 1 : 0; },
    .log = log_text,
    .gave_up_on_disk_space = give_up_on_disk_space,
    .stop_install = stop_install,
};
