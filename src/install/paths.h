// Path and file helpers. Paths are ANSI texts of at most 259 characters; every scan steps by
// characters, so a double-byte character whose second byte is a backslash is never split.
#pragma once

#include <cstdint>

// Joins the non-empty parts with single backslashes, dropping a trailing backslash; the list
// ends with a null. With a null output the result is a new memory block the caller frees.
char* join_path(char* out, ...);

void strip_trailing_backslash(char* text);

// The path cut at its last backslash (the backslash dropped); empty for a bare name.
int path_directory(char* out, const char* path);

// A file or directory of that name exists (tested on the OEM form of the name).
int path_exists(const char* path);

// Whether drive `drive` (0 is A:) can take `bytes` more: the clusters they need, counted as
// ((bytes + sector) / sector + cluster_sectors) / cluster_sectors, must be strictly fewer than the
// free clusters (bytes / 8192 when the drive reports no geometry). A failed query does not fit.
int drive_has_room(int drive, std::uint32_t bytes);
