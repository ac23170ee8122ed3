// Drives the requirement checks and the finish of a run with the run-wide state set from its
// command line, so that every branch can be tested without a package. Options (each sets one field):
//   --aborted --cancelled --chained --quiet --restart --version-inf --low-space-offer
//   --check-system --msie-skip --target DIR --given DIR --next-disk CMD --fatal N
//   --package-version V --package-file PATH --low-space-program NAME --msie BUILD
//   --frame TITLE (creates the frame first) --checks (runs the requirement checks before the finish)
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "app/run_state.h"
#include "app/startup.h"
#include "ui/frame.h"

namespace {

template <std::size_t N>
void copy_text(char (&field)[N], const char* text)
{
    lstrcpynA(field, text, N);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    setup.app_instance = instance;
    const char* frame_title = nullptr;
    bool run_checks = false;
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
        else return 2;
    }
    if (frame_title && !create_frame(frame_title)) return 3;
    if (run_checks) run_requirement_checks();
    finish_run();
    return 0;
}
