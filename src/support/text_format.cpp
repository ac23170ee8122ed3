#include "support/text_format.h"

#include <cstring>

#include <climits>
#include <cstdint>

namespace {

// Widths and precisions stop growing here: far past any buffer, and no overflow on long digit runs.
constexpr std::size_t number_limit = 0x7FFFFFFF;

// Appends to the caller's buffer and drops whatever does not fit before the NUL, counting all
// that the whole text needs.
struct output {
    char* out;
    std::size_t room;  // characters still free, the NUL's byte not counted
    std::size_t written;
    std::size_t needed = 0;  // saturates at INT_MAX

    void count(std::size_t length) { needed = length > INT_MAX - needed ? INT_MAX : needed + length; }
    void put(char c)
    {
        count(1);
        if (room == 0) return;
        out[written++] = c;
        --room;
    }
    void repeat(char c, std::size_t count_of)
    {
        count(count_of);
        for (; count_of > 0 && room > 0; --count_of) {
            out[written++] = c;
            --room;
        }
    }
    void text(const char* begin, std::size_t length)
    {
        count(length);
        for (std::size_t i = 0; i < length && room > 0; ++i) {
            out[written++] = begin[i];
            --room;
        }
    }
};

struct conversion {
    bool left = false;
    bool zero = false;
    bool alternate = false;
    std::size_t width = 0;
    bool has_precision = false;
    std::size_t precision = 0;
    char size = 0;  // 'h', 'l', 'L' for "ll", or 0
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* read_number(const char* p, std::size_t& value)
{
    value = 0;
    for (; is_digit(*p); ++p) {
        value = value * 10 + static_cast<std::size_t>(*p - '0');
        if (value > number_limit) value = number_limit;
    }
    return p;
}

std::size_t padding(std::size_t width, std::size_t length) { return width > length ? width - length : 0; }

// Blank-padded text on the side the '-' flag chooses; used by %s and %c.
void put_padded_text(output& o, const conversion& wanted, const char* text, std::size_t length)
{
    const std::size_t pad = padding(wanted.width, length);
    if (!wanted.left) o.repeat(' ', pad);
    o.text(text, length);
    if (wanted.left) o.repeat(' ', pad);
}

void put_number(output& o, const conversion& wanted, bool negative, std::uint64_t magnitude, unsigned base,
                bool upper)
{
    const char* digits_of = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[24];  // 20 decimal digits of a 64-bit value
    std::size_t count = 0;
    for (std::uint64_t v = magnitude; v != 0; v /= base) digits[count++] = digits_of[v % base];
    if (count == 0 && !(wanted.has_precision && wanted.precision == 0)) digits[count++] = '0';

    const std::size_t zeros = wanted.has_precision && wanted.precision > count ? wanted.precision - count : 0;
    const char* prefix = negative ? "-" : (wanted.alternate && base == 16 && magnitude != 0) ? (upper ? "0X" : "0x") : "";
    std::size_t prefix_length = 0;
    while (prefix[prefix_length]) ++prefix_length;

    const std::size_t length = prefix_length + zeros + count;  // zeros <= number_limit: no overflow
    const std::size_t pad = padding(wanted.width, length);
    const bool zero_pad = wanted.zero && !wanted.left && !wanted.has_precision;

    if (!wanted.left && !zero_pad) o.repeat(' ', pad);
    o.text(prefix, prefix_length);
    if (zero_pad) o.repeat('0', pad);
    o.repeat('0', zeros);
    while (count > 0) o.put(digits[--count]);
    if (wanted.left) o.repeat(' ', pad);
}

void put_signed(output& o, const conversion& wanted, std::int64_t value)
{
    const bool negative = value < 0;
    // Through unsigned arithmetic so that the most negative value has its magnitude too.
    const std::uint64_t magnitude = negative ? 0u - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    put_number(o, wanted, negative, magnitude, 10, false);
}

std::int64_t read_signed(const conversion& wanted, std::va_list& args)
{
    if (wanted.size == 'L') return static_cast<std::int64_t>(va_arg(args, long long));
    if (wanted.size == 'l') return static_cast<std::int32_t>(va_arg(args, long));
    const int value = va_arg(args, int);
    return wanted.size == 'h' ? static_cast<std::int16_t>(value) : static_cast<std::int32_t>(value);
}

std::uint64_t read_unsigned(const conversion& wanted, std::va_list& args)
{
    if (wanted.size == 'L') return static_cast<std::uint64_t>(va_arg(args, unsigned long long));
    if (wanted.size == 'l') return static_cast<std::uint32_t>(va_arg(args, unsigned long));
    const unsigned value = va_arg(args, unsigned);
    return wanted.size == 'h' ? static_cast<std::uint16_t>(value) : static_cast<std::uint32_t>(value);
}

// Reads the text of %s, never past the precision.
void put_string(output& o, const conversion& wanted, const char* text)
{
    if (!text) text = "(null)";
    const std::size_t limit = wanted.has_precision ? wanted.precision : SIZE_MAX;
    std::size_t length = 0;
    while (length < limit && text[length]) ++length;
    put_padded_text(o, wanted, text, length);
}

int expand(char* out, std::size_t capacity, const char* format, std::va_list& args)
{
    // Keep the count within int for the return value.
    const std::size_t usable = capacity - 1 < static_cast<std::size_t>(INT_MAX) ? capacity - 1 : INT_MAX;
    output o{out, usable, 0};

    const char* p = format;
    while (*p) {
        if (*p != '%') {
            o.put(*p++);
            continue;
        }
        ++p;
        conversion wanted;
        for (;; ++p) {
            if (*p == '-') wanted.left = true;
            else if (*p == '0') wanted.zero = true;
            else if (*p == '#') wanted.alternate = true;
            else break;
        }
        p = read_number(p, wanted.width);
        if (*p == '.') {
            wanted.has_precision = true;
            p = read_number(p + 1, wanted.precision);
        }
        if (p[0] == 'l' && p[1] == 'l') {
            wanted.size = 'L';
            p += 2;
        } else if (*p == 'h' || *p == 'l') {
            wanted.size = *p++;
        }

        const char letter = *p;
        if (!letter) break;  // the format ends inside a conversion
        ++p;
        switch (letter) {
        case 'd':
        case 'i': put_signed(o, wanted, read_signed(wanted, args)); break;
        case 'u': put_number(o, wanted, false, read_unsigned(wanted, args), 10, false); break;
        case 'x': put_number(o, wanted, false, read_unsigned(wanted, args), 16, false); break;
        case 'X': put_number(o, wanted, false, read_unsigned(wanted, args), 16, true); break;
        case 'c': {
            const char c = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
            put_padded_text(o, wanted, &c, c == '\0' ? 0 : 1);
            break;
        }
        case 's': put_string(o, wanted, va_arg(args, const char*)); break;
        default: o.put(letter); break;  // unknown letters, '%' among them, stand for themselves
        }
    }
    out[o.written] = '\0';
    return static_cast<int>(o.needed);
}

// The escaped form of one byte, without its NUL; returns its length (1 to 4).
std::size_t escape_byte(unsigned char byte, char (&form)[4])
{
    if (byte == '\n' || byte == '\r') {
        form[0] = '\\';
        form[1] = byte == '\n' ? 'n' : 'r';
        return 2;
    }
    if (byte >= 32 && byte <= 126) {
        form[0] = static_cast<char>(byte);
        return 1;
    }
    form[0] = '\\';
    form[1] = static_cast<char>('0' + byte / 100);
    form[2] = static_cast<char>('0' + byte / 10 % 10);
    form[3] = static_cast<char>('0' + byte % 10);
    return 4;
}

}  // namespace

int format_text_v(char* out, std::size_t capacity, const char* format, std::va_list args)
{
    if (!format || capacity == 0) return -1;
    // A copy that can be handed on by reference: a va_list parameter may be a decayed array.
    std::va_list local;
    va_copy(local, args);
    const int written = expand(out, capacity, format, local);
    va_end(local);
    return written;
}

int format_text(char* out, std::size_t capacity, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int written = format_text_v(out, capacity, format, args);
    va_end(args);
    return written;
}

std::size_t escape_log_text(const char* text, char* out, std::size_t capacity)
{
    if (capacity == 0) return 0;
    std::size_t written = 0;
    if (text) {
        for (const char* p = text; *p; ++p) {
            char form[4];
            const std::size_t length = escape_byte(static_cast<unsigned char>(*p), form);
            if (length > capacity - 1 - written) break;  // whole or not at all
            for (std::size_t i = 0; i < length; ++i) out[written++] = form[i];
        }
    }
    out[written] = '\0';
    return written;
}

void copy_bounded(char* out, std::size_t capacity, const char* text)
{
    if (!text) text = "";
    const std::size_t length = strnlen(text, capacity - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}
