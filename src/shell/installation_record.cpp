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

}  // namespace

int record_installation()
{
    while (!keep_win_ini_copy() || !write_client_section() || !win_ini_came_through()) {
        settle_win_ini_copy();
        if (!ask_more_disk_space()) {
            log_line("Couldn't write WIN.INI");
            give_up_on_disk_space();
            return 0;
        }
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
