// The finish of a run: VERSION.INF, the restart decision, the next disk, the closing dialogs,
// the low-space program, the fatal error, the log and the restart of Windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "resource_ids.h"
#include "shell/dde_client.h"
#include "support/file_replace.h"
#include "support/log.h"
#include "support/memory.h"
#include "support/paths.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/frame.h"

namespace {

constexpr int no_verdict = 0x7FFFFFFF;

// Both keys of VERSION.INF into the file at `path`, and the system's cache of it let go, so that
// the file can be renamed (the flush answers FALSE on some systems even when it flushed).
bool write_version_keys(const char* path)
{
    const bool written =
        WritePrivateProfileStringA("Application Information", "Application", "qel.exe", path) &&
        WritePrivateProfileStringA("Application Information", "Version", setup.package_version, path);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    return written;
}

// Whether the file's own bytes hold both keys: a system may answer a profile write on a full
// disk with success and leave the file empty.
bool holds_version_keys(const char* path)
{
    static char text[16384];
    const HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) return false;
    const UINT length = _lread(file, text, sizeof text - 1);
    _lclose(file);
    if (length == static_cast<UINT>(HFILE_ERROR)) return false;
    if (length == sizeof text - 1) return true;  // larger than the keys' section could leave it
    text[length] = '\0';
    char version_line[64];
    format_text(version_line, sizeof version_line, "Version=%s", setup.package_version);
    return std::strstr(text, "Application=qel.exe") && std::strstr(text, version_line);
}

// VERSION.INF: both keys are written into a copy of the file (other content stays), which then
// replaces it in one step, so the file never holds one key new and the other old, nor a part of
// itself on a full disk. A full disk gets string 34050; given up, the run is stopped and reports
// no success. False then.
// After a fatal error (a damaged package, say, with no client folder yet) the keys are written
// where they can be and failures pass without a question, as nothing was installed to report on.
bool write_version_file()
{
    // No client folder yet (a run that failed early): there is nowhere to write it.
    if (!setup.target_dir[0]) return true;
    const bool failures_pass = setup.fatal_error != 0;
    char path[path_capacity];
    char partial_path[path_capacity];
    char aside[path_capacity];
    join_path(path, setup.target_dir, "VERSION.INF", nullptr);
    join_path(partial_path, setup.target_dir, "QELVERS.TMP", nullptr);
    // A folder so deep that no name beside the file fits: nothing can be put in place there.
    if (!aside_name(path, aside)) return failures_pass;
    for (;;) {
        DeleteFileA(partial_path);
        const bool written = (!path_exists(path) || CopyFileA(path, partial_path, FALSE)) &&
                             write_version_keys(partial_path) && holds_version_keys(partial_path) &&
                             put_in_place(partial_path, path);
        if (written) return true;
        DeleteFileA(partial_path);
        if (failures_pass) return true;
        if (!ask_more_disk_space()) break;
    }
    log_line("Couldn't write %s", path);
    give_up_on_disk_space();
    return false;
}

// The command that starts the next disk; -P goes last because it takes the rest of the line.
void build_next_disk_command(char* command, std::size_t capacity)
{
    format_text(command, capacity, "%s%s -P %s", setup.next_disk_command, setup.restart_windows ? " -R " : "",
                setup.target_dir);
}

void offer_next_disk()
{
    for (;;) {
        if (run_dialog(DLG_NEXT_DISK, nullptr) != BTN_START) {
            setup.next_disk_started = 0;
            return;
        }
        log_line("User installing next disk: %s", setup.next_disk_command);
        setup.next_disk_started = 1;
        char command[path_capacity * 2];
        build_next_disk_command(command, sizeof command);
        if (WinExec(command, SW_SHOW) >= 32) return;
    }
}

void show_closing_dialogs()
{
    if (!setup.quiet_finish) {
        if (!setup.next_disk_command[0] && setup.chained_run) {
            run_dialog(DLG_INSTALLED, nullptr);
        } else if (!setup.target_given) {
            run_dialog(DLG_UPDATED, nullptr);
        } else {
            char line[path_capacity + 64];
            format_text(line, sizeof line, "We successfully updated QEL in path %s\n", setup.given_target_dir);
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
        }
    }
    if (setup.restart_windows && run_dialog(DLG_RESTART, nullptr) != BTN_OK) setup.restart_windows = 0;
}

void offer_low_space_program()
{
    setup.fatal_error = 0;
    if (run_dialog(DLG_LOW_SPACE_PROGRAM, nullptr) != BTN_RUN_PROGRAM) return;
    char directory[path_capacity];
    char program[path_capacity];
    path_directory(directory, setup.package_file);
    join_path(program, directory, setup.low_space_program, nullptr);
    if (HANDLE process = start_program(program, SW_SHOWNORMAL)) CloseHandle(process);
}

// NT grants the right to restart only to a process that has switched it on.
void enable_shutdown_privilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

}  // namespace

void decide_restart()
{
    // Before the client's folder is known (a run that failed early) there is no library to ask.
    if (!setup.target_dir[0]) return;
    char path[path_capacity];
    join_path(path, setup.target_dir, "inshlp32.dll", nullptr);
    HMODULE library = load_library_from(path);
    if (!library) return;
    using flag_export = int(__cdecl*)(int);
    using plain_export = int(__cdecl*)();
    int verdict = no_verdict;
    if (auto do_not_reboot = reinterpret_cast<flag_export>(GetProcAddress(library, "do_not_reboot")))
        verdict = do_not_reboot(1);
    if (auto install_qelmac = reinterpret_cast<flag_export>(GetProcAddress(library, "install_qelmac")))
        verdict = install_qelmac(static_cast<int>(reinterpret_cast<INT_PTR>(setup.frame_window)));
    if (auto check_reboot_flag = reinterpret_cast<plain_export>(GetProcAddress(library, "check_reboot_flag")))
        verdict = check_reboot_flag();
    if (verdict != 0) setup.restart_windows = 1;
    FreeLibrary(library);
}

void finish_run()
{
    if (!setup.setup_aborted && !setup.install_cancelled) {
        const bool recorded = !setup.write_version_inf || write_version_file();
        decide_restart();
        if (!recorded) {
            if (!setup.low_space_program[0]) run_dialog(DLG_SETUP_STOPPED, nullptr);
        } else {
            if (setup.next_disk_command[0] && setup.fatal_error == 0) offer_next_disk();
            if (!setup.next_disk_started && setup.fatal_error == 0) show_closing_dialogs();
        }
    } else if (setup.chained_run) {
        if (!setup.quiet_finish) run_dialog(DLG_NOT_FINISHED, nullptr);
        setup.fatal_error = 0;  // a chained disk reports no error of its own
    }

    if (setup.offer_low_space_program) offer_low_space_program();
    destroy_frame();
    log_line("Peak handles = %u", peak_blocks);
    if (setup.fatal_error) {
        log_line("Fatal error #%u", setup.fatal_error);
        show_error(resource_text(2, STR_FATAL_ERROR, STR_FATAL_ERROR_ADVICE), setup.fatal_error);
    }
    close_log();
    unregister_dde_client();
    if (!setup.next_disk_started && setup.restart_windows) {
        enable_shutdown_privilege();
        ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
    }
}
