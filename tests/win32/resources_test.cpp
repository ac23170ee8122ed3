// The program's resources as the compiled module carries them: the texts the program formats,
// joins or uses as file names, the dialogs it opens and the controls it addresses in them, the
// resource marker and the icon.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resource_ids.h"

namespace {

HMODULE module() { return GetModuleHandleA(nullptr); }

std::string load_string(UINT id) {
  char buffer[1024];
  const int n = LoadStringA(module(), id, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

std::vector<std::uint8_t> resource_bytes(WORD id, WORD type) {
  HRSRC found = FindResourceA(module(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
  const auto* data = found ? static_cast<const std::uint8_t*>(LockResource(LoadResource(module(), found))) : nullptr;
  return data ? std::vector<std::uint8_t>(data, data + SizeofResource(module(), found)) : std::vector<std::uint8_t>{};
}

// Texts whose every byte counts: they are joined as stored (trailing blanks and line breaks
// separate them), formatted (%u %lu %c) or used as file names and paths.
TEST(StringTable, FormattedJoinedAndFileNameTextsAreExact) {
  const std::pair<UINT, const char*> texts[] = {
      {STR_FATAL_ERROR,
       "An error (#%u) has occurred, and Setup is unable to continue.\n\nThis problem could be caused "
       "by a corrupted copy of the Setup program or by a bad disk.  "},
      {STR_FATAL_ERROR_ADVICE,
       "It might be helpful to reset your system and try again.  If the problem persists, please contact "
       "Quorhelp for assistance."},
      {STR_NOT_ENOUGH_SPACE,
       "There is not enough disk space to update Qelmora.  At least %lu free bytes are required for "
       "this update.\n\n"},
      {STR_FREE_SPACE_ADVICE,
       "To make more disk space available, switch to the Windows Explorer to delete any unnecessary files "
       "on your hard disk.  Then, return to Setup and select 'Try Again'.\n\n"},
      {STR_CANCEL_EXITS, "Selecting 'Cancel' will exit Setup."},
      {STR_NOT_FIRST_DISK, "This is not the first disk of the setup program.\nPlease insert Disk 1 and run SETUP.EXE"},
      {STR_DB_DISK_FULL,
       "There is not enough disk space to continue!\n\nPlease delete one or more files from drive %c: "
       "and then select Retry to continue."},
      {STR_SETUP16_PATH, "QEL31\\SETUP16.EXE"},
      {STR_CLIENT_MODULE, "ZOVE.EXE"},
      {STR_BOX_CAPTION, "Setup"},
  };
  for (const auto& [id, text] : texts) EXPECT_EQ(load_string(id), text) << "string " << id;
}

TEST(StringTable, EveryUsedIdHasATextAndShortTextsFitTheirBuffer) {
  for (UINT id : {STR_CLIENT_RUNNING, STR_CONFIRM_CANCEL, STR_GAME_PROGRAM, STR_NEEDS_WIN95, STR_NEEDS_MSIE,
                  STR_NEED_DISK_SPACE, STR_GAME_PIF, STR_OUT_OF_MEMORY, STR_CANNOT_CONTINUE, STR_TOO_MANY_DIALOGS,
                  STR_NO_DIALOG_PROC, STR_DIALOG_FAILED, STR_NO_SUCH_DIALOG, STR_OLE_TOO_OLD, STR_PRODUCT_CAPTION,
                  STR_INVALID_DIRECTORY, STR_DRIVE_TOO_FULL, STR_NEWER_QEL_REGISTERED}) {
    const std::string text = load_string(id);
    EXPECT_FALSE(text.empty()) << "string " << id;
    EXPECT_EQ(text.find("\\n"), std::string::npos) << "unconverted escape in " << id;
  }
  // short_resource_text holds 49 characters and a NUL.
  for (UINT id : {STR_BOX_CAPTION, STR_PRODUCT_CAPTION, STR_CLIENT_MODULE, STR_GAME_PROGRAM, STR_GAME_PIF})
    EXPECT_LE(load_string(id).size(), 49u) << "string " << id;
}

// Every dialog the program opens, its buttons (the ids the program acts on) and the other
// controls it addresses, by class.
struct DialogCase {
  WORD id;
  std::set<WORD> buttons;
  std::vector<std::pair<WORD, const char*>> controls;
};

const DialogCase dialogs[] = {
    {DLG_UPDATE_PROGRESS, {}, {{CTL_GAUGE, GAUGE_CLASS}, {CTL_TEXT, "Static"}}},
    {DLG_WELCOME, {BTN_UPDATE, BTN_REVIEW, BTN_EXIT}, {{CTL_TEXT, "Static"}}},
    {DLG_SEARCH, {BTN_EXIT}, {{CTL_PATH, "Static"}}},
    {DLG_CONFIRM_EXIT, {BTN_RESUME, BTN_EXIT}, {}},
    {DLG_REVIEW, {BTN_OK, BTN_RESTORE, BTN_CANCEL}, {{CTL_PATH, "Edit"}}},
    {DLG_DB_PROGRESS, {}, {{CTL_GAUGE, GAUGE_CLASS}}},
    {DLG_SETUP_STOPPED, {BTN_OK}, {}},
    {DLG_UPDATED, {BTN_OK}, {}},
    {DLG_NOT_FOUND, {BTN_OK, BTN_CANCEL}, {{CTL_PATH, "Edit"}, {CTL_TEXT, "Static"}}},
    {DLG_RESTART, {BTN_OK, BTN_CANCEL}, {}},
    {DLG_NEXT_DISK, {BTN_START, BTN_EXIT}, {}},
    {DLG_INSTALL_PROGRESS, {BTN_CANCEL}, {{CTL_GAUGE, GAUGE_CLASS}, {CTL_TEXT, "Static"}}},
    {DLG_INSTALLED, {BTN_OK}, {}},
    {DLG_NOT_FINISHED, {BTN_OK}, {}},
    {DLG_MERGE_PROGRESS_A, {}, {{CTL_GAUGE, GAUGE_CLASS}}},
    {DLG_MERGE_PROGRESS_B, {}, {{CTL_GAUGE, GAUGE_CLASS}}},
    {DLG_LOW_SPACE_PROGRAM, {BTN_RUN_PROGRAM, BTN_CANCEL}, {}},
    {DLG_BELOW_REQUIREMENTS, {BTN_START, BTN_CANCEL, BTN_OK}, {}},
    {DLG_MACHINE_CHECK, {BTN_SETUP16, BTN_CANCEL, BTN_OK}, {}},
};

INT_PTR CALLBACK quiet_dialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::string class_of(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The dialog manager builds each template, with the gauge class registered (a plain window class
// here). Built hidden, from a copy without WS_VISIBLE: shown dialogs make Wine slow.
TEST(Dialogs, EveryTemplateBuildsWithTheControlsTheProgramAddresses) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = module();
  wc.lpszClassName = GAUGE_CLASS;
  ASSERT_NE(RegisterClassA(&wc), 0);
  for (const DialogCase& d : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(d.id));
    const std::vector<std::uint8_t> bytes = resource_bytes(d.id, 5);  // RT_DIALOG
    ASSERT_GE(bytes.size(), sizeof(DLGTEMPLATE));
    DWORD style;
    std::memcpy(&style, bytes.data(), sizeof style);
    EXPECT_TRUE((style & WS_CAPTION) || (style & WS_VISIBLE)) << "a progress dialog, opened modeless, must show itself";
    std::vector<std::uint8_t> hidden = bytes;
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(hidden.data(), &style, sizeof style);

    HWND dialog = CreateDialogIndirectParamA(module(), reinterpret_cast<LPCDLGTEMPLATEA>(hidden.data()), nullptr,
                                             quiet_dialog, 0);
    ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
    std::set<WORD> buttons;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      if (lstrcmpiA(class_of(c).c_str(), "Button") == 0) buttons.insert(static_cast<WORD>(GetDlgCtrlID(c)));
    }
    EXPECT_EQ(buttons, d.buttons);
    for (const auto& [id, cls] : d.controls) {
      HWND control = GetDlgItem(dialog, id);
      ASSERT_NE(control, nullptr) << "control " << id;
      EXPECT_EQ(lstrcmpiA(class_of(control).c_str(), cls), 0) << "control " << id << " is " << class_of(control);
      // The directory field upper-cases what the user types.
      if (lstrcmpiA(cls, "Edit") == 0) {
        EXPECT_TRUE(GetWindowLongA(control, GWL_STYLE) & ES_UPPERCASE);
      }
    }
    // The program icon, in 205 under id 201.
    const int icon = d.id == DLG_CONFIRM_EXIT ? 201 : ICON_PROGRAM;
    EXPECT_NE(SendDlgItemMessageA(dialog, icon, STM_GETICON, 0, 0), 0) << "no icon in control " << icon;
    DestroyWindow(dialog);
  }
  UnregisterClassA(GAUGE_CLASS, module());
}

// 28 bytes: "_ZoffZ_\0", then the package offset and the 16-byte tag, all zero until packaging.
TEST(ResourceMarker, MagicThenZeroOffsetAndTag) {
  const std::vector<std::uint8_t> marker = resource_bytes(RCDATA_MARKER, 10);  // RT_RCDATA
  ASSERT_EQ(marker.size(), 28u);
  EXPECT_EQ(std::memcmp(marker.data(), "_ZoffZ_\0", 8), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(marker.begin() + 8, marker.end()), std::vector<std::uint8_t>(20, 0));
}

TEST(ProgramIcon, OneImage32By32In16Colours) {
  const std::vector<std::uint8_t> group = resource_bytes(ICON_PROGRAM, 14);  // RT_GROUP_ICON
  ASSERT_EQ(group.size(), 6u + 14u);  // header, one entry
  EXPECT_EQ(group[4] | group[5] << 8, 1) << "images";
  EXPECT_EQ(group[6], 32) << "width";
  EXPECT_EQ(group[7], 32) << "height";
  EXPECT_EQ(group[12] | group[13] << 8, 4) << "bits per pixel";
  EXPECT_NE(LoadIconA(module(), MAKEINTRESOURCEA(ICON_PROGRAM)), nullptr);
}

}  // namespace
