// Fuzzes format_text and escape_log_text. Input: byte 0 picks the format capacity, byte 1 the
// escape capacity, the rest (up to a NUL) is the source of a format and the text to escape.
//
// No C varargs call survives %s of an integer, so the source is rewritten: conversion k always
// matches the type of argument k of one fixed call (the `slots`), a known letter that does not fit
// its slot is changed to one that does (%s on an int becomes %d), unknown letters take no argument,
// and '%' signs past the last slot become "%%". Flags, width, precision and size stay where the
// type allows (a size, "ll" too, becomes the slot's own). Oracle: the same conversions in a C
// printf format of the same meaning (unknown letters reduced to the letter, flags C leaves
// undefined dropped) through snprintf, cut at the capacity. Where the meanings differ (a NUL from %c, widths or precisions of five digits and
// more) only the invariants hold: count below capacity, NUL at the count, no overrun.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/text_format.h"

namespace {

enum kind { integer, string, long_integer };
constexpr kind slots[] = {integer, string, long_integer, integer, string, long_integer, integer, string, integer};
constexpr int slot_count = sizeof slots / sizeof slots[0];
const int int_values[slot_count] = {-5, 0, 0, 0, 0, 0, INT_MIN, 0, 233};
// Longs stay within 0..INT32_MAX, where a 64-bit snprintf and the 32-bit reading agree.
const long long_values[slot_count] = {0, 0, 0L, 0, 0, 2147483647L, 0, 0, 0};
const char* const string_values[slot_count] = {nullptr, "", nullptr, nullptr, "t\xe9xt\t!", nullptr,
                                               nullptr, "a longer name, 0123456789 abcdefghij\\", nullptr};

struct rewritten {
    std::string format, reference;  // for format_text, for snprintf
    bool comparable = true;
};

rewritten rewrite(const std::string& source)
{
    rewritten r;
    int slot = 0;
    for (std::size_t i = 0; i < source.size();) {
        if (source[i] != '%') {
            r.format += source[i];
            r.reference += source[i++];
            continue;
        }
        std::size_t j = i + 1;
        auto take = [&](const char* set) {
            std::string taken;
            while (j < source.size() && std::strchr(set, source[j])) taken += source[j++];
            return taken;
        };
        const std::string flags = take("-0#"), width = take("0123456789");
        const bool has_precision = j < source.size() && source[j] == '.';
        const std::string precision = has_precision ? (++j, take("0123456789")) : "";
        std::string size;  // "h", "l", "ll" or none
        if (source.compare(j, 2, "ll") == 0) size = "ll", j += 2;
        else if (j < source.size() && (source[j] == 'h' || source[j] == 'l')) size = source[j++];
        if (j == source.size()) {  // the format ends inside a conversion: nothing more is written
            r.format += source.substr(i);
            break;
        }
        char letter = source[j];
        if (!std::strchr("scdiuxX", letter)) {  // unknown: the letter alone, no argument
            r.format += source.substr(i, j + 1 - i);
            r.reference += letter == '%' ? std::string("%%") : std::string(1, letter);
            i = j + 1;
            continue;
        }
        if (slot == slot_count) {  // no argument left: the '%' becomes text
            r.format += "%%";
            r.reference += "%%";
            ++i;
            continue;
        }
        if (slots[slot] == string) letter = 's';
        const bool nul_char = letter == 'c' && (int_values[slot] & 0xFF) == 0;
        if (slots[slot] == integer && (letter == 's' || nul_char)) letter = 'd';
        if (slots[slot] == long_integer && (letter == 's' || letter == 'c')) letter = 'd';
        if (slots[slot] != string) size = slots[slot] == long_integer ? "l" : size == "h" ? "h" : "";
        ++slot;

        const std::string field = width + (has_precision ? "." + precision : "");
        r.format += "%" + flags + field + size + letter;
        // C gives '0' no meaning for %s and %c, and '#' none outside %x %X; 'l' on %s/%c means wide.
        const bool text = letter == 's' || letter == 'c';
        std::string c_flags;
        for (char f : flags)
            if (f == '-' || (f == '0' && !text) || (f == '#' && (letter == 'x' || letter == 'X'))) c_flags += f;
        r.reference += "%" + c_flags + field + (text ? "" : size) + letter;
        if (width.size() > 4 || precision.size() > 4) r.comparable = false;
        i = j + 1;
    }
    return r;
}

template <typename F>
int call_with_slots(F f)  // the fixed call: argument k has the type of slot k
{
    return f(int_values[0], string_values[1], long_values[2], int_values[3], string_values[4], long_values[5],
             int_values[6], string_values[7], int_values[8]);
}

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "text_format_fuzz: %s\n", what);
        std::abort();
    }
}

void fuzz_format(std::size_t capacity, const std::string& source)
{
    const rewritten r = rewrite(source);
    std::vector<char> out(capacity);  // exactly capacity bytes: an overrun is a sanitizer error
    const char* format = r.format.c_str();
    const char* reference = r.reference.c_str();
    const int written =
        call_with_slots([&](auto... args) { return format_text(out.data(), capacity, format, args...); });
    if (capacity == 0) return check(written == -1, "capacity 0 must give -1");
    check(written >= 0, "length out of range");
    const std::size_t kept = static_cast<std::size_t>(written) < capacity ? static_cast<std::size_t>(written) : capacity - 1;
    check(std::strlen(out.data()) == kept, "NUL not at the length, or at the capacity when cut");
    if (!r.comparable) return;

    const int length = call_with_slots([&](auto... args) { return std::snprintf(nullptr, 0, reference, args...); });
    check(length >= 0, "reference format rejected");
    std::vector<char> expected(static_cast<std::size_t>(length) + 1);
    call_with_slots([&](auto... args) { return std::snprintf(expected.data(), expected.size(), reference, args...); });
    check(written == length, "length differs from the C formatter's");
    check(std::memcmp(out.data(), expected.data(), kept) == 0, "text differs from the C formatter's");
}

void fuzz_escape(std::size_t capacity, const std::string& text)
{
    std::vector<char> out(capacity);
    const std::size_t written = escape_log_text(text.c_str(), out.data(), capacity);
    if (capacity == 0) return check(written == 0, "capacity 0 must write nothing");
    check(written < capacity && out[written] == '\0', "escape count out of range or no NUL at it");
    // The escaped forms, written out independently of the code under test: whole forms only,
    // stopping at the first that does not fit. Printable bytes only.
    std::string expected;
    for (unsigned char byte : text) {
        char form[8] = {static_cast<char>(byte)};
        if (byte == '\n' || byte == '\r') std::snprintf(form, sizeof form, "\\%c", byte == '\n' ? 'n' : 'r');
        else if (byte < 32 || byte > 126) std::snprintf(form, sizeof form, "\\%03u", static_cast<unsigned>(byte));
        if (expected.size() + std::strlen(form) > capacity - 1) break;
        expected += form;
    }
    check(expected == std::string(out.data(), written), "escaped line differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    // Mostly small capacities, where cuts happen; the top values give room for everything.
    const std::size_t format_capacity = data[0] >= 250 ? 1 << 16 : data[0];
    const std::size_t escape_capacity = data[1] >= 250 ? 1 << 16 : data[1];
    const std::string source(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string text = source.substr(0, source.find('\0'));
    fuzz_format(format_capacity, text);
    fuzz_escape(escape_capacity, text);
    return 0;
}
