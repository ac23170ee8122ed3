// The formatter and the log-line escaping, run natively under AddressSanitizer and UBSan.
#include "support/text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <algorithm>
#include <climits>
#include <string>

namespace {

// Formats into a roomy buffer and returns the text, checking the count against it.
template <typename... Args>
std::string fmt(const char* format, Args... args)
{
    char buffer[256];
    const int written = format_text(buffer, sizeof buffer, format, args...);
    EXPECT_GE(written, 0);
    // The length of the whole text, which a cut makes longer than what the buffer holds.
    EXPECT_EQ(std::min(static_cast<std::size_t>(written), sizeof buffer - 1), std::strlen(buffer));
    return buffer;
}

template <typename T>
struct Case {
    const char* format;
    T value;  // the one argument
    const char* expected;
};

template <typename T>
void expect_formats(std::initializer_list<Case<T>> cases)
{
    for (const Case<T>& c : cases) EXPECT_EQ(fmt(c.format, c.value), c.expected) << c.format;
}

std::string escaped(const char* text, std::size_t capacity = 256)
{
    char buffer[256];
    const std::size_t written = escape_log_text(text, buffer, capacity);
    EXPECT_EQ(written, std::strlen(buffer));
    return buffer;
}

int through_va_list(char* out, std::size_t capacity, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const int written = format_text_v(out, capacity, format, args);
    va_end(args);
    return written;
}

}  // namespace

TEST(FormatText, Strings)
{
    expect_formats<const char*>({
        {"[%s]", "abc", "[abc]"}, {"[%5s]", "ab", "[   ab]"}, {"[%-5s]", "cd", "[cd   ]"}, {"[%2s]", "long", "[long]"},
        {"[%.3s]", "abcdef", "[abc]"}, {"[%6.2s]", "xyz", "[    xy]"}, {"[%s]", nullptr, "[(null)]"},
        {"[%.3s]", nullptr, "[(nu]"}, {"[%05s]", "ab", "[   ab]"},  // '0' pads numbers only
        {"%hs", "a", "a"}, {"%ls", "b", "b"},
    });
    // Precision bounds the read: the sanitizer would catch a look past these three bytes.
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(fmt("%.3s", static_cast<const char*>(unterminated)), "xyz");
}

TEST(FormatText, IntsAndCharacters)
{
    expect_formats<int>({
        {"%d", 42, "42"}, {"%i", -42, "-42"}, {"%d", 0, "0"}, {"[%5d]", -12, "[  -12]"}, {"[%-5d]", 12, "[12   ]"},
        {"[%05d]", -5, "[-0005]"}, {"[%05i]", 5, "[00005]"},
        {"[%-05d]", -5, "[-5   ]"},  // '-' beats '0'
        {"%d", INT_MIN, "-2147483648"}, {"%05d", INT_MIN, "-2147483648"}, {"%d", INT_MAX, "2147483647"},
        {"[%.3d]", 7, "[007]"}, {"[%.3d]", -7, "[-007]"},
        {"[%.0d]", 0, "[]"}, {"[%.d]", 0, "[]"}, {"[%3.0d]", 0, "[   ]"},
        {"[%08.3d]", -7, "[    -007]"},  // a precision turns '0' off
        {"%#d", 10, "10"},
        {"%hd", 40000, "-25536"}, {"%hu", 70000, "4464"}, {"%hx", 0x12345, "2345"},  // 16 bits
        {"%c", 'o', "o"}, {"[%3c]", 'a', "[  a]"}, {"[%-3c]", 'b', "[b  ]"}, {"[%c]", 0, "[]"}, {"[%3c]", 0, "[   ]"},
        {"%c", 0x141, "A"}, {"%c", 233, "\xe9"},  // the low byte only
        // Unknown letters stand for themselves, dropping what came before them, and take no argument.
        {"100%%", 0, "100%"}, {"%q%5w%-#.3y", 0, "qwy"}, {"%*d%d", 7, "*d7"}, {"%+d|% d", 5, "+d| d"},
        {"%lhd", 5, "hd"}, {"50%", 0, "50"}, {"ab%-05", 0, "ab"},
    });
    EXPECT_EQ(fmt("%99999999999999999999d", 1).size(), 255u);  // saturated, then cut
    char wide[8];
    EXPECT_EQ(format_text(wide, sizeof wide, "%99999999999999999999d%9999999999d", 1, 2), INT_MAX) << "at most INT_MAX";
}

TEST(FormatText, UnsignedHexAndLongs)
{
    expect_formats<unsigned>({
        {"%u", 0xFFFFFFFFu, "4294967295"}, {"%u", 3000000000u, "3000000000"}, {"%x", 0xBEEF, "beef"},
        {"%X", 0xbeef, "BEEF"}, {"%#x", 255, "0xff"}, {"%#X", 255, "0XFF"}, {"%#x", 0, "0"},
        {"[%#010x]", 255, "[0x000000ff]"}, {"[%#-8x]", 255, "[0xff    ]"}, {"[%08X]", 0xABC, "[00000ABC]"},
        {"[%.4x]", 0xA, "[000a]"}, {"%x", 0xFFFFFFFFu, "ffffffff"},
    });
    // A long is printed as the 32-bit value it has on Win32.
    expect_formats<long>({{"%ld", -70000L, "-70000"}, {"%li", 70000L, "70000"}, {"%lx", 0xDEADBEEFL, "deadbeef"},
                          {"%lX", 0xDEADBEEFL, "DEADBEEF"}, {"%lu", 0xFFFFFFFFL, "4294967295"},
                          {"%ld", static_cast<long>(0xFFFFFFFFul), "-1"},
                          {"%lu", static_cast<long>(0x1FFFFFFFFull), "4294967295"}});
    // Arguments after an 'l' conversion are still read in their places.
    EXPECT_EQ(fmt("%d %ld %d", 1, 2L, 3), "1 2 3");
}

// 64-bit values (free space past 4 GiB) in all their digits, and the argument after one still read
// in its place: on Win32 a long long takes two of the 32-bit argument slots.
TEST(FormatText, LongLongs)
{
    expect_formats<unsigned long long>({{"%llu", 0xFFFFFFFFFFFFFFFFull, "18446744073709551615"},
                                        {"%llu", 0x100000000ull, "4294967296"}, {"%llx", 0x123456789ABull, "123456789ab"},
                                        {"[%022llu]", 0xFFFFFFFFFFFFFFFFull, "[0018446744073709551615]"}});
    expect_formats<long long>({{"%lld", -5000000000ll, "-5000000000"}, {"%lli", INT64_MIN, "-9223372036854775808"}});
    EXPECT_EQ(fmt("%llu|%u|%s", 6000000000ull, 7u, "end"), "6000000000|7|end");
}

TEST(FormatText, CapacityCutsAndTheVaListForm)
{
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(format_text(buffer, 0, "abc"), -1);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(format_text(buffer, sizeof buffer, nullptr), -1);
    EXPECT_EQ(format_text(buffer, 1, "abc"), 3) << "the length the whole text needs";
    EXPECT_STREQ(buffer, "");
    // Nothing past the capacity is touched, whatever is being cut; the answer is the length the
    // whole text needs, so that a caller sees the cut.
    const struct {
        const char* format;
        int value;
        const char* expected;
        int needed;
    } cuts[] = {{"hello", 0, "hel", 5}, {"%d", 123456, "123", 6}, {"%#x", 0xABC, "0xa", 5}, {"abc", 0, "abc", 3}};
    for (const auto& c : cuts) {
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(format_text(buffer, 4, c.format, c.value), c.needed) << c.format;
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(buffer[4], '#') << c.format;
    }
    EXPECT_EQ(format_text(buffer, 4, "%-6s|", "ab"), 7);
    EXPECT_STREQ(buffer, "ab ");
    const std::string long_name(600, 'n');
    char line[513];
    line[512] = '#';
    EXPECT_EQ(format_text(line, 512, "%s", long_name.c_str()), 600);
    EXPECT_EQ(std::string(line), long_name.substr(0, 511));
    EXPECT_EQ(line[512], '#');

    EXPECT_EQ(through_va_list(buffer, sizeof buffer, "%s=%lu/%c", "n", 7ul, 'z'), 5);
    EXPECT_STREQ(buffer, "n=7/z");
    EXPECT_EQ(through_va_list(buffer, 0, "%d", 1), -1);
}

TEST(EscapeLogText, BytesAndCuts)
{
    const struct {
        const char* text;
        std::size_t capacity;
        const char* expected;
    } cases[] = {
        {"plain text \\ ~", 256, "plain text \\ ~"}, {"a\tb", 256, "a\\009b"}, {"\x01\x1f", 256, "\\001\\031"},
        {"caf\xe9!", 256, "caf\\233!"}, {"\xff", 256, "\\255"}, {"\x7f", 256, "\\127"},
        {"one\r\ntwo", 256, "one\\r\\ntwo"}, {"", 256, ""}, {nullptr, 256, ""},
        // An escape is left out whole when it does not fit, and so is everything after it.
        {"ab\tc", 6, "ab"}, {"ab\tc", 7, "ab\\009"}, {"ab\tc", 8, "ab\\009c"}, {"abc\n", 5, "abc"},
        {"abc\n", 6, "abc\\n"}, {"abcdef", 4, "abc"}, {"abc", 1, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(escaped(c.text, c.capacity), c.expected) << (c.text ? c.text : "(null)");
    char buffer[4] = {'#'};
    EXPECT_EQ(escape_log_text("abc", buffer, 0), 0u);
    EXPECT_EQ(buffer[0], '#');
}
