#include "app/startup.h"

#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/setup_sequence.h"
#include "install/cleanup.h"
#include "package/package_reader.h"
#include "resource_ids.h"
#include "shell/dde_client.h"
#include "shell/win_ini_copy.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/registry.h"
#include "support/run_state.h"
#include "support/strings.h"
#include "support/system_functions.h"
#include "support/text_format.h"
#include "ui/dialogs.h"
#include "ui/frame.h"

namespace {

constexpr unsigned minimum_processor = 586;
constexpr SIZE_T minimum_memory = 15000000;
constexpr int msie_build_capacity = 16;

bool file_exists(const char* path) { return path_exists(path) != 0; }

void print_to_stdout(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// A process of that executable name runs anywhere on the machine. Looked up through the tool
// help functions where kernel32 has them (the Windows 95 family, NT 5 and later).
bool process_is_running(const char* executable)
{
    using snapshot_fn = HANDLE(WINAPI*)(DWORD, DWORD);
    using walk_fn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
    auto snapshot = loaded_system_function<snapshot_fn>("kernel32.dll", "CreateToolhelp32Snapshot");
    auto first = loaded_system_function<walk_fn>("kernel32.dll", "Process32First");
    auto next = loaded_system_function<walk_fn>("kernel32.dll", "Process32Next");
    if (!snapshot || !first || !next) return false;
    HANDLE processes = snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = first(processes, &entry); more && !found; more = next(processes, &entry)) {
        const char* name = std::strrchr(entry.szExeFile, '\\');
        found = lstrcmpiA(name ? name + 1 : entry.szExeFile, executable) == 0;
    }
    CloseHandle(processes);
    return found;
}

bool client_is_running()
{
    const char* client_module = short_resource_text(STR_CLIENT_MODULE);
    return window_class_exists("QEL Frame") || window_class_exists("QEL Frame25") ||
           GetModuleHandleA(client_module) || process_is_running(client_module);
}

// Beside D:\QEL30\WIN95\SETUP.EXE the 16-bit setup is D:\QEL30\QEL31\SETUP16.EXE.
void start_16bit_setup()
{
    char path[path_capacity];
    path_directory(path, setup.package_file);
    const std::size_t length = std::strlen(path);
    if (length >= 5) path[length - 5] = '\0';
    else std::strcat(path, "\\");  // a package in a drive's root: look beside it
    const char* relative = short_resource_text(STR_SETUP16_PATH);
    if (std::strlen(path) + std::strlen(relative) < sizeof path) std::strcat(path, relative);
    if (HANDLE process = start_program(path, SW_SHOWNORMAL)) CloseHandle(process);
}

// Dialogs 227 and 228: their 16-bit button starts the 16-bit setup, Exit (406) ends the run,
// anything else goes on.
void ask_machine_question(unsigned dialog, int setup16_button)
{
    const int answer = run_dialog(dialog, nullptr);
    if (answer == setup16_button) start_16bit_setup();
    if (answer == setup16_button || answer == BTN_CANCEL) setup.setup_aborted = 1;
}

void check_machine()
{
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    MEMORYSTATUS memory{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatus(&memory);
    if (system.dwProcessorType < minimum_processor || memory.dwTotalPhys < minimum_memory)
        ask_machine_question(DLG_BELOW_REQUIREMENTS, BTN_START);
    if (!setup.setup_aborted) ask_machine_question(DLG_MACHINE_CHECK, BTN_SETUP16);
}

void check_browser()
{
    char build_text[msie_build_capacity] = "";
    long build = 0;
    if (reg_read_string(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", "Build", build_text,
                        sizeof build_text, 0) == ERROR_SUCCESS)
        build = std::strtol(build_text, nullptr, 10);
    if (build < static_cast<long>(setup.required_msie_build)) {
        log_line("Required MSIE not present");
        show_error(resource_text(1, STR_NEEDS_MSIE));
        setup.setup_aborted = 1;
    }
}

void check_platform()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32s) {
        show_error(resource_text(1, STR_NEEDS_WIN95));
        setup.setup_aborted = 1;
    }
}

}  // namespace

bool window_class_exists(const char* class_name) { return FindWindowA(class_name, nullptr) != nullptr; }

create_process_call create_process = CreateProcessA;

HANDLE start_program(const char* path, int show_state)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show_state);
    PROCESS_INFORMATION process{};
    // The quoted path as the command line and no application name: the form a 16-bit program
    // needs, and a path with blanks reaches the program as one word. CreateProcess may write
    // into the command line, so it is a buffer of our own.
    char line[path_capacity + 2];
    const int length = format_text(line, sizeof line, "\"%s\"", path);
    if (length < 0 || length >= static_cast<int>(sizeof line)) return nullptr;
    if (!create_process(nullptr, line, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

void run_requirement_checks()
{
    if (setup.check_system) check_machine();
    if (setup.required_msie_build != 0 && setup.msie_skip_list.count == 0) check_browser();
    check_platform();
    if (!setup.setup_aborted) run_setup_sequence();
}

int run_setup(HINSTANCE instance, const char* command_line)
{
    setup.next_disk_started = 0;
    setup.app_instance = instance;
    // Memory and disk space that run out are asked about with the user interface's box.
    answer_base_questions();
    use_system_code_page();

    if (window_class_exists(frame_class_name)) {
        SetForegroundWindow(FindWindowA(frame_class_name, nullptr));
        return 0;
    }
    if (client_is_running()) {
        show_error(resource_text(1, STR_CLIENT_RUNNING));
        return 0;
    }
    GetWindowsDirectoryA(setup.windows_dir, 257);

    parse_command_line(command_line, file_exists, print_to_stdout);
    if (setup.setup_aborted && setup.target_given) return 0;

    if (setup.crash_mode) log_line("Opt: Crash mode");
    if (setup.skip_modem) log_line("Opt: Skip modem");
    if (setup.package_file[0]) log_line("Opt: Install file = %s", setup.package_file);
    // A run stopped while it wrote WIN.INI may have left it cut short, beside its whole copy;
    // the search for the client below reads WIN.INI.
    settle_win_ini_copy();
    register_dde_client();

    if (open_package() && read_package() && create_frame(setup.product_name)) run_requirement_checks();
    close_package();
    // The rename rules' deferred moves end with the package they came from; their count has
    // served the merge stage by now.
    release_deferred_moves();
    finish_run();
    return 0;
}
