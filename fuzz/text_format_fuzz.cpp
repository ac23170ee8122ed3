// Fuzzes format_text and escape_log_text.
//
// Input: byte 0 picks the format capacity, byte 1 the escape capacity, the rest (up to a NUL) is
// the source of a format and the text to escape.
//
// A random format could ask for %s of an integer, which no C varargs call survives. So the input is
// not used as the format directly: it is rewritten so that conversion number k always matches the
// type of argument k of one fixed call (int, string, long, in the `slots` order below). Flags, width,
// precision, size prefix and the letter come from the input and are kept where the slot's type
// allows; a known letter that does not fit its slot is changed to one that does (%s on an int
// becomes %d, and so on). Unknown letters take no argument and are kept as they are; '%' signs past
// the last slot become "%%". So every call is well-defined, whatever the bytes.
//
// Oracle: the same conversions, rewritten into a C printf format with the same meaning (unknown
// letters reduced to the letter alone, flags C leaves undefined dropped), go through snprintf; the
// output must be that text cut at the capacity. Where the meanings differ (a NUL from %c, widths
// past 9999) only the invariants are checked: count below capacity, NUL at the count, no overrun.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/text_format.h"

namespace {

enum class kind { integer, string, long_integer };

constexpr kind slots[] = {kind::integer, kind::string, kind::long_integer, kind::integer, kind::string,
                          kind::long_integer, kind::integer, kind::string, kind::integer};
constexpr int slot_count = sizeof slots / sizeof slots[0];

const int int_values[slot_count] = {-5, 0, 0, 0, 0, 0, INT_MIN, 0, 233};
// Longs stay within 0..INT32_MAX, where a 64-bit snprintf and the 32-bit reading agree.
const long long_values[slot_count] = {0, 0, 0L, 0, 0, 2147483647L, 0, 0, 0};
const char* const string_values[slot_count] = {nullptr, "", nullptr, nullptr, "t\xe9xt\t!", nullptr,
                                               nullptr, "a longer name, 0123456789 abcdefghij\\", nullptr};

constexpr std::size_t compared_limit = 9999;

struct rewritten {
    std::string format;     // for format_text
    std::string reference;  // for snprintf
    bool comparable = true;
};

bool is_known(char c) { return std::strchr("scdiuxX", c) != nullptr && c != '\0'; }

std::size_t digits_value(const std::string& digits)
{
    std::size_t value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<std::size_t>(c - '0');
        if (value > compared_limit) return compared_limit + 1;
    }
    return value;
}

rewritten rewrite(const std::string& source)
{
    rewritten r;
    int slot = 0;
    std::size_t i = 0;
    while (i < source.size()) {
        const char c = source[i];
        if (c != '%') {
            r.format += c;
            r.reference += c;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::string flags, width, precision;
        bool has_precision = false;
        char size = 0;
        while (j < source.size() && std::strchr("-0#", source[j]) && source[j]) flags += source[j++];
        while (j < source.size() && source[j] >= '0' && source[j] <= '9') width += source[j++];
        if (j < source.size() && source[j] == '.') {
            has_precision = true;
            ++j;
            while (j < source.size() && source[j] >= '0' && source[j] <= '9') precision += source[j++];
        }
        if (j < source.size() && (source[j] == 'h' || source[j] == 'l')) size = source[j++];

        if (j == source.size()) {  // the format ends inside a conversion: nothing more is written
            r.format += source.substr(i);
            break;
        }
        char letter = source[j];
        if (!is_known(letter)) {
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
        switch (slots[slot]) {
        case kind::string: letter = 's'; break;
        case kind::integer:
            if (letter == 's' || (letter == 'c' && (int_values[slot] & 0xFF) == 0)) letter = 'd';
            if (size == 'l') size = 0;
            break;
        case kind::long_integer:
            if (letter == 's' || letter == 'c') letter = 'd';
            size = 'l';
            break;
        }
        ++slot;

        std::string spec = width + (has_precision ? "." + precision : "");
        r.format += "%" + flags + spec + (size ? std::string(1, size) : "") + letter;

        // C gives '0' no meaning for %s and %c, and '#' none outside %x %X; 'l' on %s/%c means wide.
        std::string c_flags;
        for (char f : flags)
            if (f == '-' || (f == '0' && letter != 's' && letter != 'c') || (f == '#' && (letter == 'x' || letter == 'X')))
                c_flags += f;
        const bool c_size = size && letter != 's' && letter != 'c';
        r.reference += "%" + c_flags + spec + (c_size ? std::string(1, size) : "") + letter;
        if (digits_value(width) > compared_limit || digits_value(precision) > compared_limit) r.comparable = false;
        i = j + 1;
    }
    return r;
}

// The fixed call: argument k has the type of slot k.
template <typename F>
int call_with_slots(F f)
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
    const int written = call_with_slots([&](auto... args) {
        return format_text(out.data(), capacity, r.format.c_str(), args...);
    });
    if (capacity == 0) {
        check(written == -1, "capacity 0 must give -1");
        return;
    }
    check(written >= 0 && static_cast<std::size_t>(written) < capacity, "count out of range");
    check(out[written] == '\0', "no NUL at the count");
    check(std::strlen(out.data()) == static_cast<std::size_t>(written), "NUL inside the text");
    if (!r.comparable) return;

    const int length = call_with_slots([&](auto... args) {
        return std::snprintf(nullptr, 0, r.reference.c_str(), args...);
    });
    check(length >= 0, "reference format rejected");
    std::vector<char> expected(static_cast<std::size_t>(length) + 1);
    call_with_slots([&](auto... args) {
        return std::snprintf(expected.data(), expected.size(), r.reference.c_str(), args...);
    });
    const std::size_t kept = static_cast<std::size_t>(length) < capacity - 1 ? static_cast<std::size_t>(length) : capacity - 1;
    check(static_cast<std::size_t>(written) == kept, "count differs from the C formatter's");
    check(std::memcmp(out.data(), expected.data(), kept) == 0, "text differs from the C formatter's");
}

// The escaped form of one byte, written out independently of the code under test.
std::string reference_escape(unsigned char byte)
{
    if (byte == '\n') return "\\n";
    if (byte == '\r') return "\\r";
    if (byte >= 32 && byte <= 126) return std::string(1, static_cast<char>(byte));
    char form[8];
    std::snprintf(form, sizeof form, "\\%03u", static_cast<unsigned>(byte));
    return form;
}

void fuzz_escape(std::size_t capacity, const std::string& text)
{
    std::vector<char> out(capacity);
    const std::size_t written = escape_log_text(text.c_str(), out.data(), capacity);
    if (capacity == 0) {
        check(written == 0, "capacity 0 must write nothing");
        return;
    }
    check(written < capacity, "escape count out of range");
    check(out[written] == '\0', "no NUL at the escape count");
    for (std::size_t i = 0; i < written; ++i) {
        const unsigned char byte = static_cast<unsigned char>(out[i]);
        check(byte >= 32 && byte <= 126, "unprintable byte in an escaped line");
    }
    // Whole forms only, stopping at the first that does not fit.
    std::string expected;
    for (unsigned char byte : text) {
        const std::string form = reference_escape(byte);
        if (expected.size() + form.size() > capacity - 1) break;
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
