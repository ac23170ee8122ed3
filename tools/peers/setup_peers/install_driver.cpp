// Runs the install stage alone on a bare package, as the setup sequence will once the target is
// settled: reads the package, sets target_dir (made if missing) and calls install_files. The log
// goes to TARGET\update.log; one line on standard output tells the outcome, the time
// install_files took, how often the gauge was drawn and how many current-file texts went up:
//   install_files=R fatal=N cancelled=C offer=O merge_db_dir=D moves=M ms=T gauge_draws=G texts=X
// Usage: install_driver PACKAGE TARGET [--chained] [--low-space-program NAME] [--frame]
//   --frame         puts up the full-screen frame first, as a real run has it behind the dialogs
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "install/install_loop.h"
#include "package/package_reader.h"
#include "resource_ids.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/frame.h"
#include "ui/gauge.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: install_driver PACKAGE TARGET [--chained] [--low-space-program NAME] [--frame]\n");
        return 2;
    }
    setup.app_instance = GetModuleHandleA(nullptr);
    GetWindowsDirectoryA(setup.windows_dir, path_capacity);
    use_system_code_page();
    lstrcpynA(setup.package_file, argv[1], path_capacity);
    bool frame = false;
    const char* low_space_program = nullptr;  // replaces the package's
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--chained")) setup.chained_run = 1;
        else if (!std::strcmp(argv[i], "--frame")) frame = true;
        else if (!std::strcmp(argv[i], "--low-space-program") && i + 1 < argc)
            low_space_program = argv[++i];
        else return 2;
    }
    if (!open_package() || !read_package()) {
        std::printf("package fatal=%u\n", setup.fatal_error);
        return 1;
    }
    if (low_space_program) lstrcpynA(setup.low_space_program, low_space_program, sizeof setup.low_space_program);
    lstrcpynA(setup.target_dir, argv[2], path_capacity);
    make_directory_path(setup.target_dir);
    if (frame) create_frame(setup.product_name);
    else register_gauge_class(setup.app_instance);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int result = install_files();
    QueryPerformanceCounter(&end);
    const long long ms = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;

    std::printf("install_files=%d fatal=%u cancelled=%d offer=%d merge_db_dir=%s moves=%u ms=%lld gauge_draws=%lu texts=%lu\n",
                result, setup.fatal_error, setup.install_cancelled, setup.offer_low_space_program, setup.merge_db_dir,
                setup.deferred_move_count, ms, gauge_draw_count(), paced_texts_shown());
    std::fflush(stdout);
    close_package();
    if (frame) destroy_frame();
    close_log();
    return 0;
}
