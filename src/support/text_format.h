// The program's own text formatter and the escaping of log lines. Portable (no windows.h):
// SETUP.EXE formats every message with it, and the native build tests and fuzzes the same code.
#pragma once
#include <cstdarg>
#include <cstddef>

// Expands a format with the conversions of the Windows formatter wvsprintfA: %s %c %d %i %u %x %X,
// the size prefixes h and l (%lu %ld %lx %li ...), flags '-' '0' '#', a decimal width and a precision
// (.N: for %s the most characters taken, for numbers the fewest digits); "%%" gives '%'. Beyond that
// formatter it knows the prefix ll for 64-bit numbers (%llu %lld %llx ...), so that free disk space
// above 4 GiB is logged in full. A conversion letter it does not know is copied as it stands (as
// the Windows formatter does); %s with a null pointer gives "(null)". Never writes more than
// capacity bytes: at most capacity - 1 characters and a NUL, cutting longer text. Returns, as
// snprintf does, the length of the whole text, written or not: capacity or more means that it
// was cut. -1 only for a null format or a capacity of 0.
//
// The details, as this formatter settles them:
//  - A conversion is '%', any number of flags from "-0#", decimal width digits, optionally '.' and
//    decimal precision digits ('.' alone means 0), at most one size prefix 'h', 'l' or 'll', and a
//    letter. '*' is no width: it is a letter like any other one the formatter does not know.
//  - An unknown letter is copied alone: the '%', flags, width, precision and size before it are
//    dropped and no argument is taken ("%%" -> "%", "%5q" -> "q", "%*d" -> "*d", "%lhd" -> "hd").
//    A format ending inside a conversion ("50%", "%-5") ends there with nothing more written.
//  - Integers are 32-bit as on Win32. %d %i read an int, %u %x %X an unsigned int. With 'l' they read
//    a long / unsigned long (what the Win32 caller passes) and print it as the 32-bit value it has on
//    Win32: on the native 64-bit build the value is cast to int32_t / uint32_t; the program only ever
//    passes 32-bit values. With 'll' they read a long long / unsigned long long and print all its
//    64 bits. With 'h' they read an int and print it as a 16-bit short / unsigned short.
//  - Numbers: precision is the fewest digits, padded with leading zeros; a zero with precision 0
//    prints no digits. '#' puts 0x / 0X before a non-zero %x / %X and does nothing elsewhere.
//    '0' pads to the width with zeros after the sign and the 0x prefix; it is ignored when '-' or
//    a precision is given. There is no '+' or ' ' flag (each is an unknown letter).
//  - %c reads an int and prints its low byte; a NUL character is skipped (Windows would write a NUL
//    that ends the text), so it counts as empty text that the width still pads.
//  - %s reads a const char*; precision bounds the characters read, so the text need not be
//    NUL-terminated within them. 'h', 'l' and 'll' are accepted on %s and %c and change nothing: only
//    narrow text is supported. Strings and characters are padded with blanks, never zeros.
//  - Width and precision saturate at a large value instead of overflowing; the output is cut at
//    the capacity in any case. The length returned is at most INT_MAX.
//  - `out` must hold capacity bytes; a null `out` is allowed only with capacity 0.
//
// The va_list form has a name of its own: with MinGW va_list is char*, so an overload would
// capture calls whose first argument is a char array.
int format_text_v(char* out, std::size_t capacity, const char* format, std::va_list args);
int format_text(char* out, std::size_t capacity, const char* format, ...);

// Copies at most capacity - 1 bytes of `text` (a null text is empty) and a NUL; capacity > 0.
void copy_bounded(char* out, std::size_t capacity, const char* text);

// The ASCII letter's capital; any other byte as it is.
inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Escapes one log line: line feed -> backslash n, carriage return -> backslash r, bytes 32..126 copied,
// any other byte -> backslash and its value as three decimal digits ("\009", "\233"). Writes at most
// capacity - 1 characters and a NUL; an escape is never cut in half (it is left out whole when it does
// not fit). Returns the number of characters written.
//
// Bytes are taken as unsigned (233 -> "\233"). A backslash in the text is copied as it is. Output
// stops at the first byte whose whole form does not fit: nothing after it is written, so the line
// is always a prefix of its full escaping. A capacity of 0 writes nothing and returns 0; a null
// text gives the empty line.
std::size_t escape_log_text(const char* text, char* out, std::size_t capacity);
