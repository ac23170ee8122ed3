// robot_peer.exe - a tiny GUI program that exists only so the UI robot can be tested on
// windows whose contents are known exactly.
//
//   robot_peer.exe box TEXT [CAPTION]   OK/Cancel message box; prints "box <result>", exits with it
//   robot_peer.exe dialog [CAPTION]     in-memory dialog (static, upper-case edit, buttons 401/402);
//                                       prints "dialog <id> edit=<text>", exits with the id
//   robot_peer.exe chain                a window without buttons for a moment, then a box, then
//                                       the dialog; exits with box*1000 + dialog id
//   robot_peer.exe boxsleep MS TEXT     the box, then no window for MS milliseconds; exits 0
//   robot_peer.exe sleep MS             no window at all; sleeps, exits 0
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kStaticId = 301;
constexpr int kEditId = 302;
constexpr int kAcceptId = 401;
constexpr int kRejectId = 402;

void say(const std::string& s)
{
    // WriteFile rather than stdio: a GUI program's CRT may not have set up stdout.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(out, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

// A DLGTEMPLATE and its items, laid out in WORDs as the dialog manager reads them.
class Template {
public:
    Template(DWORD style, const char* caption, short cx, short cy)
    {
        put_dword(style | DS_SETFONT);
        put_dword(0);            // extended style
        count_at_ = words_.size();
        words_.push_back(0);     // item count, filled in by add()
        put_short(0); put_short(0); put_short(cx); put_short(cy);
        words_.push_back(0);     // no menu
        words_.push_back(0);     // standard dialog class
        put_string(caption);
        words_.push_back(8);     // point size
        put_string("MS Shell Dlg");
    }

    void add(WORD atom, int id, DWORD style, const char* text, short x, short y, short cx, short cy)
    {
        if (words_.size() % 2)   // items start on a DWORD boundary
            words_.push_back(0);
        put_dword(style | WS_CHILD | WS_VISIBLE);
        put_dword(0);
        put_short(x); put_short(y); put_short(cx); put_short(cy);
        words_.push_back(static_cast<WORD>(id));
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        put_string(text);
        words_.push_back(0);     // no creation data
        ++words_[count_at_];
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void put_dword(DWORD v) { words_.push_back(LOWORD(v)); words_.push_back(HIWORD(v)); }
    void put_short(short v) { words_.push_back(static_cast<WORD>(v)); }
    void put_string(const char* s)
    {
        int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
        std::vector<WCHAR> w(n > 0 ? n : 1);
        if (n <= 0 || !MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n))
            w.assign(1, 0);
        words_.insert(words_.end(), w.begin(), w.end());
    }

    std::vector<WORD> words_;
    size_t count_at_ = 0;
};

std::string g_edit_text;

INT_PTR CALLBACK dialog_proc(HWND dlg, UINT msg, WPARAM wp, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;             // focus goes to the first tab stop, the edit
    case WM_COMMAND: {
        int id = LOWORD(wp);
        if (id == kAcceptId || id == kRejectId || id == IDCANCEL) {
            char buf[256] = {};
            GetDlgItemTextA(dlg, kEditId, buf, sizeof buf);
            g_edit_text = buf;
            EndDialog(dlg, id == IDCANCEL ? IDCANCEL : id);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

int run_box(const char* text, const char* caption)
{
    int r = MessageBoxA(nullptr, text, caption, MB_OKCANCEL | MB_ICONQUESTION);
    say("box " + std::to_string(r) + "\n");
    return r;
}

int run_dialog(const char* caption)
{
    Template t(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, caption, 200, 80);
    // The static's text holds a line break so the robot's escaping shows in its transcript.
    t.add(0x0082, kStaticId, SS_LEFT, "Enter a name\nthen choose", 8, 8, 184, 20);
    t.add(0x0081, kEditId, ES_UPPERCASE | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, "start", 8, 30, 184, 12);
    t.add(0x0080, kAcceptId, BS_DEFPUSHBUTTON | WS_TABSTOP, "&Accept", 88, 58, 50, 14);
    t.add(0x0080, kRejectId, BS_PUSHBUTTON | WS_TABSTOP, "&Reject", 142, 58, 50, 14);
    INT_PTR r = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, dialog_proc, 0);
    say("dialog " + std::to_string(static_cast<long long>(r)) + " edit=" + g_edit_text + "\n");
    return static_cast<int>(r);
}

// A modeless window with only a static, like a progress note, kept up for a moment.
void show_note(DWORD ms)
{
    Template t(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_CENTER, "Working", 120, 30);
    t.add(0x0082, -1, SS_LEFT, "Please wait", 8, 8, 100, 10);
    HWND note = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, dialog_proc, 0);
    if (!note)
        return;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(20);
    }
    DestroyWindow(note);
}

int usage()
{
    MessageBoxA(nullptr,
                "usage: robot_peer box TEXT [CAPTION] | dialog [CAPTION] | chain"
                " | boxsleep MS TEXT | sleep MS",
                "robot_peer", MB_OK);
    return 100;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string mode = argv[1];
    if (mode == "box" && argc >= 3)
        return run_box(argv[2], argc >= 4 ? argv[3] : "Robot peer");
    if (mode == "dialog")
        return run_dialog(argc >= 3 ? argv[2] : "Robot peer");
    if (mode == "chain") {
        show_note(800);
        int box = run_box("First question", "Chain");
        int dialog = run_dialog("Chain dialog");
        return box * 1000 + dialog;
    }
    if (mode == "boxsleep" && argc >= 4) {
        run_box(argv[3], "Robot peer");
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == "sleep" && argc >= 3) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    return usage();
}
