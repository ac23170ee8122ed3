// Taking path texts apart and putting them together, without windows.h. Paths are ANSI texts in
// the system's code page; every scan steps by characters (a lead byte and its trail byte
// together), never by bytes, so a double-byte character whose trail byte is 0x5C is never taken
// for a backslash. A lead byte at the very end of a text (its trail byte missing) counts as one
// character ending there.
//
// Every output buffer holds path_capacity (260) bytes and is never written past: longer results
// are cut after the last whole character that fits in 259 bytes. Outputs may be the same buffer
// as an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Whether a byte starts a double-byte character in the code page in use.
using lead_byte_test = bool (*)(unsigned char);

// Sets the code page's lead-byte test, once at start-up; a null test means a single-byte code
// page (no lead bytes), which is also the default.
void set_lead_byte_test(lead_byte_test test);

// The lead bytes of code page 932: 0x81 to 0x9F and 0xE0 to 0xFC.
bool cp932_lead_byte(unsigned char byte);

// First / last occurrence of the ASCII character `wanted` (below 0x80, not NUL); null when the
// text is null or has none.
const char* find_char(const char* text, char wanted);
const char* find_last_char(const char* text, char wanted);

// First character position where `pattern` starts (case-sensitive); null for null arguments or
// when the pattern does not occur.
const char* find_text(const char* text, const char* pattern);

inline char* find_char(char* text, char wanted)
{
    return const_cast<char*>(find_char(static_cast<const char*>(text), wanted));
}
inline char* find_last_char(char* text, char wanted)
{
    return const_cast<char*>(find_last_char(static_cast<const char*>(text), wanted));
}
inline char* find_text(char* text, const char* pattern)
{
    return const_cast<char*>(find_text(static_cast<const char*>(text), pattern));
}

// Removes one backslash when it is the last character.
void strip_trailing_backslash(char* text);

// The path cut at its last backslash (the backslash dropped); empty for a bare name. Returns 0.
int path_directory(char* out, const char* path);

// The text after the last backslash, or the whole path when it has none.
const char* path_file_name(const char* path);
inline char* path_file_name(char* path)
{
    return const_cast<char*>(path_file_name(static_cast<const char*>(path)));
}

// The path cut at its first backslash. Returns out.
char* first_path_component(char* out, const char* path);

// The text after the last dot anywhere in the path when it has fewer than 4 characters (out is
// returned); otherwise, or with no dot, out is emptied and null returned.
char* path_extension(char* out, const char* path);

// The file name (after the last backslash) up to its first dot, at most 8 bytes; a double-byte
// character that would not fit whole ends the copy. Returns out.
char* path_base_name(char* out, const char* path);

// Joins the non-empty parts with one backslash each, removing one trailing backslash after every
// part: {"C:\", "X"} gives C:\X and {"C:\"} alone gives C:. A part that begins with a backslash
// leaves a doubled backslash. When the result would pass 259 bytes it is cut there and the
// remaining parts are dropped. Returns out.
char* join_path_text(char* out, std::initializer_list<const char*> parts);

// target_dir, a backslash and the relative path; target_dir alone when the relative path is
// empty. Cut at 259 bytes. Returns out.
char* target_path_text(char* out, const char* target_dir, const char* relative);

// A target directory: at least 3 characters, an ASCII letter, ':' and '\', then none of
// *+=;:"?/<>, in the rest. Returns 1 when valid, 0 otherwise.
int is_valid_target_path(const char* path);

// The smallest multiple of unit strictly above size (unit > 0; 0 when unit is 0). 32-bit
// unsigned arithmetic.
std::uint32_t round_up_to_unit(std::uint32_t size, std::uint32_t unit);

// The shortest end of the text that holds at most `max_bytes` bytes and starts on a character.
const char* text_tail(const char* text, std::size_t max_bytes);

// Upper-cases the ASCII letters of single-byte characters; double-byte characters, whose trail
// bytes may fall in the letters' range, are left alone.
void ascii_upper_case(char* text);

// Whether a file's long name matches a pattern of '*' (any run of characters) and '?' (any one),
// ASCII letters without regard to case, as Windows reads the pattern: "*.*" and "NAME.*" also take
// a name without a dot, and a pattern ending in '.' takes only a name without one. The system's
// own search also matches the 8.3 short name ("X.TMPL" is "X~1.TMP" there): its matches are
// held to this one.
bool long_name_matches(const char* pattern, const char* name);
