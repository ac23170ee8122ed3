// Which members the package's rename list preserves: patterns without a rule, compared by
// directory, 8-byte base name and extension, without regard to case, "*" matching any part.
#include "install/member_rules.h"

#include <gtest/gtest.h>

#include "app/run_state.h"
#include "package/package_format.h"

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
