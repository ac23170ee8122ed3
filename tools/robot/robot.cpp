// robot.exe - runs a Win32 program, writes down every window it shows and answers its dialogs
// with a fixed list of steps, so that end-to-end tests can drive the GUI under Wine.
//
//   robot.exe [--transcript FILE] [--timeout MS] [--shots DIR] [--pass-by ID]... [--step STEP]...
//             -- PROGRAM [ARGS...]
//
// Steps: press:ID  close  key:VK  type:ID:TEXT  wait  pause:MS  delete:FILE (see usage_text below).
// Exit code: 0 when the program ended by itself, 3 after a time-out, 2 for bad usage or a
// program that cannot be started.

// GetGUIThreadInfo needs a newer WINVER than the one the project builds the installer for.
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0500
#define _WIN32_WINNT 0x0500
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

const char usage_text[] =
    "usage: robot.exe [--transcript FILE] [--timeout MS] [--shots DIR] [--pass-by ID]... [--step STEP]... -- PROGRAM [ARGS...]\n"
    "steps, applied in order, each to the next new window of PROGRAM that has a button:\n"
    "  press:ID      click the button with control id ID\n"
    "  close         the window's close box (SC_CLOSE)\n"
    "  key:VK        key down and up of virtual key VK (decimal) on the focused control;\n"
    "                if the window stays, the next step applies to it too\n"
    "  type:ID:TEXT  set the text of control ID; the next step applies to the same window\n"
    "  wait          take the window but do nothing\n"
    "  pause:MS      wait MS milliseconds; the window keeps the next step\n"
    "  delete:FILE   delete FILE (to free disk space); the window keeps the next step\n"
    "--pass-by ID: a window with a control of that id is recorded but takes no step (a progress\n"
    "  window that may come and go too fast for a step of its own)\n";

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 3;
constexpr UINT kTerminatedCode = 255;  // exit code given to a program the robot ends
constexpr DWORD kPollMs = 50;
constexpr DWORD kSettleMs = 150;
constexpr DWORD kKeyMs = 300;
constexpr UINT kMessageTimeoutMs = 2000;
constexpr size_t kMaxText = 32768;     // longest control text read
constexpr int kMaxChildren = 2000;     // guards the child walk against a changing window list

// ---------------------------------------------------------------------------------------------
// Transcript

FILE* g_out = nullptr;

// One line per call, flushed at once: tests read the transcript while the robot runs, and a
// killed robot must leave what it wrote.
void emit(const std::string& text)
{
    fwrite(text.data(), 1, text.size(), g_out);
    fputc('\n', g_out);
    fflush(g_out);
}

std::string format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<size_t>(n) + 1);
        vsnprintf(s.data(), s.size(), fmt, ap);
        s.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    return s;
}

// A control's text on one line: line breaks and other control characters escaped.
std::string escape(const std::string& s)
{
    std::string r;
    r.reserve(s.size());
    for (unsigned char c : s) {
        if (c == '\r')
            r += "\\r";
        else if (c == '\n')
            r += "\\n";
        else if (c == '\t')
            r += "\\t";
        else if (c < 0x20 || c == 0x7F)
            r += format("\\x%02X", c);
        else
            r += static_cast<char>(c);
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Steps

enum class StepKind { Press, Close, Key, Type, Wait, Pause, Delete };

struct Step {
    StepKind kind;
    int id = 0;        // control id for press and type
    int vk = 0;        // virtual key for key; milliseconds for pause
    std::string text;  // text for type; the file for delete
    std::string raw;   // the step as given, for the transcript
};

bool parse_int(const std::string& s, long lo, long hi, int& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno || *end || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parse_step(const std::string& raw, Step& step)
{
    step = Step{StepKind::Wait, 0, 0, {}, raw};
    if (raw == "close") {
        step.kind = StepKind::Close;
        return true;
    }
    if (raw == "wait")
        return true;
    if (raw.rfind("press:", 0) == 0) {
        step.kind = StepKind::Press;
        return parse_int(raw.substr(6), -32768, 65535, step.id);
    }
    if (raw.rfind("pause:", 0) == 0) {
        step.kind = StepKind::Pause;
        return parse_int(raw.substr(6), 0, 600000, step.vk);
    }
    if (raw.rfind("delete:", 0) == 0) {
        step.kind = StepKind::Delete;
        step.text = raw.substr(7);
        return !step.text.empty();
    }
    if (raw.rfind("key:", 0) == 0) {
        step.kind = StepKind::Key;
        return parse_int(raw.substr(4), 1, 254, step.vk);
    }
    if (raw.rfind("type:", 0) == 0) {
        size_t colon = raw.find(':', 5);
        if (colon == std::string::npos)
            return false;
        step.kind = StepKind::Type;
        step.text = raw.substr(colon + 1);
        return parse_int(raw.substr(5, colon - 5), -32768, 65535, step.id);
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Looking at another process's windows

std::string class_of(HWND h)
{
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

// GetWindowText on another process's window only returns what the system stored for it, which
// an edit control never updates; asking the window itself with WM_GETTEXT gets the real text.
// The time-out keeps a hung program from hanging the robot.
std::string text_of(HWND h)
{
    // An icon or picture static answers with its image's handle, not with text.
    const LONG type = GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK;
    if (lstrcmpiA(class_of(h).c_str(), "Static") == 0 && (type == SS_ICON || type == SS_BITMAP)) return "";
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &len))
        len = kMaxText;
    size_t size = std::min<size_t>(static_cast<size_t>(len), kMaxText) + 1;
    std::vector<char> buf(size + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(h, WM_GETTEXT, size, reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &got) || buf[0] == '\0') {
        std::fill(buf.begin(), buf.end(), '\0');
        GetWindowTextA(h, buf.data(), static_cast<int>(size));
    }
    buf.back() = '\0';
    return buf.data();
}

bool same_class(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

// Direct children in z-order.
std::vector<HWND> children_of(HWND parent)
{
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c && static_cast<int>(out.size()) < kMaxChildren;
         c = GetWindow(c, GW_HWNDNEXT))
        out.push_back(c);
    return out;
}

HWND child_with_id(HWND parent, int id)
{
    for (HWND c : children_of(parent))
        if (static_cast<short>(GetDlgCtrlID(c)) == static_cast<short>(id))
            return c;
    return nullptr;
}

// Only a window with a visible button can be answered; others (progress notes) just pass by.
bool has_button(HWND h)
{
    for (HWND c : children_of(h))
        if (same_class(class_of(c), "Button") && (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE))
            return true;
    return false;
}

struct EnumContext {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND h, LPARAM lp)
{
    auto* ctx = reinterpret_cast<EnumContext*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == ctx->pid && IsWindowVisible(h))
        ctx->found.push_back(h);
    return TRUE;
}

// Visible top-level windows of the process, bottom of the z-order first so that a window
// and the box it opened on top of itself come in the order they appeared.
std::vector<HWND> windows_of(DWORD pid)
{
    EnumContext ctx{pid, {}};
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&ctx));
    std::reverse(ctx.found.begin(), ctx.found.end());
    return ctx.found;
}

// ---------------------------------------------------------------------------------------------
// Screenshots

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ~ScreenDc() { if (dc) ReleaseDC(nullptr, dc); }
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
};
struct GdiObject {
    HGDIOBJ obj;
    explicit GdiObject(HGDIOBJ o) : obj(o) {}
    ~GdiObject() { if (obj) DeleteObject(obj); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
};
struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

// The whole screen as a 24-bit bottom-up BMP.
bool save_screen(const std::string& path)
{
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384)
        return false;
    ScreenDc screen;
    if (!screen.dc)
        return false;
    std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> mem(CreateCompatibleDC(screen.dc));
    if (!mem)
        return false;

    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject dib{CreateDIBSection(screen.dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0)};
    if (!dib.obj || !bits)
        return false;
    HGDIOBJ old = SelectObject(mem.get(), dib.obj);
    BOOL copied = BitBlt(mem.get(), 0, 0, w, h, screen.dc, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(mem.get(), old);
    if (!copied)
        return false;

    DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    DWORD image = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER bf = {};
    bf.bfType = 0x4D42;  // "BM"
    bf.bfOffBits = sizeof bf + sizeof bi.bmiHeader;
    bf.bfSize = bf.bfOffBits + image;
    bi.bmiHeader.biSizeImage = image;

    std::unique_ptr<FILE, FileCloser> f(fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    bool ok = fwrite(&bf, sizeof bf, 1, f.get()) == 1 &&
              fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f.get()) == 1 &&
              fwrite(bits, 1, image, f.get()) == image;
    return fclose(f.release()) == 0 && ok;
}

// ---------------------------------------------------------------------------------------------
// The run

struct Options {
    std::string transcript;
    std::string shots;
    DWORD timeout = 20000;
    std::vector<Step> steps;
    std::vector<int> pass_by;          // control ids of windows that take no step
    std::vector<std::string> command;  // PROGRAM and its ARGS
};

// Quoting as the C runtime's argument parser undoes it: blanks and quotes need quotes, and
// backslashes are only special right before a quote.
std::string quote_arg(const std::string& a)
{
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos)
        return a;
    std::string r = "\"";
    size_t backslashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            r.append(backslashes * 2 + 1, '\\');
        else
            r.append(backslashes, '\\');
        r += c;
        backslashes = 0;
    }
    r.append(backslashes * 2, '\\');
    r += '"';
    return r;
}

std::string command_line(const std::vector<std::string>& command)
{
    // The program name is parsed differently (no backslash escapes), so only quotes around it.
    const std::string& program = command.front();
    std::string line = program.find_first_of(" \t") == std::string::npos ? program : "\"" + program + "\"";
    for (size_t i = 1; i < command.size(); ++i)
        line += " " + quote_arg(command[i]);
    return line;
}

class Robot {
public:
    Robot(const Options& opt, HANDLE process, DWORD pid) : opt_(opt), process_(process), pid_(pid) {}

    int run()
    {
        DWORD now = GetTickCount();
        last_window_ = last_step_ = now;
        for (;;) {
            if (exited())
                return finish();
            for (HWND h : windows_of(pid_))
                if (!is_recorded(h))
                    take(h);
            if (exited())
                return finish();
            now = GetTickCount();
            if (next_ < opt_.steps.size()) {
                if (now - last_window_ > opt_.timeout) {
                    emit(format("timeout waiting for step %u: %s", static_cast<unsigned>(next_ + 1),
                                opt_.steps[next_].raw.c_str()));
                    return terminate();
                }
            } else if (now - last_step_ > opt_.timeout) {
                emit("timeout waiting for exit");
                return terminate();
            }
            Sleep(kPollMs);
        }
    }

private:
    bool exited() const { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

    // A destroyed window's handle no longer names a window, so it is forgotten; a later
    // window is new even should it get the same handle value.
    bool is_recorded(HWND h)
    {
        recorded_.erase(std::remove_if(recorded_.begin(), recorded_.end(),
                                       [](HWND r) { return !IsWindow(r); }),
                        recorded_.end());
        return std::find(recorded_.begin(), recorded_.end(), h) != recorded_.end();
    }

    void take(HWND h)
    {
        Sleep(kSettleMs);  // let the dialog finish WM_INITDIALOG and show its controls
        if (!IsWindow(h) || !IsWindowVisible(h))
            return;        // only flashed up; recorded should it come back
        recorded_.push_back(h);
        last_window_ = GetTickCount();
        record(h, ++windows_);
        if (next_ < opt_.steps.size() && has_button(h) && !passed_by(h))
            answer(h);
    }

    bool passed_by(HWND h) const
    {
        return std::any_of(opt_.pass_by.begin(), opt_.pass_by.end(), [h](int id) { return child_with_id(h, id); });
    }

    void record(HWND h, int number)
    {
        emit(format("window %d: class \"%s\" caption \"%s\"", number, class_of(h).c_str(),
                    escape(text_of(h)).c_str()));
        for (HWND c : children_of(h)) {
            std::string cls = class_of(c);
            DWORD style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
            std::string line = format("  control %d %s style=0x%08lX \"%s\"",
                                      static_cast<short>(GetDlgCtrlID(c)), cls.c_str(),
                                      static_cast<unsigned long>(style), escape(text_of(c)).c_str());
            if (same_class(cls, "Edit") && (style & ES_UPPERCASE))
                line += " uppercase";
            emit(line);
        }
        if (!opt_.shots.empty()) {
            std::string path = format("%s\\shot-%d.bmp", opt_.shots.c_str(), number);
            if (!save_screen(path))
                emit("  cannot save shot " + path);
        }
    }

    // Applies steps to a window until one of them hands it back to the program.
    void answer(HWND h)
    {
        while (next_ < opt_.steps.size()) {
            const Step& step = opt_.steps[next_++];
            emit("  action " + step.raw);
            last_step_ = last_window_ = GetTickCount();
            switch (step.kind) {
            case StepKind::Press: {
                HWND button = child_with_id(h, step.id);
                if (!button)
                    emit(format("  no control %d", static_cast<short>(step.id)));
                // A user could not click these either: the test learns of it instead.
                else if (!IsWindowVisible(button))
                    emit(format("  control %d is hidden", static_cast<short>(step.id)));
                else if (!IsWindowEnabled(button))
                    emit(format("  control %d is disabled", static_cast<short>(step.id)));
                // Posted: the click may start a modal loop that a sent message would wait on.
                else if (!PostMessageA(button, BM_CLICK, 0, 0))
                    emit(format("  cannot post to control %d", static_cast<short>(step.id)));
                return;
            }
            case StepKind::Close:
                if (!PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0))
                    emit("  cannot post to the window");
                return;
            case StepKind::Wait:
                return;
            case StepKind::Pause:
                // The test acts meanwhile (frees disk space, say); the window keeps the next step.
                Sleep(static_cast<DWORD>(step.vk));
                if (!IsWindow(h) || !IsWindowVisible(h))
                    return;
                break;
            case StepKind::Delete:
                // Frees disk space while the program waits in the window, which keeps the next step.
                if (!DeleteFileA(step.text.c_str()))
                    emit(format("  cannot delete %s", step.text.c_str()));
                if (!IsWindow(h) || !IsWindowVisible(h))
                    return;
                break;
            case StepKind::Key: {
                press_key(h, step.vk);
                Sleep(kKeyMs);
                // Still open and not covered by a window the key opened: the window keeps
                // the next step.
                if (!IsWindow(h) || !IsWindowVisible(h) || new_window_shown())
                    return;
                break;
            }
            case StepKind::Type: {
                HWND control = child_with_id(h, step.id);
                DWORD_PTR result = 0;
                if (!control)
                    emit(format("  no control %d", static_cast<short>(step.id)));
                else
                    SendMessageTimeoutA(control, WM_SETTEXT, 0,
                                        reinterpret_cast<LPARAM>(step.text.c_str()),
                                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
                if (!IsWindow(h) || !IsWindowVisible(h))
                    return;
                break;
            }
            }
        }
    }

    void press_key(HWND h, int vk)
    {
        // The focus of the window's own thread: posting to the dialog itself would bypass
        // the control that has the keyboard.
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof gui;
        HWND target = h;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gui) && gui.hwndFocus)
            target = gui.hwndFocus;
        LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(vk), 0) & 0xFF) << 16;
        if (!PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(vk), scan | 1) ||
            !PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(vk),
                          scan | 1 | (LPARAM{1} << 30) | static_cast<LPARAM>(0x80000000u)))
            emit("  cannot post the key");
    }

    bool new_window_shown()
    {
        for (HWND w : windows_of(pid_))
            if (!is_recorded(w))
                return true;
        return false;
    }

    int finish()
    {
        for (size_t i = next_; i < opt_.steps.size(); ++i)
            emit("unused step " + opt_.steps[i].raw);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        emit(format("exit %lu", static_cast<unsigned long>(code)));
        return kExitOk;
    }

    int terminate()
    {
        TerminateProcess(process_, kTerminatedCode);
        WaitForSingleObject(process_, 5000);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        emit(format("exit %lu", static_cast<unsigned long>(code)));
        return kExitTimeout;
    }

    const Options& opt_;
    HANDLE process_;
    DWORD pid_;
    std::vector<HWND> recorded_;  // live windows already written down
    size_t next_ = 0;             // first step not yet applied
    int windows_ = 0;
    DWORD last_window_ = 0;       // when the last window was recorded or step applied
    DWORD last_step_ = 0;         // when the last step was applied (or the program started)
};

int bad_usage(const char* why)
{
    fprintf(stderr, "robot: %s\n%s", why, usage_text);
    return kExitUsage;
}

// Returns -1 when the arguments are good, else the exit code.
int parse_args(int argc, char** argv, Options& opt)
{
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--transcript" || a == "--shots" || a == "--timeout" || a == "--step" || a == "--pass-by") {
            if (i + 1 >= argc)
                return bad_usage((a + " needs a value").c_str());
            const char* v = argv[++i];
            if (a == "--transcript") {
                opt.transcript = v;
            } else if (a == "--shots") {
                opt.shots = v;
            } else if (a == "--timeout") {
                int ms = 0;
                if (!parse_int(v, 1, 3600000, ms))
                    return bad_usage("--timeout wants milliseconds");
                opt.timeout = static_cast<DWORD>(ms);
            } else if (a == "--pass-by") {
                int id = 0;
                if (!parse_int(v, -32768, 65535, id))
                    return bad_usage("--pass-by wants a control id");
                opt.pass_by.push_back(id);
            } else {
                Step s;
                if (!parse_step(v, s))
                    return bad_usage((std::string("bad step: ") + v).c_str());
                opt.steps.push_back(s);
            }
            continue;
        }
        if (a.rfind("--", 0) == 0)
            return bad_usage(("unknown option " + a).c_str());
        break;  // the program, without a "--" before it
    }
    for (; i < argc; ++i)
        opt.command.push_back(argv[i]);
    if (opt.command.empty())
        return bad_usage("no program given");
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (int rc = parse_args(argc, argv, opt); rc >= 0)
        return rc;

    std::unique_ptr<FILE, FileCloser> file;
    if (opt.transcript.empty()) {
        _setmode(_fileno(stdout), _O_BINARY);  // "\n" line ends, as the tests read them
        g_out = stdout;
    } else {
        file.reset(fopen(opt.transcript.c_str(), "wb"));
        if (!file) {
            fprintf(stderr, "robot: cannot write %s\n", opt.transcript.c_str());
            return kExitUsage;
        }
        g_out = file.get();
    }
    if (!opt.shots.empty())
        CreateDirectoryA(opt.shots.c_str(), nullptr);  // may exist already

    // The program's standard handles are the robot's, so whatever it prints reaches the test.
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string line = command_line(opt.command);
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        emit("cannot start " + opt.command.front());
        return kExitUsage;
    }
    CloseHandle(pi.hThread);
    int rc = Robot(opt, pi.hProcess, pi.dwProcessId).run();
    CloseHandle(pi.hProcess);
    return rc;
}
