#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/run_state.h"

namespace {

std::vector<std::string> printed;
std::vector<std::string> existing = {"C:\\QEL30", "C:\\Program Files\\QEL30"};

bool exists(const char* path)
{
    for (const std::string& name : existing)
        if (name == path) return true;
    return false;
}

void print(const char* text) { printed.emplace_back(text); }

void parse(const char* text)
{
    setup = initial_run_state();
    printed.clear();
    parse_command_line(text, exists, print);
}

bool nothing_set()
{
    return !setup.crash_mode && !setup.quiet_finish && !setup.skip_modem && !setup.chained_run &&
           !setup.restart_windows && !setup.target_given && !setup.write_version_inf && !setup.setup_aborted &&
           !setup.package_file[0] && !setup.previous_target_dir[0] && !setup.given_target_dir[0];
}

TEST(CommandLine, EmptyMissingAndStrayTextChangeNothing)
{
    parse(nullptr);
    EXPECT_TRUE(nothing_set());
    parse("");
    EXPECT_TRUE(nothing_set());
    parse("   extra words -");
    EXPECT_TRUE(nothing_set());
    parse("-Q -Z9 /");  // unknown letters are ignored
    EXPECT_TRUE(nothing_set());
    EXPECT_TRUE(printed.empty());
}

TEST(CommandLine, LettersAnyCaseEitherIntroducerRestOfWordIgnored)
{
    parse("/c /d");
    EXPECT_TRUE(setup.crash_mode);
    EXPECT_TRUE(setup.quiet_finish);
    EXPECT_FALSE(setup.skip_modem);

    parse("extra -Crash -Mx -v /r");
    EXPECT_TRUE(setup.crash_mode);
    EXPECT_TRUE(setup.skip_modem);
    EXPECT_TRUE(setup.write_version_inf);
    EXPECT_TRUE(setup.restart_windows);
    EXPECT_FALSE(setup.quiet_finish);

    parse("\t-C");  // a tab is not a separator: the word is "\t-C"
    EXPECT_FALSE(setup.crash_mode);
}

TEST(CommandLine, TargetDirectoryGivenAndTested)
{
    parse("-T C:\\QEL30 -R");
    EXPECT_TRUE(setup.target_given);
    EXPECT_STREQ(setup.given_target_dir, "C:\\QEL30");
    EXPECT_TRUE(setup.restart_windows);
    EXPECT_FALSE(setup.setup_aborted);

    parse("-tC:\\QEL30");  // the argument may follow the letter directly
    EXPECT_STREQ(setup.given_target_dir, "C:\\QEL30");
    EXPECT_FALSE(setup.setup_aborted);

    parse("-T C:\\NOWHERE -C");
    EXPECT_TRUE(setup.setup_aborted);
    EXPECT_TRUE(setup.target_given);
    EXPECT_FALSE(setup.crash_mode);  // parsing stopped at the bad -T
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0], "The path that was provided, C:\\NOWHERE, does not exist.\n");

    parse("-C -T");
    EXPECT_TRUE(setup.crash_mode);
    EXPECT_TRUE(setup.setup_aborted);
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0], "The -T command-line option was used, but no path was provided.\n");

    parse("-T -C");  // a missing argument takes the next word, whatever it is
    EXPECT_STREQ(setup.given_target_dir, "-C");
    EXPECT_FALSE(setup.crash_mode);
    EXPECT_TRUE(setup.setup_aborted);
}

TEST(CommandLine, PreviousDiskTakesTheRestOfTheLine)
{
    parse("-R -P C:\\Program Files\\QEL30");
    EXPECT_TRUE(setup.restart_windows);
    EXPECT_TRUE(setup.chained_run);
    EXPECT_STREQ(setup.previous_target_dir, "C:\\Program Files\\QEL30");

    parse("-P C:\\QEL30 -R");
    EXPECT_STREQ(setup.previous_target_dir, "C:\\QEL30 -R");
    EXPECT_FALSE(setup.restart_windows);

    parse("-P");
    EXPECT_TRUE(setup.chained_run);
    EXPECT_STREQ(setup.previous_target_dir, "");
}

TEST(CommandLine, PackageFileAndOverlongArgumentsAreCut)
{
    parse("-X d:\\pkg\\upd.exe -M");
    EXPECT_STREQ(setup.package_file, "d:\\pkg\\upd.exe");
    EXPECT_TRUE(setup.skip_modem);

    const std::string long_word(1000, 'x');
    parse(("-X" + long_word).c_str());
    EXPECT_EQ(std::strlen(setup.package_file), static_cast<std::size_t>(path_capacity - 1));

    parse(("-P " + long_word).c_str());
    EXPECT_EQ(std::strlen(setup.previous_target_dir), static_cast<std::size_t>(path_capacity - 1));

    // A directory of 259 characters, as the previous disk hands it over, arrives whole.
    const std::string deep = "C:\\" + std::string(256, 'd');
    parse(("-P " + deep).c_str());
    EXPECT_EQ(setup.previous_target_dir, deep);

    parse(("-T " + long_word).c_str());
    EXPECT_TRUE(setup.setup_aborted);
    EXPECT_EQ(std::strlen(setup.given_target_dir), static_cast<std::size_t>(path_capacity - 1));
}

}  // namespace
