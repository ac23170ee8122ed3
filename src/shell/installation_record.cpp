#include "shell/installation_record.h"

#include <windows.h>

#include "shell/shell_entries.h"
#include "shell/win_ini_copy.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/registry.h"
#include "support/run_state.h"

namespace {

// WIN.INI's [ZOVE] keys "Installed" and "AppPath". (A single write of the whole section would
// keep the two together, but Wine answers it with success and writes nothing.)
bool write_client_section()
{
    return WriteProfileStringA("ZOVE", "Installed", "US") && WriteProfileStringA("ZOVE", "AppPath", setup.target_dir);
}

// Writes the client's keys into WIN.INI with its whole copy beside it, and looks for them in the
// file: a write that found the disk full may be answered with success (Wine's is). A failure is
// the disk's when the system says so, or when WIN.INI came out cut short (the profile writer
// saves the file anew, and a full disk cuts it); then the user is asked for room, and false is
// returned when they give up. Any other failure (a WIN.INI that cannot be written) is only
// logged: the client is updated all the same, and no question about disk space could help.
bool write_win_ini_keys()
{
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const bool kept = keep_win_ini_copy();
        DWORD error = GetLastError();
        bool written = false, whole = true;
        if (kept) {
            SetLastError(ERROR_SUCCESS);
            written = write_client_section();
            error = GetLastError();
            whole = win_ini_came_through();
            if (written && whole && win_ini_holds_client_keys()) return true;
        }
        settle_win_ini_copy();
        if (!disk_full_error(error) && whole) {
            log_line("Couldn't write WIN.INI (error %lu)", static_cast<unsigned long>(error));
            return true;
        }
        if (!ask_more_disk_space()) {
            log_line("Couldn't write WIN.INI");
            return false;
        }
    }
}

}  // namespace

int record_installation()
{
    if (!write_win_ini_keys()) {
        give_up_on_disk_space();
        return 0;
    }
    reg_update_string(HKEY_LOCAL_MACHINE, client_registry_key, "AppPath", setup.target_dir);
    reg_update_string(HKEY_CURRENT_USER, client_registry_key, "AppPath", setup.target_dir);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        register_help_contents();
        register_uninstall_entry();
    }
    return 1;
}
