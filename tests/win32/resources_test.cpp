// The program's resources as the compiled module carries them: string texts, dialog templates
// (read from their DLGTEMPLATE bytes and created through the dialog manager), the resource
// marker, the icon group and the version information.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resource_ids.h"

namespace {

constexpr DWORD child_visible = WS_CHILD | WS_VISIBLE;

HMODULE module() { return GetModuleHandleA(nullptr); }

std::string load_string(UINT id) {
  char buffer[1024];
  const int n = LoadStringA(module(), id, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

// The bytes of one resource, empty when the module has none.
std::vector<std::uint8_t> resource_bytes(WORD id, LPCSTR type) {
  HRSRC found = FindResourceA(module(), MAKEINTRESOURCEA(id), type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module(), found);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (!data) return {};
  return std::vector<std::uint8_t>(data, data + SizeofResource(module(), found));
}

// ---------------------------------------------------------------------------------------------
// String table

struct TextCase {
  UINT id;
  const char* text;
};

// Texts whose exact bytes matter: trailing blanks and line breaks separate joined texts,
// the backslash and the file names are used as paths.
const TextCase exact_texts[] = {
    {STR_CLIENT_RUNNING, "Please exit Qelmora before running the Setup program."},
    {STR_FATAL_ERROR,
     "An error (#%u) has occurred, and Setup is unable to continue.\n\nThis problem could be caused "
     "by a corrupted copy of the Setup program or by a bad disk.  "},
    {STR_NOT_FIRST_DISK, "This is not the first disk of the setup program.\nPlease insert Disk 1 and run SETUP.EXE"},
    {STR_NOT_ENOUGH_SPACE,
     "There is not enough disk space to update Qelmora.  At least %lu free bytes are required for "
     "this update.\n\n"},
    {STR_SETUP16_PATH, "QEL31\\SETUP16.EXE"},
    {STR_CLIENT_MODULE, "ZOVE.EXE"},
    {STR_BOX_CAPTION, "Setup"},
    {STR_DB_DISK_FULL,
     "There is not enough disk space to continue!\n\nPlease delete one or more files from drive %c: "
     "and then select Retry to continue."},
};

TEST(StringTable, TextsAreExact) {
  for (const TextCase& c : exact_texts) EXPECT_EQ(load_string(c.id), c.text) << "string " << c.id;
}

TEST(StringTable, FatalErrorTextEndsInTwoBlanks) {
  const std::string text = load_string(STR_FATAL_ERROR);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 3), ".  ");
}

TEST(StringTable, EveryIdHasAText) {
  const UINT ids[] = {
      STR_CLIENT_RUNNING, STR_FATAL_ERROR, STR_FATAL_ERROR_ADVICE, STR_CONFIRM_CANCEL, STR_CLIENT_MODULE,
      STR_GAME_PROGRAM, STR_NEEDS_WIN95, STR_SETUP16_PATH, STR_NEEDS_MSIE, STR_NEED_DISK_SPACE, STR_GAME_PIF,
      STR_OUT_OF_MEMORY, STR_CANNOT_CONTINUE, STR_TOO_MANY_DIALOGS, STR_NO_DIALOG_PROC, STR_DIALOG_FAILED,
      STR_NO_SUCH_DIALOG, STR_BOX_CAPTION, STR_OLE_TOO_OLD, STR_PRODUCT_CAPTION, STR_DB_DISK_FULL,
      STR_CANCEL_EXITS, STR_INVALID_DIRECTORY, STR_FREE_SPACE_ADVICE, STR_DRIVE_TOO_FULL,
      STR_NOT_ENOUGH_SPACE, STR_NOT_FIRST_DISK, STR_NEWER_QEL_REGISTERED};
  for (UINT id : ids) {
    const std::string text = load_string(id);
    EXPECT_FALSE(text.empty()) << "string " << id;
    EXPECT_EQ(text.find("\\n"), std::string::npos) << "unconverted escape in " << id;
  }
  // The short-text lookup holds at most 49 characters: the caption and the file names fit.
  for (UINT id : {STR_BOX_CAPTION, STR_PRODUCT_CAPTION, STR_CLIENT_MODULE, STR_GAME_PROGRAM, STR_GAME_PIF})
    EXPECT_LE(load_string(id).size(), 49u) << "string " << id;
}

TEST(StringTable, IdsBetweenTheUsedOnesHaveNoText) {
  for (UINT id : {34000u, 34004u, 34201u, 34307u, 34999u}) EXPECT_EQ(load_string(id), "") << "string " << id;
}

// ---------------------------------------------------------------------------------------------
// Dialog templates, read from the classic DLGTEMPLATE layout

struct Control {
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  std::string cls;   // predefined classes by their name, from the ordinal
  std::string text;  // "#n" for an ordinal (the icon of an icon static)
};

struct Template {
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, cls, caption, face;
  WORD point_size = 0;
  std::vector<Control> controls;
};

class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  WORD word() {
    ok_ = ok_ && pos_ + 2 <= bytes_.size();
    if (!ok_) return 0;
    const WORD w = static_cast<WORD>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return w;
  }
  DWORD dword() {
    const DWORD low = word();
    return low | static_cast<DWORD>(word()) << 16;
  }
  // A text in UTF-16 up to its NUL (the templates hold ASCII only).
  std::string text() {
    std::string s;
    for (WORD w = word(); ok_ && w != 0; w = word()) s += static_cast<char>(w);
    return s;
  }
  // The sz_Or_Ord field: empty, 0xFFFF and an ordinal ("#n"), or a text.
  std::string text_or_ordinal() {
    if (pos_ + 2 <= bytes_.size() && bytes_[pos_] == 0xFF && bytes_[pos_ + 1] == 0xFF) {
      word();
      return "#" + std::to_string(word());
    }
    return text();
  }
  void align() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
  void skip(std::size_t n) { pos_ += n; }
  bool ok() const { return ok_ && pos_ <= bytes_.size(); }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

std::string class_name(const std::string& cls) {
  if (cls == "#128") return "BUTTON";
  if (cls == "#129") return "EDIT";
  if (cls == "#130") return "STATIC";
  return cls;
}

bool parse_template(const std::vector<std::uint8_t>& bytes, Template& t) {
  Reader r(bytes);
  t.style = r.dword();
  t.ex_style = r.dword();
  const WORD count = r.word();
  t.x = static_cast<short>(r.word());
  t.y = static_cast<short>(r.word());
  t.cx = static_cast<short>(r.word());
  t.cy = static_cast<short>(r.word());
  t.menu = r.text_or_ordinal();
  t.cls = r.text_or_ordinal();
  t.caption = r.text();
  if (t.style & DS_SETFONT) {
    t.point_size = r.word();
    t.face = r.text();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.align();
    Control c;
    c.style = r.dword();
    c.ex_style = r.dword();
    c.x = static_cast<short>(r.word());
    c.y = static_cast<short>(r.word());
    c.cx = static_cast<short>(r.word());
    c.cy = static_cast<short>(r.word());
    c.id = r.word();
    c.cls = class_name(r.text_or_ordinal());
    c.text = r.text_or_ordinal();
    r.skip(r.word());  // creation data
    t.controls.push_back(c);
  }
  return r.ok() && t.controls.size() == count;
}

Template load_template(WORD id) {
  Template t;
  const std::vector<std::uint8_t> bytes = resource_bytes(id, MAKEINTRESOURCEA(5));  // RT_DIALOG
  EXPECT_FALSE(bytes.empty()) << "dialog " << id << " missing";
  if (!bytes.empty()) {
    EXPECT_TRUE(parse_template(bytes, t)) << "dialog " << id << " malformed";
  }
  return t;
}

const Control* find_control(const Template& t, WORD id) {
  for (const Control& c : t.controls)
    if (c.id == id) return &c;
  return nullptr;
}

enum class Kind { progress, captioned, visible_captioned };

struct DialogCase {
  WORD id;
  Kind kind;
  const char* caption;
  std::set<WORD> buttons;  // the ids that can end or drive the dialog
};

const DialogCase dialogs[] = {
    {DLG_UPDATE_PROGRESS, Kind::progress, "", {}},
    {DLG_WELCOME, Kind::visible_captioned, "Welcome", {BTN_UPDATE, BTN_REVIEW, BTN_EXIT}},
    {DLG_SEARCH, Kind::progress, "", {BTN_EXIT}},
    {DLG_CONFIRM_EXIT, Kind::captioned, "Setup", {BTN_RESUME, BTN_EXIT}},
    {DLG_REVIEW, Kind::captioned, "Review", {BTN_OK, BTN_RESTORE, BTN_CANCEL}},
    {DLG_DB_PROGRESS, Kind::progress, "", {}},
    {DLG_SETUP_STOPPED, Kind::captioned, "Setup", {BTN_OK}},
    {DLG_UPDATED, Kind::captioned, "Setup", {BTN_OK}},
    {DLG_NOT_FOUND, Kind::captioned, "Setup", {BTN_OK, BTN_CANCEL}},
    {DLG_RESTART, Kind::captioned, "Setup", {BTN_OK, BTN_CANCEL}},
    {DLG_NEXT_DISK, Kind::captioned, "Setup", {BTN_START, BTN_EXIT}},
    {DLG_INSTALL_PROGRESS, Kind::progress, "", {BTN_CANCEL}},
    {DLG_INSTALLED, Kind::captioned, "Setup", {BTN_OK}},
    {DLG_NOT_FINISHED, Kind::captioned, "Setup", {BTN_OK}},
    {DLG_MERGE_PROGRESS_A, Kind::progress, "", {}},
    {DLG_MERGE_PROGRESS_B, Kind::progress, "", {}},
    {DLG_LOW_SPACE_PROGRAM, Kind::captioned, "Setup", {BTN_RUN_PROGRAM, BTN_CANCEL}},
    {DLG_BELOW_REQUIREMENTS, Kind::captioned, "Setup", {BTN_START, BTN_CANCEL, BTN_OK}},
    {DLG_MACHINE_CHECK, Kind::captioned, "Setup", {BTN_SETUP16, BTN_CANCEL, BTN_OK}},
};

TEST(DialogTemplates, StylesFontsCaptionsAndButtons) {
  for (const DialogCase& d : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(d.id));
    const Template t = load_template(d.id);
    ASSERT_FALSE(t.controls.empty());
    const bool progress = d.kind == Kind::progress;
    DWORD style = WS_POPUP | DS_MODALFRAME | DS_SETFONT;
    if (!progress) style |= WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU;
    if (d.kind != Kind::captioned) style |= WS_VISIBLE;
    EXPECT_EQ(t.style, style);
    EXPECT_EQ(t.ex_style, 0u);
    EXPECT_EQ(t.menu, "");
    EXPECT_EQ(t.cls, "");
    EXPECT_EQ(t.caption, d.caption);
    EXPECT_EQ(t.point_size, 8);
    EXPECT_EQ(t.face, progress ? "MS Sans Serif" : "Helv");

    std::set<WORD> buttons;
    int icons = 0;
    for (const Control& c : t.controls) {
      EXPECT_EQ(c.style & child_visible, child_visible) << "control " << c.id;
      EXPECT_EQ(c.ex_style, 0u) << "control " << c.id;
      if (c.cls == "BUTTON") {
        buttons.insert(c.id);
        EXPECT_EQ(c.style & WS_TABSTOP, static_cast<DWORD>(WS_TABSTOP)) << "button " << c.id;
      }
      if (c.cls == "STATIC" && (c.style & SS_TYPEMASK) == SS_ICON) {
        ++icons;
        EXPECT_EQ(c.text, "#300") << "icon static " << c.id;
        EXPECT_EQ(c.id, d.id == DLG_CONFIRM_EXIT ? 201 : ICON_PROGRAM);
      }
    }
    EXPECT_EQ(buttons, d.buttons);
    EXPECT_EQ(icons, 1);
    for (WORD b : buttons) EXPECT_TRUE(b >= BTN_FIRST && b <= BTN_LAST) << "button " << b;
  }
}

TEST(DialogTemplates, TemplatesThatDoNotExist) {
  for (WORD id : {203, 223, 229, 300})
    EXPECT_EQ(FindResourceA(module(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)), nullptr) << id;
}

struct ControlCase {
  WORD dialog, control;
  const char* cls;
  DWORD style;  // beside WS_CHILD | WS_VISIBLE
  short x, y, cx, cy;
  const char* text;
};

constexpr DWORD path_edit = WS_BORDER | WS_GROUP | WS_TABSTOP | ES_UPPERCASE | ES_AUTOHSCROLL | ES_OEMCONVERT;

const ControlCase key_controls[] = {
    {DLG_WELCOME, 1502, "STATIC", SS_BLACKFRAME | WS_TABSTOP, 7, 87, 208, 1, ""},
    {DLG_WELCOME, CTL_TEXT, "STATIC", SS_LEFT | SS_NOPREFIX | WS_GROUP, 37, 8, 177, 44, ""},
    {DLG_WELCOME, BTN_UPDATE, "BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 8, 59, 40, 14, "&Update"},
    {DLG_CONFIRM_EXIT, 201, "STATIC", SS_ICON, 6, 7, 18, 20, "#300"},
    {DLG_REVIEW, CTL_PATH, "EDIT", path_edit, 46, 104, 173, 12, ""},
    {DLG_NOT_FOUND, CTL_PATH, "EDIT", path_edit, 43, 104, 176, 12, ""},
    {DLG_SEARCH, CTL_PATH, "STATIC", SS_LEFT | WS_GROUP, 79, 33, 165, 9, ""},
    {DLG_UPDATE_PROGRESS, CTL_GAUGE, GAUGE_CLASS, 0, 33, 53, 205, 15, ""},
    {DLG_DB_PROGRESS, CTL_GAUGE, GAUGE_CLASS, 0, 32, 31, 205, 15, ""},
    {DLG_INSTALL_PROGRESS, CTL_GAUGE, GAUGE_CLASS, 0, 33, 53, 205, 15, ""},
    {DLG_MERGE_PROGRESS_A, CTL_GAUGE, GAUGE_CLASS, 0, 32, 31, 205, 15, ""},
    {DLG_MERGE_PROGRESS_B, CTL_GAUGE, GAUGE_CLASS, 0, 32, 31, 205, 15, ""},
    {DLG_INSTALL_PROGRESS, BTN_CANCEL, "BUTTON", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 99, 78, 50, 14, "&Cancel"},
    {DLG_RESTART, 2101, "STATIC", SS_LEFT | WS_GROUP, 8, 29, 195, 27,
     "Setup needs to restart Windows in order for certain changes to take effect.  You may not be able to "
     "reliably use Qelmora until Windows has been restarted."},
};

TEST(DialogTemplates, KeyControls) {
  for (const ControlCase& k : key_controls) {
    SCOPED_TRACE("dialog " + std::to_string(k.dialog) + " control " + std::to_string(k.control));
    const Template t = load_template(k.dialog);
    const Control* c = find_control(t, k.control);
    ASSERT_NE(c, nullptr);
    // Window class names are matched without regard to case.
    EXPECT_EQ(lstrcmpiA(c->cls.c_str(), k.cls), 0) << c->cls;
    EXPECT_EQ(c->style, child_visible | k.style);
    EXPECT_EQ(c->x, k.x);
    EXPECT_EQ(c->y, k.y);
    EXPECT_EQ(c->cx, k.cx);
    EXPECT_EQ(c->cy, k.cy);
    EXPECT_EQ(c->text, k.text);
  }
}

TEST(DialogTemplates, StaticsWithoutIdAndQuotedText) {
  const Template t = load_template(DLG_CONFIRM_EXIT);
  int unnamed = 0;
  for (const Control& c : t.controls) unnamed += c.id == 0xFFFF;
  EXPECT_EQ(unnamed, 4);
  ASSERT_GE(t.controls.size(), 4u);
  EXPECT_EQ(t.controls[3].text,
            "Click on \"Resume\" to return to the setup process.  Click on \"Exit\" to exit the update program now.");
  // The welcome texts keep their doubled and trailing blanks.
  const Template welcome = load_template(DLG_WELCOME);
  ASSERT_GE(welcome.controls.size(), 6u);
  EXPECT_EQ(welcome.controls[5].text, "Click on this button to update Qelmora.  ");
  EXPECT_EQ(welcome.controls[5].style, child_visible | SS_LEFT);
}

// The dialog manager builds every template: the icon static shows icon 300, each button exists,
// and the gauge control is a window of the gauge class (registered here as a plain window class;
// the template may spell its name in other letter case). The dialogs are built hidden: a copy of
// the template without WS_VISIBLE (visibility is checked on the template bytes above).
LRESULT CALLBACK plain_window(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

INT_PTR CALLBACK quiet_dialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(DialogTemplates, DialogManagerCreatesEveryTemplate) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = plain_window;
  wc.hInstance = module();
  wc.lpszClassName = GAUGE_CLASS;
  ASSERT_NE(RegisterClassA(&wc), 0);
  for (const DialogCase& d : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(d.id));
    std::vector<std::uint8_t> bytes = resource_bytes(d.id, MAKEINTRESOURCEA(5));
    ASSERT_GE(bytes.size(), sizeof(DLGTEMPLATE));
    DWORD style;
    std::memcpy(&style, bytes.data(), sizeof style);
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::memcpy(bytes.data(), &style, sizeof style);
    HWND dialog = CreateDialogIndirectParamA(module(), reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                             nullptr, quiet_dialog, 0);
    ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
    const int icon_id = d.id == DLG_CONFIRM_EXIT ? 201 : ICON_PROGRAM;
    EXPECT_NE(SendDlgItemMessageA(dialog, icon_id, STM_GETICON, 0, 0), 0);
    for (WORD b : d.buttons) EXPECT_NE(GetDlgItem(dialog, b), nullptr) << "button " << b;
    if (HWND gauge = GetDlgItem(dialog, CTL_GAUGE)) {
      char name[64] = {};
      GetClassNameA(gauge, name, sizeof name);
      EXPECT_STREQ(name, GAUGE_CLASS);
    }
    DestroyWindow(dialog);
  }
  UnregisterClassA(GAUGE_CLASS, module());
}

// ---------------------------------------------------------------------------------------------
// Resource marker, icon, version

TEST(ResourceMarker, TwentyEightBytesWithMagicNoOffsetNoTag) {
  const std::vector<std::uint8_t> marker = resource_bytes(RCDATA_MARKER, MAKEINTRESOURCEA(10));  // RT_RCDATA
  ASSERT_EQ(marker.size(), 28u);
  EXPECT_EQ(std::memcmp(marker.data(), "_ZoffZ_\0", 8), 0);
  DWORD offset;
  std::memcpy(&offset, marker.data() + 8, 4);
  EXPECT_EQ(offset, 0u);
  for (std::size_t i = 12; i < 28; ++i) EXPECT_EQ(marker[i], 0) << "tag byte " << i;
}

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(ProgramIcon, OneImage32By32In16Colours) {
  const std::vector<std::uint8_t> group = resource_bytes(ICON_PROGRAM, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_EQ(group.size(), 6 + sizeof(GroupEntry));
  WORD header[3];
  std::memcpy(header, group.data(), sizeof header);
  EXPECT_EQ(header[0], 0);
  EXPECT_EQ(header[1], 1);  // icon
  EXPECT_EQ(header[2], 1);  // one image
  GroupEntry e;
  std::memcpy(&e, group.data() + 6, sizeof e);
  EXPECT_EQ(e.width, 32);
  EXPECT_EQ(e.height, 32);
  EXPECT_EQ(e.colours, 16);
  EXPECT_EQ(e.bit_count, 4);

  const std::vector<std::uint8_t> image = resource_bytes(e.id, MAKEINTRESOURCEA(3));  // RT_ICON
  ASSERT_EQ(image.size(), e.bytes);
  // Header, 16 palette entries, 32 rows of 16 colour bytes, 32 rows of 4 mask bytes.
  ASSERT_EQ(image.size(), 40u + 64 + 512 + 128);
  BITMAPINFOHEADER h;
  std::memcpy(&h, image.data(), sizeof h);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 32);
  EXPECT_EQ(h.biHeight, 64);  // colour bits and mask
  EXPECT_EQ(h.biBitCount, 4);
  EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
  // The corners are transparent: top left pixel's mask bit (last mask row, first bit) is set.
  const std::uint8_t* mask = image.data() + 40 + 64 + 512;
  EXPECT_EQ(mask[31 * 4] & 0x80, 0x80);
  EXPECT_EQ(mask[0] & 0x80, 0x80);  // bottom left

  EXPECT_NE(LoadIconA(module(), MAKEINTRESOURCEA(ICON_PROGRAM)), nullptr);
}

// Where the value of a version block's key begins (after the key's NUL and the padding), or 0.
std::size_t version_value_at(const std::vector<std::uint8_t>& v, const char* key) {
  std::vector<std::uint8_t> pattern;
  for (const char* p = key;; ++p) {
    pattern.push_back(static_cast<std::uint8_t>(*p));
    pattern.push_back(0);
    if (!*p) break;
  }
  for (std::size_t i = 0; i + pattern.size() <= v.size(); i += 2)
    if (std::memcmp(v.data() + i, pattern.data(), pattern.size()) == 0)
      return (i + pattern.size() + 3) & ~std::size_t{3};
  return 0;
}

std::string version_text(const std::vector<std::uint8_t>& v, const char* key) {
  std::size_t pos = version_value_at(v, key);
  if (pos == 0) return "(missing)";
  std::string value;
  for (; pos + 1 < v.size() && (v[pos] || v[pos + 1]); pos += 2) value += static_cast<char>(v[pos]);
  return value;
}

TEST(VersionInfo, NamesNumbersAndLanguage) {
  const std::vector<std::uint8_t> v = resource_bytes(1, MAKEINTRESOURCEA(16));  // RT_VERSION
  ASSERT_GE(v.size(), 40u + sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, v.data() + 40, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0u);
  const struct {
    const char* key;
    const char* value;
  } texts[] = {{"CompanyName", "Qelmora"},        {"FileDescription", "Qelmora Setup"},
               {"FileVersion", "1.0.0.0"},        {"InternalName", "qelsetup"},
               {"OriginalFilename", "SETUP.EXE"}, {"ProductName", "Qelmora"},
               {"ProductVersion", "1.0.0.0"}};
  for (const auto& t : texts) EXPECT_EQ(version_text(v, t.key), t.value) << t.key;
  EXPECT_NE(version_value_at(v, "040904E4"), 0u);  // US English, code page 1252
  const std::size_t translation = version_value_at(v, "Translation");
  ASSERT_NE(translation, 0u);
  ASSERT_LE(translation + 4, v.size());
  WORD language[2];
  std::memcpy(language, v.data() + translation, sizeof language);
  EXPECT_EQ(language[0], 0x409);
  EXPECT_EQ(language[1], 1252);
}

}  // namespace
