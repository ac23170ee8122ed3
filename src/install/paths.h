// Path and file helpers. Paths are ANSI texts of at most 259 characters; every scan steps by
// characters, so a double-byte character whose second byte is a backslash is never split.
#pragma once

#include <cstdint>

#include "install/path_text.h"

// Path scans step by the system code page's characters from here on.
void use_system_code_page();

// Joins the non-empty parts with single backslashes, dropping a trailing backslash; the list
// ends with a null. With a null output the result is a new memory block the caller frees.
char* join_path(char* out, ...);

// A file or directory of that name exists (tested on the OEM form of the name).
int path_exists(const char* path);

// Whether drive `drive` (0 is A:) can take `bytes` more: the clusters they need, counted as
// ((bytes + sector) / sector + cluster_sectors) / cluster_sectors, must be strictly fewer than the
// free clusters (bytes / 8192 when the drive reports no geometry). A failed query does not fit.
int drive_has_room(int drive, std::uint32_t bytes);
