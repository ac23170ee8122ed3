// The file and host services the client database runs on. SETUP.EXE supplies them with the
// 16-bit-compatible Win32 file calls, its disk-space query and its retry boxes
// (db_file_win32.cpp); the native build with POSIX calls (db_file_posix.cpp), where nobody is
// there to ask, so every question is answered "no". Tests put in hosts of their own.
#pragma once

#include <cstdint>

// An integer file handle, as the 16-bit-compatible calls and POSIX both give.
using db_file = int;
constexpr db_file no_db_file = -1;

#ifdef _WIN32
constexpr char db_path_separator = '\\';
#else
constexpr char db_path_separator = '/';
#endif

struct db_host {
    // Opens an existing file for reading, or for reading and writing; no_db_file on failure.
    db_file (*open)(const char* path, int writable);
    // A second handle on the same open file (same access, inheritable), or no_db_file.
    db_file (*duplicate)(db_file file);
    void (*close)(db_file file);
    // Moves to `offset` from the start; 1 done, 0 failed. The layer never asks beyond 0x7FFFFFFF.
    int (*seek)(db_file file, std::uint32_t offset);
    // Moves to the end and gives its offset; 1 done, 0 failed (also for a file of 4 GiB or more).
    int (*seek_end)(db_file file, std::uint32_t* end);
    // Reads up to `count` bytes at the current position: the number read, fewer only at the end.
    std::uint32_t (*read)(db_file file, void* buffer, std::uint32_t count);
    // Writes `count` bytes (at most 32768) at the current position: the number written.
    std::uint32_t (*write)(db_file file, const void* data, std::uint32_t count);
    // Cuts the file, or extends it, to `length` bytes; 1 done.
    int (*set_length)(db_file file, std::uint32_t length);
    // Writes made so far reach the disk before any made later; 1 done.
    int (*flush)(db_file file);
    // Deletes a file; a missing one is no error.
    void (*remove)(const char* path);
    // Calls visit(context, name) for each file of `directory` (directories are passed over) in the
    // order the system lists them, until visit returns 0.
    void (*list_directory)(const char* directory, int (*visit)(void* context, const char* name), void* context);
    // Whether the drive of `path` (its letter, upper-cased, on Win32) can take `bytes` more.
    int (*has_room)(const char* path, char drive_letter, std::uint32_t bytes);
    // The retry boxes: string 34400 (no room at the end of a database, on that drive) and string
    // 34050 (a write came up short). 1 for Retry, 0 for Cancel.
    int (*ask_disk_full)(char drive_letter);
    int (*ask_more_disk_space)();
    // One line of the setup log.
    void (*log)(const char* line);
    // The install stops: the user gave up on a full disk (Cancel in either box), or a file takes
    // no more records (its end is damaged). The database itself keeps no such state.
    void (*gave_up_on_disk_space)();
    void (*stop_install)();
};

// This build's services.
extern const db_host db_platform_host;

// Makes the layer use `host` (null: the platform's) and returns the one in use before.
const db_host* db_use_host(const db_host* host);
