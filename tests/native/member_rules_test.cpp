// Which members the package's rename list preserves: patterns without a rule, compared by
// directory, 8-byte base name and extension, without regard to case, "*" matching any part.
#include "install/member_rules.h"

#include <gtest/gtest.h>

#include <cstring>

#include "package/package_format.h"
#include "support/run_state.h"

namespace {

class MemberRules : public ::testing::Test {
protected:
    void SetUp() override { setup = initial_run_state(); }
    void TearDown() override
    {
        package_reserved reserved{};
        release_package_fields(setup, reserved);
    }
};

TEST_F(MemberRules, PatternsWithoutARulePreserveByDirectoryBaseNameAndExtension)
{
    append_pair(setup.rename_list, "tool\\longfilename1.txt", "");
    append_pair(setup.rename_list, "DATA\\*.INI", "");
    append_pair(setup.rename_list, "keep.*", "");
    append_pair(setup.rename_list, "renamed\\*.*", "*.BAK");  // a rule: renamed, not preserved

    EXPECT_TRUE(is_preserved("TOOL\\LONGFILE.TXT")) << "the base name counts to 8 bytes";
    EXPECT_TRUE(is_preserved("tool\\longfilename2.txt"));
    EXPECT_FALSE(is_preserved("tool\\longfile.doc"));
    EXPECT_FALSE(is_preserved("longfilename1.txt")) << "another directory";
    EXPECT_TRUE(is_preserved("data\\qel.ini"));
    EXPECT_FALSE(is_preserved("data\\sub\\qel.ini")) << "the directory part must be equal";
    EXPECT_TRUE(is_preserved("KEEP.DLL"));
    EXPECT_TRUE(is_preserved("keep")) << "no extension: the pattern's * matches it";
    EXPECT_FALSE(is_preserved("renamed\\a.txt"));
    EXPECT_FALSE(is_preserved("other.txt"));
}

TEST_F(MemberRules, AnEmptyListPreservesNothing) { EXPECT_FALSE(is_preserved("readme.txt")); }

}  // namespace

TEST_F(MemberRules, PlacesFollowTheMembersFirstFolder)
{
    std::strcpy(setup.target_dir, "C:\\QEL");
    member_place place{};

    find_place("system\\qelhlp.dll", place);
    EXPECT_EQ(place.rule, install_rule::system);
    EXPECT_STREQ(place.directory, "C:\\QEL");
    EXPECT_STREQ(place.final_path, "C:\\QEL\\qelhlp.dll");
    EXPECT_TRUE(place.upper_case_final);
    EXPECT_STREQ(place.real_path, "");

    find_place("System\\a_name_long_enough_to_pass_thirty.dll", place);
    EXPECT_EQ(place.rule, install_rule::system);
    EXPECT_FALSE(place.upper_case_final) << "past 30 characters the name keeps its spelling";

    find_place("if_newer\\data\\map.dat", place);
    EXPECT_EQ(place.rule, install_rule::if_newer);
    EXPECT_STREQ(place.directory, "C:\\QEL\\if_newer");
    EXPECT_STREQ(place.final_path, "C:\\QEL\\if_newer\\map.dat");
    EXPECT_STREQ(place.real_path, "C:\\QEL\\data\\map.dat");
    EXPECT_TRUE(place.upper_case_final);

    find_place("system\\sub\\x.dll", place);
    EXPECT_EQ(place.rule, install_rule::plain) << "only members right in SYSTEM go to the folder itself";
    EXPECT_STREQ(place.directory, "C:\\QEL\\system\\sub");
    EXPECT_STREQ(place.final_path, "C:\\QEL\\system\\sub\\x.dll");
    EXPECT_FALSE(place.upper_case_final);
}
