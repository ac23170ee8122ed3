// Path and file helpers. Paths are ANSI texts of at most 259 characters; every scan steps by
// characters, so a double-byte character whose second byte is a backslash is never split.
// Names handed to the directory, existence, rename and change-directory calls are converted to
// the OEM set first when the file calls use it; the caller's text is never changed.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/path_text.h"

// Path scans step by the system code page's characters from here on.
void use_system_code_page();

// Joins the non-empty parts with single backslashes, dropping a trailing backslash; the list
// ends with a null. With a null output the result is a new memory block the caller frees.
char* join_path(char* out, ...);

// target_dir, a backslash and `relative` (target_dir alone for an empty relative path).
char* target_path(char* out, const char* relative);

// Creates every directory on the path: all components when it ends in a backslash, else all and
// the last one too (so DIR\*.* creates DIR and fails harmlessly on the last step). Failures on
// the way are no error. 1 when the last creation succeeded.
int make_directory_path(const char* path);

// The file opens for reading.
int file_can_open(const char* path);

// A file or directory of that name exists.
int path_exists(const char* path);

// Moves a file or directory to a new name that must not exist yet. 1 done.
int rename_path(const char* from, const char* to);

// The last-write time (UTC, as the directory lists it) of the first match of `path` (wildcards
// allowed) as a DOS date-time, date in the high half: later moments compare larger. 0 when
// nothing matches.
std::uint32_t file_dos_time(const char* path);

// The size of a file that opens unshared for reading; 0 when it is missing or held open.
std::uint32_t file_size_of(const char* path);

// The size of a file that is there, whether or not another program holds it open; false for a
// missing file, a directory, a file of 4 GiB or more, or a name with wildcards. Takes
// GetFileAttributesExA where kernel32 has it, else size_of_listed_file.
bool size_of_present_file(const char* path, std::uint32_t& size);

// The same from the file's directory entry (FindFirstFile), as on the first Windows 95 release.
bool size_of_listed_file(const char* path, std::uint32_t& size);

// Whether drive `drive` (0 is A:) can take `bytes` more: the clusters they need, counted as
// ((bytes + sector) / sector + cluster_sectors) / cluster_sectors, must be strictly fewer than the
// free clusters (bytes / 8192 when the drive reports no geometry). A failed query does not fit.
int drive_has_room(int drive, std::uint32_t bytes);

// GetDriveType of the drive's root.
unsigned drive_type_of(int drive);

// Makes the drive of that letter (either case) current: 0 done, -1 failed.
int change_drive(char letter);

// Changes the current directory, first to the path's drive when it names one. 1 done.
int change_directory(const char* path);

// Writes `count` bytes at the file's position. A short write is taken back and, after the 34050
// box, written again whole from the same place; on Cancel install_cancelled (and, when the
// package names a low-space program, offer_low_space_program) is set and 0 returned.
int write_with_retry(int file, const void* buffer, std::uint16_t count);

// The 34050 box: true for Retry.
bool ask_more_disk_space();

// The system's answer for a write that found the disk full.
inline bool disk_full_error(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// Loads one of our libraries from the file it names, made a full path first, so that the system
// never searches for it: a library of the same name in the program's folder, the current folder
// or on the path would run instead. Null for a bare file name (no folder to take it from).
HMODULE load_library_from(const char* path);
