// The formatter and the log-line escaping, run natively under AddressSanitizer and UBSan.
#include "support/text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

// Formats into a roomy buffer and returns the text, checking the count against it.
// A lone first argument is passed as const char* or an int variable, never as a literal 0:
// that would select the va_list overload.
template <typename... Args>
std::string fmt(const char* format, Args... args)
{
    char buffer[256];
    const int written = format_text(buffer, sizeof buffer, format, args...);
    EXPECT_GE(written, 0);
    EXPECT_EQ(static_cast<std::size_t>(written), std::strlen(buffer));
    return buffer;
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
    const char* none = nullptr;
    EXPECT_EQ(fmt("[%s]", "abc"), "[abc]");
    EXPECT_EQ(fmt("[%5s|%-5s]", "ab", "cd"), "[   ab|cd   ]");
    EXPECT_EQ(fmt("[%2s]", "toolong"), "[toolong]");
    EXPECT_EQ(fmt("[%.3s|%6.2s]", "abcdef", "xyz"), "[abc|    xy]");
    EXPECT_EQ(fmt("[%s]", none), "[(null)]");
    EXPECT_EQ(fmt("[%.3s]", none), "[(nu]");
    EXPECT_EQ(fmt("[%05s]", "ab"), "[   ab]");  // '0' pads numbers only
    EXPECT_EQ(fmt("%hs%ls", "a", "b"), "ab");

    // Precision bounds the read: the sanitizer would catch a look past these three bytes.
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(fmt("%.3s", static_cast<const char*>(unterminated)), "xyz");
}

TEST(FormatText, Characters)
{
    const int nul = 0;
    EXPECT_EQ(fmt("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(fmt("[%3c|%-3c]", 'a', 'b'), "[  a|b  ]");
    EXPECT_EQ(fmt("[%c]", nul), "[]");
    EXPECT_EQ(fmt("[%3c]", nul), "[   ]");
    EXPECT_EQ(fmt("%c", 0x141), "A");  // the low byte only
    EXPECT_EQ(fmt("%c", 233), std::string(1, static_cast<char>(233)));
}

TEST(FormatText, SignedNumbers)
{
    const int zero = 0;
    EXPECT_EQ(fmt("%d %i", 42, -42), "42 -42");
    EXPECT_EQ(fmt("%d", zero), "0");
    EXPECT_EQ(fmt("[%5d|%-5d]", -12, 12), "[  -12|12   ]");
    EXPECT_EQ(fmt("[%05d|%05i]", -5, 5), "[-0005|00005]");
    EXPECT_EQ(fmt("[%-05d]", -5), "[-5   ]");  // '-' beats '0'
    EXPECT_EQ(fmt("%d", INT_MIN), "-2147483648");
    EXPECT_EQ(fmt("%05d", INT_MIN), "-2147483648");
    EXPECT_EQ(fmt("%d", INT_MAX), "2147483647");
    EXPECT_EQ(fmt("[%.3d|%.3d]", 7, -7), "[007|-007]");
    EXPECT_EQ(fmt("[%.0d|%.d|%3.0d]", zero, zero, zero), "[||   ]");
    EXPECT_EQ(fmt("[%08.3d]", -7), "[    -007]");  // a precision turns '0' off
    EXPECT_EQ(fmt("%#d", 10), "10");
}

TEST(FormatText, UnsignedAndHex)
{
    const unsigned zero = 0;
    EXPECT_EQ(fmt("%u %u", 0xFFFFFFFFu, 3000000000u), "4294967295 3000000000");
    EXPECT_EQ(fmt("%x %X", 0xBEEF, 0xbeef), "beef BEEF");
    EXPECT_EQ(fmt("%#x %#X", 255, 255), "0xff 0XFF");
    EXPECT_EQ(fmt("%#x", zero), "0");
    EXPECT_EQ(fmt("[%#010x|%#-8x]", 255, 255), "[0x000000ff|0xff    ]");
    EXPECT_EQ(fmt("[%08X|%.4x]", 0xABCu, 0xAu), "[00000ABC|000a]");
    EXPECT_EQ(fmt("%x", 0xFFFFFFFFu), "ffffffff");
}

TEST(FormatText, SizePrefixes)
{
    EXPECT_EQ(fmt("%lu", 0xFFFFFFFFul), "4294967295");
    EXPECT_EQ(fmt("%ld %li", -70000L, 70000L), "-70000 70000");
    EXPECT_EQ(fmt("%lx %lX", 0xDEADBEEFul, 0xDEADBEEFul), "deadbeef DEADBEEF");
    // A 64-bit long is printed as the 32-bit value it would be on Win32.
    EXPECT_EQ(fmt("%ld", static_cast<long>(0xFFFFFFFFul)), "-1");
    EXPECT_EQ(fmt("%lu", static_cast<unsigned long>(0x1FFFFFFFFull)), "4294967295");
    EXPECT_EQ(fmt("%hd %hu %hx", 40000, 70000, 0x12345), "-25536 4464 2345");
    // Arguments after an 'l' conversion are still read in their places.
    EXPECT_EQ(fmt("%d %ld %d", 1, 2L, 3), "1 2 3");
}

TEST(FormatText, UnknownLettersAndOddFormats)
{
    EXPECT_EQ(fmt("100%%"), "100%");
    EXPECT_EQ(fmt("%q%5w%-#.3y"), "qwy");
    EXPECT_EQ(fmt("%*d%d", 7), "*d7");  // '*' takes no argument
    EXPECT_EQ(fmt("%+d|% d", 5), "+d| d");
    EXPECT_EQ(fmt("%lld", 5L), "ld");  // one size prefix only: the second 'l' is the letter
    EXPECT_EQ(fmt("50%"), "50");
    EXPECT_EQ(fmt("ab%-05"), "ab");
    EXPECT_EQ(fmt("%99999999999999999999d", 1).size(), 255u);  // saturated, then cut
}

TEST(FormatText, CapacityCuts)
{
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(format_text(buffer, 0, "abc"), -1);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(format_text(buffer, sizeof buffer, nullptr), -1);

    EXPECT_EQ(format_text(buffer, 1, "abc"), 0);
    EXPECT_STREQ(buffer, "");

    // Nothing past the capacity is touched, whatever is being cut.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(format_text(buffer, 4, "hello"), 3);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], '#');
    EXPECT_EQ(format_text(buffer, 4, "%d", 123456), 3);
    EXPECT_STREQ(buffer, "123");
    EXPECT_EQ(format_text(buffer, 4, "%-6s|", "ab"), 3);
    EXPECT_STREQ(buffer, "ab ");
    EXPECT_EQ(format_text(buffer, 4, "%#x", 0xABC), 3);
    EXPECT_STREQ(buffer, "0xa");
    EXPECT_EQ(buffer[4], '#');

    const std::string long_name(600, 'n');
    char line[513];
    line[512] = '#';
    EXPECT_EQ(format_text(line, 512, "%s", long_name.c_str()), 511);
    EXPECT_EQ(std::string(line), long_name.substr(0, 511));
    EXPECT_EQ(line[512], '#');
}

TEST(FormatText, VaListForm)
{
    char buffer[32];
    EXPECT_EQ(through_va_list(buffer, sizeof buffer, "%s=%lu/%c", "n", 7ul, 'z'), 5);
    EXPECT_STREQ(buffer, "n=7/z");
    EXPECT_EQ(through_va_list(buffer, 0, "%d", 1), -1);
}

TEST(EscapeLogText, Bytes)
{
    EXPECT_EQ(escaped("plain text \\ ~"), "plain text \\ ~");
    EXPECT_EQ(escaped("a\tb"), "a\\009b");
    EXPECT_EQ(escaped("\x01\x1f"), "\\001\\031");
    EXPECT_EQ(escaped("caf\xe9!"), "caf\\233!");
    EXPECT_EQ(escaped("\xff"), "\\255");
    EXPECT_EQ(escaped("\x7f"), "\\127");
    EXPECT_EQ(escaped("one\r\ntwo"), "one\\r\\ntwo");
    EXPECT_EQ(escaped(""), "");
    EXPECT_EQ(escaped(nullptr), "");
}

TEST(EscapeLogText, Boundaries)
{
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(escape_log_text("abc", buffer, 0), 0u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(escape_log_text("abc", buffer, 1), 0u);
    EXPECT_STREQ(buffer, "");

    // "ab" leaves room for three more: the four-character tab is left out whole,
    // and so is everything after it.
    EXPECT_EQ(escaped("ab\tc", 6), "ab");
    EXPECT_EQ(escaped("ab\tc", 7), "ab\\009");
    EXPECT_EQ(escaped("ab\tc", 8), "ab\\009c");
    EXPECT_EQ(escaped("abc\n", 5), "abc");
    EXPECT_EQ(escaped("abc\n", 6), "abc\\n");
    EXPECT_EQ(escaped("abcdef", 4), "abc");
}

TEST(EscapeLogText, LogLine)
{
    const char* old_name = "old\tname.txt";
    char line[128];
    ASSERT_GT(format_text(line, sizeof line, "Rename: %s -> %s", old_name, "new.txt"), 0);
    char shown[128];
    escape_log_text(line, shown, sizeof shown);
    EXPECT_STREQ(shown, "Rename: old\\009name.txt -> new.txt");
}
