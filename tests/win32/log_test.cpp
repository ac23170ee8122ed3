// The setup log through its real file calls: escaping, the end-of-run destination, the flush at
// 64000 bytes and over-long lines. The tests run in order, like the stages of one run.
#include "support/log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/run_state.h"

namespace {

const char* const log_dir = "D:\\logtest";
const char* const log_path = "D:\\logtest\\update.log";

std::string file_text(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void write_file(const char* path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        setup = initial_run_state();
        CreateDirectoryA(log_dir, nullptr);
        DeleteFileA(log_path);
        DeleteFileA(fixed_drive_log_path());
    }
};

TEST_F(Log, LinesEscapedAndWrittenToTheClientFolder)
{
    std::strcpy(setup.target_dir, log_dir);
    write_file(log_path, "an earlier run's log\r\n");
    log_line("Rename: %s -> %s", "old\tname", "new");
    log_line("%s", "two\r\nlines");
    log_line("accent \xE9 and %u%%", 100u);
    close_log();
    EXPECT_EQ(file_text(log_path), "Rename: old\\009name -> new\r\ntwo\\r\\nlines\r\naccent \\233 and 100%\r\n");
    EXPECT_EQ(fixed_drive_log_path(), std::string("c:\\update.log"));
    EXPECT_EQ(file_text("c:\\update.log"), "");
}

TEST_F(Log, FatalErrorSendsTheLogToTheFirstFixedDrive)
{
    std::strcpy(setup.target_dir, log_dir);
    setup.fatal_error = 3;
    log_line("Fatal error #%u", 3u);
    close_log();
    EXPECT_EQ(file_text("c:\\update.log"), "Fatal error #3\r\n");
    EXPECT_EQ(GetFileAttributesA(log_path), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Log, NoDestinationDropsTheLog)
{
    std::strcpy(setup.target_dir, "D:\\logtest\\missing");
    log_line("lost");
    close_log();
    EXPECT_EQ(GetFileAttributesA("D:\\logtest\\missing\\update.log"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(fixed_drive_log_path()), INVALID_FILE_ATTRIBUTES);
}

// More than 64000 bytes before the client's folder is known: the first part finds no
// destination and is lost; the rest makes a new file (an earlier run's file is not kept).
TEST_F(Log, FlushAt64000BytesLosesWhatHadNoDestination)
{
    write_file(log_path, "an earlier run's log\r\n");
    const std::string filler(98, 'x');  // 100 bytes a line with CR LF
    for (int i = 0; i < 640; ++i) log_line("%s", filler.c_str());
    std::strcpy(setup.target_dir, log_dir);
    log_line("after the flush");
    log_line("and one more");
    close_log();
    EXPECT_EQ(file_text(log_path), filler + "\r\nafter the flush\r\nand one more\r\n");
}

TEST_F(Log, LongLinesAreCutNeverOverflow)
{
    std::strcpy(setup.target_dir, log_dir);
    log_line("%s", std::string(700, 'a').c_str());
    log_line("%s", std::string(511, '\x01').c_str());
    close_log();
    const std::string expected_escapes = [] {
        std::string text;
        for (int i = 0; i < 255; ++i) text += "\\001";  // 1020 characters: a fifth escape would not fit
        return text;
    }();
    EXPECT_EQ(file_text(log_path), std::string(511, 'a') + "\r\n" + expected_escapes + "\r\n");
}

// Crash mode: a line whose reopen fails is lost, the lines before it stay. Between close_log and
// the next line nothing holds the log open, so a handle that denies writing makes the reopen fail.
TEST_F(Log, CrashModeKeepsItsLinesWhenAReopenFails)
{
    setup.crash_mode = 1;
    const char* path = fixed_drive_log_path();
    write_file(path, "an earlier run's line\r\n");
    log_line("first");
    close_log();
    HANDLE reader = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    log_line("lost");  // the log cannot be opened for writing: only this line goes
    CloseHandle(reader);
    log_line("second");
    close_log();
    EXPECT_EQ(file_text(path), "first\r\nsecond\r\n");
    DeleteFileA(path);
    log_line("after the file is gone");
    close_log();
    EXPECT_EQ(file_text(path), "after the file is gone\r\n");
    DeleteFileA(path);
}

}  // namespace
