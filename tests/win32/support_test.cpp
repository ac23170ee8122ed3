// Memory blocks, string-table texts, and functions looked up in system libraries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "resource_ids.h"
#include "support/memory.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/system_functions.h"
#include "window_answerer.h"

// Exported by this program under a name a system library might export: a lookup in a library that
// is not loaded must not find it here.
extern "C" __declspec(dllexport) int qel_exported_by_the_program() { return 7; }

namespace {

TEST(MemoryBlocks, CountedZeroFilledAndReturned)
{
    const auto in_use = blocks_in_use;
    void* blocks[10];
    for (int i = 0; i < 10; ++i) {
        blocks[i] = alloc_block(1000 + i);
        const auto* bytes = static_cast<const unsigned char*>(blocks[i]);
        for (int b = 0; b < 1000 + i; ++b) ASSERT_EQ(bytes[b], 0) << "block " << i << " byte " << b;
        std::memset(blocks[i], 0xAB, 1000 + i);
    }
    EXPECT_EQ(blocks_in_use, in_use + 10);
    EXPECT_GE(peak_blocks, 10);
    for (void* block : blocks) EXPECT_EQ(free_block(block), 1);
    EXPECT_EQ(blocks_in_use, in_use);
    // A block freed and taken again comes back zero-filled.
    auto* again = static_cast<unsigned char*>(alloc_block(1009));
    for (int b = 0; b < 1009; ++b) ASSERT_EQ(again[b], 0);
    free_block(again);
}

TEST(StringTexts, JoinedAsStoredAndCut)
{
    const std::string first = resource_text(1, STR_FATAL_ERROR);
    const std::string second = resource_text(1, STR_FATAL_ERROR_ADVICE);
    ASSERT_EQ(first.substr(first.size() - 2), "  ");
    EXPECT_EQ(resource_text(2, STR_FATAL_ERROR, STR_FATAL_ERROR_ADVICE), first + second);
    // The buffer is shared: each text is copied before the next call.
    const std::string space = resource_text(1, STR_NOT_ENOUGH_SPACE);
    const std::string advice = resource_text(1, STR_FREE_SPACE_ADVICE);
    EXPECT_EQ(resource_text(3, STR_NOT_ENOUGH_SPACE, 60000, STR_FREE_SPACE_ADVICE), space + advice)
        << "an id without a text adds nothing";

    std::string whole = resource_text(1, 60001);
    whole += resource_text(1, 60002);
    whole += resource_text(1, 60003);
    ASSERT_GT(whole.size(), 511u);
    EXPECT_EQ(resource_text(3, 60001, 60002, 60003), whole.substr(0, 511));

    EXPECT_STREQ(short_resource_text(STR_BOX_CAPTION), "Setup");
    EXPECT_STREQ(short_resource_text(STR_CLIENT_MODULE), "ZOVE.EXE");
    EXPECT_EQ(std::string(short_resource_text(60001)), whole.substr(0, 49));
}

// Out of memory: the retry box asks again on Retry; Cancel ends the process with 34202. A block
// of nearly 4 GiB cannot be had in a 32-bit process; the 64-bit build runs this test with its
// address space limited to 4 GiB (tests/win32/CMakeLists.txt), so the same request fails there.
TEST(MemoryBlocks, ExhaustionAsksThenEnds)
{
    if (std::getenv("QEL_EXHAUST_CHILD")) {
        setup.app_instance = GetModuleHandleA(nullptr);
        alloc_block(0xFFFFFF00u);
        std::_Exit(0);  // not reached: Cancel ends the process inside alloc_block
    }
    std::string command = "\"" + own_program_path() + "\" --gtest_filter=MemoryBlocks.ExhaustionAsksThenEnds";
    SetEnvironmentVariableA("QEL_EXHAUST_CHILD", "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    SetEnvironmentVariableA("QEL_EXHAUST_CHILD", nullptr);

    const answered_window first = answer_next_window({click(IDRETRY)}, child.dwProcessId).get();
    DWORD early_exit = 0;
    const bool ended_early = !first.found && WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0 &&
                             GetExitCodeProcess(child.hProcess, &early_exit);
    EXPECT_TRUE(first.has_text(resource_text(1, STR_OUT_OF_MEMORY)))
        << (ended_early ? "the child ended with exit code " + std::to_string(early_exit) + " before any box"
                        : "no box within the wait");
    if (!first.found) {  // the later waits could only run out too
        TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        return;
    }
    const answered_window second = answer_next_window({click(IDCANCEL)}, child.dwProcessId).get();
    EXPECT_TRUE(second.has_text(resource_text(1, STR_OUT_OF_MEMORY))) << "Retry asks again";
    const answered_window last = answer_next_window({click(IDOK)}, child.dwProcessId).get();
    EXPECT_TRUE(last.has_text("Setup cannot continue.")) << "the end goes through the fatal application exit";
    // A child that never got as far stays no longer than the test: the run would wait for it.
    const bool ended = WaitForSingleObject(child.hProcess, 20000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(child.hProcess, 1);
    EXPECT_TRUE(ended);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

using plain_function = int (*)();

TEST(SystemFunctions, OnlyFromALoadedLibrary)
{
    ASSERT_NE(reinterpret_cast<void*>(GetProcAddress(nullptr, "qel_exported_by_the_program")), nullptr)
        << "a null module searches the program's own exports";
    EXPECT_EQ(loaded_system_function<plain_function>("qelnotloaded.dll", "qel_exported_by_the_program"), nullptr);
    EXPECT_NE(loaded_system_function<plain_function>("kernel32.dll", "GetTickCount"), nullptr);
    EXPECT_EQ(loaded_system_function<plain_function>("kernel32.dll", "qel_exported_by_the_program"), nullptr);
}

}  // namespace
