// Drives the requirement checks and the finish of a run with the run-wide state set from its
// command line, so that every branch can be tested without a package. Options (each sets one field):
//   --aborted --cancelled --chained --quiet --restart --version-inf --low-space-offer
//   --check-system --msie-skip --target DIR --given DIR --next-disk CMD --fatal N
//   --package-version V --package-file PATH --low-space-program NAME --msie BUILD
//   --frame TITLE (creates the frame first) --checks (runs the requirement checks before the finish)
// and, in their order on the line, after the frame is up and before the checks, dialogs shown as the
// program shows them (each answer goes to the log as "Dialog ID answered N[, path P]"):
//   --show ID             a question through the modal runner; --text T gives it the text for 503
//   --show-path ID PATH   a question with a directory field, through the path runner
//   --open ID             a progress dialog, open for --hold milliseconds (default 1500) while
//                         messages are pumped; --gauge P/R sets its gauge: range R, then position P,
//                         and logs the gauge's client area on the screen ("Gauge at X,Y size W x H")
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/startup.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/frame.h"
#include "ui/gauge.h"

namespace {

template <std::size_t N>
void copy_text(char (&field)[N], const char* text)
{
    lstrcpynA(field, text, N);
}

enum class showing { modal, path, progress };

unsigned dialog_id(const char* text) { return static_cast<unsigned>(std::atoi(text)); }

struct shown_dialog {
    showing how;
    unsigned id;
    const char* path;
    const char* text;
    bool gauge_set;
    unsigned long position, range;
};

void hold_progress_dialog(const shown_dialog& dialog, DWORD hold_ms)
{
    HWND window = open_dialog(dialog.id, silent_dialog_proc);
    if (!window) return;
    if (dialog.gauge_set) {
        HWND gauge = GetDlgItem(window, CTL_GAUGE);
        SendMessageA(gauge, GAUGE_SETRANGE, 0, static_cast<LPARAM>(dialog.range));
        SendMessageA(gauge, GAUGE_SETPOS, 0, static_cast<LPARAM>(dialog.position));
        RECT area;
        GetClientRect(gauge, &area);
        MapWindowPoints(gauge, nullptr, reinterpret_cast<POINT*>(&area), 2);
        log_line("Gauge at %d,%d size %d x %d", static_cast<int>(area.left), static_cast<int>(area.top),
                 static_cast<int>(area.right - area.left), static_cast<int>(area.bottom - area.top));
    }
    const DWORD end = GetTickCount() + hold_ms;
    while (static_cast<long>(end - GetTickCount()) > 0) {
        pump_messages();
        Sleep(20);
    }
    close_dialog(dialog.id);
}

void show_dialogs(const std::vector<shown_dialog>& dialogs, DWORD hold_ms)
{
    for (const shown_dialog& dialog : dialogs) {
        if (dialog.how == showing::progress) {
            hold_progress_dialog(dialog, hold_ms);
        } else if (dialog.how == showing::path) {
            char path[path_capacity];
            lstrcpynA(path, dialog.path, sizeof path);
            const int answer = run_path_dialog(dialog.id, path, dialog.text);
            log_line("Dialog %u answered %d, path %s", dialog.id, answer, path);
        } else {
            log_line("Dialog %u answered %d", dialog.id, run_dialog(dialog.id, dialog.text));
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    setup.app_instance = instance;
    const char* frame_title = nullptr;
    bool run_checks = false;
    std::vector<shown_dialog> dialogs;
    DWORD hold_ms = 1500;
    char* skip_names[] = {const_cast<char*>("skip")};
    for (int i = 1; i < __argc; ++i) {
        const char* option = __argv[i];
        const char* value = i + 1 < __argc ? __argv[i + 1] : "";
        auto is = [&](const char* name) { return std::strcmp(option, name) == 0; };
        if (is("--aborted")) setup.setup_aborted = 1;
        else if (is("--cancelled")) setup.install_cancelled = 1;
        else if (is("--chained")) setup.chained_run = 1;
        else if (is("--quiet")) setup.quiet_finish = 1;
        else if (is("--restart")) setup.restart_windows = 1;
        else if (is("--version-inf")) setup.write_version_inf = 1;
        else if (is("--low-space-offer")) setup.offer_low_space_program = 1;
        else if (is("--target")) copy_text(setup.target_dir, value), ++i;
        else if (is("--given")) setup.target_given = 1, copy_text(setup.given_target_dir, value), ++i;
        else if (is("--next-disk")) copy_text(setup.next_disk_command, value), ++i;
        else if (is("--fatal")) setup.fatal_error = static_cast<std::uint16_t>(std::atoi(value)), ++i;
        else if (is("--package-version")) copy_text(setup.package_version, value), ++i;
        else if (is("--package-file")) copy_text(setup.package_file, value), ++i;
        else if (is("--low-space-program")) copy_text(setup.low_space_program, value), ++i;
        else if (is("--frame")) frame_title = value, ++i;
        else if (is("--checks")) run_checks = true;
        else if (is("--check-system")) setup.check_system = 1;
        else if (is("--msie")) setup.required_msie_build = static_cast<std::uint32_t>(std::atoi(value)), ++i;
        else if (is("--msie-skip")) setup.msie_skip_list = {1, skip_names};
        else if (is("--show")) dialogs.push_back({showing::modal, dialog_id(value), "", nullptr, false, 0, 0}), ++i;
        else if (is("--open")) dialogs.push_back({showing::progress, dialog_id(value), "", nullptr, false, 0, 0}), ++i;
        else if (is("--show-path") && i + 2 < __argc)
            dialogs.push_back({showing::path, dialog_id(value), __argv[i + 2], nullptr, false, 0, 0}), i += 2;
        else if (is("--text") && !dialogs.empty()) dialogs.back().text = value, ++i;
        else if (is("--hold")) hold_ms = static_cast<DWORD>(std::atoi(value)), ++i;
        else if (is("--gauge") && !dialogs.empty() &&
                 std::sscanf(value, "%lu/%lu", &dialogs.back().position, &dialogs.back().range) == 2)
            dialogs.back().gauge_set = true, ++i;
        else return 2;
    }
    if (frame_title && !create_frame(frame_title)) return 3;
    show_dialogs(dialogs, hold_ms);
    if (run_checks) run_requirement_checks();
    finish_run();
    return 0;
}
