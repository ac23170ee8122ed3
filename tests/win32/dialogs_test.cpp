// The modeless-dialog table, the pump, the modal runners and the three message boxes, driven
// from a second thread as a user would answer them.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resource_ids.h"
#include "support/run_state.h"
#include "window_answerer.h"

namespace {

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { setup.app_instance = GetModuleHandleA(nullptr); }
};

TEST_F(Dialogs, ModelessTableHoldsFourAndReportsMisuse)
{
    HWND first_search = open_dialog(DLG_SEARCH, silent_dialog_proc);
    HWND second_search = open_dialog(DLG_SEARCH, silent_dialog_proc);  // the same template twice
    HWND confirm = open_dialog(DLG_CONFIRM_EXIT, silent_dialog_proc);
    HWND updated = open_dialog(DLG_UPDATED, silent_dialog_proc);
    ASSERT_TRUE(first_search && second_search && confirm && updated);

    auto fifth = answer_next_window({click(IDOK)});
    EXPECT_EQ(open_dialog(DLG_INSTALLED, silent_dialog_proc), nullptr);
    const answered_window box = fifth.get();
    EXPECT_EQ(box.caption, "Setup");
    EXPECT_TRUE(box.has_text("Too many simultaneous dialogs"));
    for (HWND window : {first_search, second_search, confirm, updated}) EXPECT_TRUE(IsWindow(window));

    // Closing an id open twice closes the copy in the lower slot; the slot is then reused.
    EXPECT_EQ(close_dialog(DLG_SEARCH), 1);
    EXPECT_FALSE(IsWindow(first_search));
    EXPECT_TRUE(IsWindow(second_search));
    HWND reused = open_dialog(DLG_SETUP_STOPPED, silent_dialog_proc);
    EXPECT_NE(reused, nullptr);

    EXPECT_EQ(close_dialog(DLG_SEARCH), 1);
    EXPECT_FALSE(IsWindow(second_search));
    auto not_open = answer_next_window({click(IDOK)});
    EXPECT_EQ(close_dialog(DLG_SEARCH), 0);
    EXPECT_TRUE(not_open.get().has_text("No such dialog open"));

    for (unsigned id : {DLG_CONFIRM_EXIT, DLG_UPDATED, DLG_SETUP_STOPPED}) EXPECT_EQ(close_dialog(id), 1);
}

TEST_F(Dialogs, ModelessFailuresLeaveTheSlotFree)
{
    auto no_procedure = answer_next_window({click(IDOK)});
    EXPECT_EQ(open_dialog(DLG_UPDATED, nullptr), nullptr);
    EXPECT_TRUE(no_procedure.get().has_text("Failed MPI for dialog 213"));

    auto no_template = answer_next_window({click(IDOK)});
    EXPECT_EQ(open_dialog(299, silent_dialog_proc), nullptr);
    EXPECT_TRUE(no_template.get().has_text("Failed to create dialog 299"));

    // Both failures left every slot free: four dialogs still fit.
    HWND windows[4];
    for (HWND& window : windows) window = open_dialog(DLG_UPDATED, silent_dialog_proc);
    for (HWND window : windows) EXPECT_NE(window, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(close_dialog(DLG_UPDATED), 1);
}

constexpr UINT before_quit = WM_APP + 1;
constexpr UINT after_quit = WM_APP + 2;
UINT last_seen;

INT_PTR CALLBACK recording_proc(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == before_quit || message == after_quit) last_seen = message;
    return message == WM_INITDIALOG;
}

TEST_F(Dialogs, PumpDispatchesAndConsumesQuit)
{
    HWND dialog = open_dialog(DLG_SEARCH, recording_proc);
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, before_quit, 0, 0);
    PostQuitMessage(0);
    pump_messages();
    EXPECT_EQ(last_seen, before_quit);
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT was not consumed";

    // After a consumed quit the pump goes on serving the dialogs.
    PostMessageA(dialog, after_quit, 0, 0);
    pump_messages();
    EXPECT_EQ(last_seen, after_quit);
    close_dialog(DLG_SEARCH);
}

TEST_F(Dialogs, ModalRunnerButtonsEscapeAndCloseBox)
{
    auto welcome = answer_next_window({click(BTN_REVIEW)});
    EXPECT_EQ(run_dialog(DLG_WELCOME, "Welcome to the update."), BTN_REVIEW);
    EXPECT_EQ(welcome.get().text_of(CTL_TEXT), "Welcome to the update.");

    auto untouched = answer_next_window({click(BTN_EXIT)});
    EXPECT_EQ(run_dialog(DLG_WELCOME, nullptr), BTN_EXIT);
    EXPECT_EQ(untouched.get().text_of(CTL_TEXT), "");  // the template's own (empty) text

    // Esc does nothing; the close box answers 406.
    auto keys = answer_next_window({key(VK_ESCAPE), close_box()});
    EXPECT_EQ(run_dialog(DLG_CONFIRM_EXIT, nullptr), BTN_CANCEL);
    EXPECT_TRUE(keys.get().found);

    EXPECT_EQ(run_dialog(299, "no such template"), -1);
}

TEST_F(Dialogs, PathFieldReturnedOnlyOnOk)
{
    char path[path_capacity] = "C:\\QEL30";
    auto restore = answer_next_window({click(BTN_RESTORE)}, 0, CTL_PATH, "d:\\other");
    EXPECT_EQ(run_path_dialog(DLG_REVIEW, path, nullptr), BTN_RESTORE);
    EXPECT_EQ(restore.get().text_of(CTL_PATH), "C:\\QEL30");
    EXPECT_STREQ(path, "C:\\QEL30");

    auto closed = answer_next_window({close_box()}, 0, CTL_PATH, "d:\\other");
    EXPECT_EQ(run_path_dialog(DLG_NOT_FOUND, path, "Not found."), BTN_CANCEL);
    EXPECT_EQ(closed.get().text_of(CTL_TEXT), "Not found.");
    EXPECT_STREQ(path, "C:\\QEL30");

    auto accepted = answer_next_window({click(BTN_OK)}, 0, CTL_PATH, "d:\\qel\\new dir");
    EXPECT_EQ(run_path_dialog(DLG_REVIEW, path, nullptr), BTN_OK);
    EXPECT_STREQ(path, "D:\\QEL\\NEW DIR");  // the field shows and returns upper case
    accepted.get();

    const std::string long_path = "C:\\" + std::string(300, 'A');
    auto cut = answer_next_window({click(BTN_OK)}, 0, CTL_PATH, long_path);
    EXPECT_EQ(run_path_dialog(DLG_REVIEW, path, nullptr), BTN_OK);
    EXPECT_EQ(std::strlen(path), 255u);
    cut.get();
}

TEST_F(Dialogs, MessageBoxesFormatAndMapTheirAnswers)
{
    auto error = answer_next_window({click(IDOK)});
    EXPECT_EQ(show_error("Error #%u on drive %c: %s", 7u, 'D', "full"), IDOK);
    const answered_window box = error.get();
    EXPECT_EQ(box.caption, "Setup");
    EXPECT_TRUE(box.has_text("Error #7 on drive D: full"));

    auto retry = answer_next_window({click(IDRETRY)});
    EXPECT_EQ(ask_retry("Retry?"), 1);
    retry.get();
    auto cancel = answer_next_window({click(IDCANCEL)});
    EXPECT_EQ(ask_retry("Retry?"), 0);
    cancel.get();
    auto yes = answer_next_window({click(IDYES)});
    EXPECT_EQ(ask_yes_no("Sure?"), 1);
    yes.get();
    auto no = answer_next_window({click(IDNO)});
    EXPECT_EQ(ask_yes_no("Sure?"), 0);
    no.get();

    EXPECT_EQ(show_error(nullptr), 0);  // nothing to format: nothing shown
}

}  // namespace
