// Path and file helpers. Paths are ANSI texts of at most 259 characters; every scan steps by
// characters, so a double-byte character whose second byte is a backslash is never split.
#pragma once

// Joins the non-empty parts with single backslashes, dropping a trailing backslash; the list
// ends with a null. With a null output the result is a new memory block the caller frees.
char* join_path(char* out, ...);

void strip_trailing_backslash(char* text);

// The path cut at its last backslash (the backslash dropped); empty for a bare name.
int path_directory(char* out, const char* path);

// A file or directory of that name exists (tested on the OEM form of the name).
int path_exists(const char* path);
