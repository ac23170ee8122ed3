#include "support/path_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/run_state.h"

namespace {

// 0x83 0x5C is one double-byte character of code page 932 whose trail byte is a backslash.
const char* const dbcs_name = "C:\\\x83\\\\A\x83\\";

class PathText : public ::testing::Test {
protected:
    void TearDown() override { set_lead_byte_test(nullptr); }
    char out[path_capacity] = {};
};

class PathTextCp932 : public PathText {
protected:
    void SetUp() override { set_lead_byte_test(cp932_lead_byte); }
};

TEST_F(PathText, JoinKeepsOneBackslashBetweenParts)
{
    EXPECT_STREQ(join_path_text(out, {"C:\\"}), "C:");
    EXPECT_STREQ(join_path_text(out, {"C:\\", "", "A"}), "C:\\A");
    EXPECT_STREQ(join_path_text(out, {"dir\\", "file"}), "dir\\file");
    EXPECT_STREQ(join_path_text(out, {"C:\\QEL", "\\IDB\\"}), "C:\\QEL\\\\IDB");
    EXPECT_STREQ(join_path_text(out, {"", ""}), "");
    join_path_text(out, {"C:\\QEL"});
    EXPECT_STREQ(join_path_text(out, {out, "X.DB"}), "C:\\QEL\\X.DB");
    EXPECT_STREQ(target_path_text(out, "C:\\QEL", "BIN\\A.EXE"), "C:\\QEL\\BIN\\A.EXE");
    EXPECT_STREQ(target_path_text(out, "C:\\QEL", ""), "C:\\QEL");
}

TEST_F(PathText, SplitsAtBackslashesAndDots)
{
    EXPECT_EQ(path_directory(out, "C:\\QEL\\IDB\\MAIN.IDX"), 0);
    EXPECT_STREQ(out, "C:\\QEL\\IDB");
    path_directory(out, "MAIN.IDX");
    EXPECT_STREQ(out, "");
    const char* bare = "MAIN.IDX";
    EXPECT_EQ(path_file_name(bare), bare);
    EXPECT_STREQ(path_file_name("IF_NEWER\\TOOL\\A.DLL"), "A.DLL");
    EXPECT_STREQ(first_path_component(out, "IF_NEWER\\TOOL\\A.DLL"), "IF_NEWER");
    EXPECT_STREQ(first_path_component(out, "SYSTEM"), "SYSTEM");

    EXPECT_STREQ(path_extension(out, "ARC.TAR.GZ"), "GZ");
    EXPECT_STREQ(path_extension(out, "A.B\\D"), "B\\D");
    EXPECT_STREQ(path_extension(out, "A."), "");
    std::strcpy(out, "stale");
    EXPECT_EQ(path_extension(out, "NODOT"), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(path_extension(out, "A.HTML"), nullptr);
    EXPECT_STREQ(out, "");

    EXPECT_STREQ(path_base_name(out, "C:\\DIR\\LONGFILENAME.TXT"), "LONGFILE");
    EXPECT_STREQ(path_base_name(out, "C:\\DIR\\.x"), "");
    EXPECT_STREQ(path_base_name(out, "A.B\\README"), "README");

    char text[] = "C:\\QEL\\\\";
    strip_trailing_backslash(text);
    EXPECT_STREQ(text, "C:\\QEL\\");  // only one removed
}

TEST_F(PathText, FindsCharactersAndText)
{
    const char* text = "a.b.c";
    EXPECT_EQ(find_char(text, '.'), text + 1);
    EXPECT_EQ(find_last_char(text, '.'), text + 3);
    EXPECT_EQ(find_char(text, 'x'), nullptr);
    EXPECT_EQ(find_char(static_cast<const char*>(nullptr), '.'), nullptr);
    EXPECT_EQ(find_last_char(text, '\0'), nullptr);
    EXPECT_EQ(find_text(text, "b.c"), text + 2);
    EXPECT_EQ(find_text(text, "a.b.c.d"), nullptr);
    EXPECT_EQ(find_text(text, "B"), nullptr);  // case-sensitive
    EXPECT_EQ(find_text(static_cast<const char*>(nullptr), "a"), nullptr);
}

TEST_F(PathText, ValidatesTargetPaths)
{
    EXPECT_EQ(is_valid_target_path("C:"), 0);
    EXPECT_EQ(is_valid_target_path("C:\\"), 1);
    EXPECT_EQ(is_valid_target_path("d:\\"), 1);
    EXPECT_EQ(is_valid_target_path("1:\\X"), 0);
    EXPECT_EQ(is_valid_target_path("C:/X"), 0);
    EXPECT_EQ(is_valid_target_path("C:\\A:B"), 0);
    EXPECT_EQ(is_valid_target_path("C:\\A,B"), 0);
    EXPECT_EQ(is_valid_target_path("C:\\A?"), 0);
    EXPECT_EQ(is_valid_target_path("C:\\MY DIR\\"), 1);
    EXPECT_EQ(is_valid_target_path("C:\\A.B\\C"), 1);
    EXPECT_EQ(is_valid_target_path(nullptr), 0);
}

TEST_F(PathText, PatternsMatchLongNamesAsWindowsReadsThem)
{
    EXPECT_TRUE(long_name_matches("*.TMP", "a.tmp"));
    EXPECT_FALSE(long_name_matches("*.TMP", "x.tmpl"));
    EXPECT_FALSE(long_name_matches("*.TMP", "tmp"));
    EXPECT_TRUE(long_name_matches("*.*", "README"));
    EXPECT_TRUE(long_name_matches("*.*", "a.b.c"));
    EXPECT_TRUE(long_name_matches("OLD.*", "OLD"));
    EXPECT_TRUE(long_name_matches("OLD.*", "old.dll"));
    EXPECT_FALSE(long_name_matches("OLD.*", "older.dll"));
    EXPECT_TRUE(long_name_matches("*.", "NOEXT"));
    EXPECT_FALSE(long_name_matches("*.", "has.ext"));
    EXPECT_TRUE(long_name_matches("A?C*.LOG", "abcdef.log"));
    EXPECT_FALSE(long_name_matches("A?C*.LOG", "ac.log"));
    EXPECT_TRUE(long_name_matches("*a*a*a", "aXaYa"));
    EXPECT_FALSE(long_name_matches("*a*a*a", "aXaY"));
    EXPECT_TRUE(long_name_matches("SETUP.EXE", "setup.exe"));
}

TEST_F(PathText, RoundsStrictlyAboveTheSize)
{
    EXPECT_EQ(round_up_to_unit(0, 512), 512u);
    EXPECT_EQ(round_up_to_unit(511, 512), 512u);
    EXPECT_EQ(round_up_to_unit(512, 512), 1024u);
    EXPECT_EQ(round_up_to_unit(4096, 4096), 8192u);
}

TEST_F(PathText, OverlongInputsAreCutAtTheBuffer)
{
    const std::string long_dir = "C:\\" + std::string(400, 'D');
    EXPECT_EQ(std::string(join_path_text(out, {long_dir.c_str(), "FILE"})), long_dir.substr(0, 259));
    EXPECT_EQ(std::string(join_path_text(out, {std::string(258, 'D').c_str(), "FILE", "MORE"})),
              std::string(258, 'D'));  // the backslash alone would be stripped again
    EXPECT_EQ(std::string(target_path_text(out, std::string(258, 'D').c_str(), "FILE")),
              std::string(258, 'D') + "\\");
    EXPECT_EQ(std::string(target_path_text(out, long_dir.c_str(), "")), long_dir.substr(0, 259));
    path_directory(out, (long_dir + "\\FILE").c_str());
    EXPECT_EQ(std::string(out), "C:");  // the copy is cut before the last backslash
    EXPECT_EQ(std::string(first_path_component(out, long_dir.c_str() + 3)), std::string(259, 'D'));
    EXPECT_STREQ(path_base_name(out, long_dir.c_str()), "DDDDDDDD");
    EXPECT_EQ(path_extension(out, (long_dir + ".").c_str()), out);
}

TEST_F(PathTextCp932, TrailByteBackslashDoesNotSplit)
{
    // C:\ <83 5C> \ A <83 5C>: the only separators are at offsets 2 and 5.
    EXPECT_EQ(find_char(dbcs_name + 3, '\\'), dbcs_name + 5);
    EXPECT_EQ(find_last_char(dbcs_name, '\\'), dbcs_name + 5);
    EXPECT_STREQ(path_file_name(dbcs_name), "A\x83\\");
    path_directory(out, dbcs_name);
    EXPECT_STREQ(out, "C:\\\x83\\");
    char name[] = "DIR\\\x83\\";
    strip_trailing_backslash(name);
    EXPECT_STREQ(name, "DIR\\\x83\\");
    EXPECT_STREQ(join_path_text(out, {"\x83\\", "X"}), "\x83\\\\X");
    EXPECT_EQ(find_text("\x83\\A", "\\A"), nullptr);  // the match would start on a trail byte
    EXPECT_STREQ(path_extension(out, "A.\x83\\\x83\\\x83\\"), "\x83\\\x83\\\x83\\");

    set_lead_byte_test(nullptr);  // the same bytes in a single-byte code page
    EXPECT_EQ(find_last_char(dbcs_name, '\\'), dbcs_name + 8);
}

TEST_F(PathTextCp932, BaseNameNeverSplitsADoubleByteCharacter)
{
    EXPECT_STREQ(path_base_name(out, "ABCDEFG\x83\x40.TXT"), "ABCDEFG");
    EXPECT_STREQ(path_base_name(out, "ABCDEF\x83\x40Z.TXT"), "ABCDEF\x83\x40");
    EXPECT_STREQ(path_base_name(out, "DIR\\\x83\\\x83\\\x83\\\x83\\\x83\\"), "\x83\\\x83\\\x83\\\x83\\");
}

TEST_F(PathTextCp932, LeadByteAtTheEndIsOneCharacter)
{
    char name[] = "A\\\x83";
    strip_trailing_backslash(name);
    EXPECT_STREQ(name, "A\\\x83");
    EXPECT_STREQ(path_file_name("A\\\x83"), "\x83");
    EXPECT_STREQ(path_extension(out, "A.\x83"), "\x83");
    // A double-byte character that would straddle byte 259 is left out whole.
    const std::string dir(258, 'D');
    EXPECT_EQ(std::string(join_path_text(out, {(dir + "\x83\x40").c_str()})), dir);
    EXPECT_EQ(std::string(target_path_text(out, (std::string(257, 'D')).c_str(), "\x83\x40")),
              std::string(257, 'D') + "\\");
}

}  // namespace

TEST_F(PathTextCp932, PatternsTakeDoubleByteCharactersWhole)
{
    // 0x83 0x61 and 0x83 0x41 are two characters: their trail bytes are no letters to fold.
    EXPECT_FALSE(long_name_matches("\x83\x61*", "\x83\x41.txt"));
    EXPECT_TRUE(long_name_matches("\x83\x61*", "\x83\x61.txt"));
    EXPECT_TRUE(long_name_matches("?.TXT", "\x83\x41.txt")) << "one character, two bytes";
    EXPECT_FALSE(long_name_matches("??.TXT", "\x83\x41.txt"));
}

TEST_F(PathTextCp932, UpperCaseAndTailsKeepDoubleByteCharactersWhole)
{
    // ソフト\表.txt: the trail bytes 0x74 ('t') and 0x67 ('g') are not letters here.
    char name[] = "\x83\x5C\x83\x74\x83\x67\\\x95\x5C.txt";
    ascii_upper_case(name);
    EXPECT_STREQ(name, "\x83\x5C\x83\x74\x83\x67\\\x95\x5C.TXT");
    // The last 5 bytes would start on the trail byte of 表: the tail starts after it instead.
    EXPECT_STREQ(text_tail(name, 5), ".TXT");
    EXPECT_STREQ(text_tail(name, 6), "\x95\x5C.TXT");
    EXPECT_STREQ(text_tail("ABC", 24), "ABC");
}
