// Cost of the install loop's screen updates, for the install benchmark's profile: with the frame
// up and the update progress dialog open as install_files opens them, sends the gauge N positions
// that each change the bar (so each is painted at once) and then shows N file names in the current-file field, each
// followed by the message pump the loop runs after a member (which paints the field).
//
//   gauge_cost [N]      (default 2000)
//
// Prints "gauge_cost: positions=N setpos_us=A settext_us=B", the mean microseconds of one call.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "resource_ids.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/frame.h"
#include "ui/gauge.h"
#include "ui/prompts.h"

namespace {

double seconds_now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (count <= 0) return 2;
    setup.app_instance = GetModuleHandleA(nullptr);
    if (!create_frame("Install Benchmark")) return 3;
    const HWND dialog = open_dialog(DLG_UPDATE_PROGRESS, install_progress_proc);
    if (!dialog) return 4;
    pump_messages();
    SendDlgItemMessageA(dialog, CTL_GAUGE, GAUGE_SETRANGE, 0, count);

    const double start = seconds_now();
    // Empty and full in turns: every position changes the bar, so every one is a paint.
    for (int i = 0; i < count; ++i) SendDlgItemMessageA(dialog, CTL_GAUGE, GAUGE_SETPOS, 0, i % 2 ? count : 0);
    const double positions_done = seconds_now();
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "D:\\BENCH\\DOCS\\T%05d.TXT", i);
        SetDlgItemTextA(dialog, CTL_TEXT, name);
        pump_messages();
    }
    const double texts_done = seconds_now();

    close_dialog(DLG_UPDATE_PROGRESS);
    destroy_frame();
    std::printf("gauge_cost: positions=%d setpos_us=%.1f settext_us=%.1f\n", count,
                (positions_done - start) * 1e6 / count, (texts_done - positions_done) * 1e6 / count);
    return 0;
}
