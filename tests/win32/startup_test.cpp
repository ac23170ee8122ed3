// Starting another program (the 16-bit setup, the low-space program): the form CreateProcess is
// given, recorded in place of the call.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/startup.h"

namespace {

struct recorded_call {
    bool made = false;
    bool application_named = false;
    std::string command_line;
};
recorded_call recorded;

BOOL WINAPI record_create_process(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                                  LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                                  LPPROCESS_INFORMATION)
{
    recorded.made = true;
    recorded.application_named = application != nullptr;
    recorded.command_line = command_line ? command_line : "";
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

// A 16-bit program is started by its command line alone, with no application name; the path is
// quoted there, so a blank in it does not end the program's name.
TEST(StartProgram, AQuotedPathAsTheCommandLineAndNoApplicationName)
{
    create_process = record_create_process;
    EXPECT_EQ(start_program("D:\\QEL 30\\QEL31\\SETUP16.EXE", SW_SHOWNORMAL), nullptr) << "the call failed";
    create_process = CreateProcessA;
    ASSERT_TRUE(recorded.made);
    EXPECT_FALSE(recorded.application_named);
    EXPECT_EQ(recorded.command_line, "\"D:\\QEL 30\\QEL31\\SETUP16.EXE\"");
}

}  // namespace
