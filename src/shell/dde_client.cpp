#include "shell/dde_client.h"

#include <windows.h>

#include "app/run_state.h"
#include "support/log.h"

namespace {

LRESULT CALLBACK dde_client_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

std::uint16_t register_dde_client()
{
    WNDCLASSA client_class{};
    client_class.lpfnWndProc = dde_client_proc;
    client_class.cbWndExtra = 4;  // the partner's window handle
    client_class.hInstance = setup.app_instance;
    client_class.lpszClassName = dde_client_class_name;
    return RegisterClassA(&client_class);
}

int unregister_dde_client()
{
    return UnregisterClassA(dde_client_class_name, setup.app_instance);
}

int add_progman_item(const char*, const char*, const char*)
{
    log_line("Program Manager item: not in this build");
    return 1;
}
