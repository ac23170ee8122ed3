#include "shell/dde_client.h"

#include <windows.h>
#include <dde.h>

#include <cstring>

#include "support/log.h"
#include "support/run_state.h"
#include "support/text_format.h"

namespace {

constexpr UINT DDE_CLIENT_EXECUTE = WM_USER;
constexpr int command_capacity = 256;

HWND partner_of(HWND window) { return reinterpret_cast<HWND>(GetWindowLongPtrA(window, 0)); }
void set_partner(HWND window, HWND partner) { SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(partner)); }

void post_terminate(HWND to, HWND from) { PostMessageA(to, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(from), 0); }

// Waits at most dde_ack_timeout_ms for the partner's acknowledgement, taking it off the queue
// undispatched. 1 positive, 0 negative; -1 when none came.
int wait_for_ack(HWND window)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        if (PeekMessageA(&message, window, WM_DDE_ACK, WM_DDE_ACK, PM_REMOVE)) {
            UINT_PTR status = 0, commands = 0;
            if (!UnpackDDElParam(WM_DDE_ACK, message.lParam, &status, &commands)) status = 0;
            FreeDDElParam(WM_DDE_ACK, message.lParam);
            return (status & 0x8000) ? 1 : 0;
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= dde_ack_timeout_ms) return -1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dde_ack_timeout_ms - waited, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

LRESULT execute(HWND window, LPARAM command_block)
{
    const HWND partner = partner_of(window);
    if (!partner) return 0;
    if (!PostMessageA(partner, WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(window), command_block)) return 0;
    const int answer = wait_for_ack(window);
    if (answer >= 0) return answer;
    // A server that does not answer is given up for the rest of the conversation, so the
    // commands after it fail at once instead of each waiting again.
    log_line("No answer from the DDE server in %lu ms", static_cast<unsigned long>(dde_ack_timeout_ms));
    post_terminate(partner, window);
    set_partner(window, nullptr);
    return 0;
}

struct initiate {
    HWND client;
    LPARAM atoms;
    int unanswered;
};

// The initiate to one top-level window, as a broadcast would send it, but bounded: a window that
// hangs (or never returns from the message) costs dde_initiate_timeout_ms, not the whole setup.
BOOL CALLBACK initiate_with(HWND window, LPARAM context)
{
    auto& call = *reinterpret_cast<initiate*>(context);
    if (window == call.client) return TRUE;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(call.client), call.atoms,
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, dde_initiate_timeout_ms, &answer))
        ++call.unanswered;
    return TRUE;
}

LRESULT CALLBACK dde_client_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        initiate call{window, reinterpret_cast<LPARAM>(create->lpCreateParams), 0};
        EnumWindows(initiate_with, reinterpret_cast<LPARAM>(&call));
        if (call.unanswered)
            log_line("%d window(s) did not answer the DDE initiate in %lu ms", call.unanswered,
                     static_cast<unsigned long>(dde_initiate_timeout_ms));
        return partner_of(window) ? 0 : -1;
    }
    case WM_DDE_ACK: {
        const HWND server = reinterpret_cast<HWND>(wparam);
        if (!partner_of(window)) set_partner(window, server);
        else if (server != partner_of(window)) post_terminate(server, window);
        // The initiate's answer carries the two atoms, which are the client's to delete.
        GlobalDeleteAtom(LOWORD(lparam));
        GlobalDeleteAtom(HIWORD(lparam));
        return 0;
    }
    case DDE_CLIENT_EXECUTE:
        return execute(window, lparam);
    case WM_DDE_DATA: {
        if (reinterpret_cast<HWND>(wparam) == partner_of(window)) return 0;
        UINT_PTR data = 0, item = 0;
        if (UnpackDDElParam(WM_DDE_DATA, lparam, &data, &item)) {
            if (data) GlobalFree(reinterpret_cast<HGLOBAL>(data));
            if (item) GlobalDeleteAtom(static_cast<ATOM>(item));
        }
        FreeDDElParam(WM_DDE_DATA, lparam);
        return 0;
    }
    case WM_DDE_TERMINATE:
        if (const HWND partner = partner_of(window)) {
            post_terminate(partner, window);
            set_partner(window, nullptr);
        }
        break;
    case WM_DESTROY:
        if (const HWND partner = partner_of(window)) post_terminate(partner, window);
        set_partner(window, nullptr);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

std::uint16_t register_dde_client()
{
    WNDCLASSA client_class{};
    client_class.lpfnWndProc = dde_client_proc;
    client_class.cbWndExtra = sizeof(LONG_PTR);  // the partner's window handle
    client_class.hInstance = setup.app_instance;
    client_class.lpszClassName = dde_client_class_name;
    return RegisterClassA(&client_class);
}

int unregister_dde_client()
{
    return UnregisterClassA(dde_client_class_name, setup.app_instance);
}

int send_dde_command(HWND client, const char* text)
{
    const std::size_t length = std::strlen(text) + 1;
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, length);
    if (!block) return 0;
    if (void* bytes = GlobalLock(block)) {
        std::memcpy(bytes, text, length);
        GlobalUnlock(block);
    }
    const LRESULT answer = SendMessageA(client, DDE_CLIENT_EXECUTE, 0, reinterpret_cast<LPARAM>(block));
    GlobalFree(block);
    return answer == 1;
}

int add_progman_item(const char* group, const char* item, const char* program_path)
{
    const ATOM application = GlobalAddAtomA("PROGMAN");
    const ATOM topic = GlobalAddAtomA("PROGMAN");
    const auto atoms = reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(MAKELONG(application, topic)));
    const HWND client = CreateWindowExA(0, dde_client_class_name, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                        setup.app_instance, atoms);
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
    if (!client) {
        log_line("Couldn't create DDE client window");
        return 0;
    }

    // Program Manager's window is kept from the user while the commands run; a shell whose
    // server answers without that window (Wine's) still gets the commands.
    const HWND manager = FindWindowA("PROGMAN", nullptr);
    const bool have_manager = IsWindow(manager);
    if (!have_manager) log_line("Couldn't find PM window");
    if (have_manager) {
        if (IsIconic(manager)) ShowWindow(manager, SW_RESTORE);
        EnableWindow(manager, FALSE);
    }

    struct step {
        const char* format;
        const char* first;
        const char* second;
        const char* failure;
    };
    const step steps[] = {
        {"[CreateGroup(%s)]", group, nullptr, "CreateGroup failed"},
        {"[AddItem(%s,%s)]", program_path, item, "AddItem failed"},
        {"[ShowGroup(%s,7)]", group, nullptr, "ShowGroup failed"},
    };
    int all_acknowledged = 1;
    for (const step& command : steps) {
        char text[command_capacity];
        // A command too long for its buffer is not sent cut short: it counts as failed.
        const int length = command.second ? format_text(text, sizeof text, command.format, command.first, command.second)
                                          : format_text(text, sizeof text, command.format, command.first);
        if (length >= command_capacity || !send_dde_command(client, text)) {
            log_line("%s", command.failure);
            all_acknowledged = 0;
        }
    }

    DestroyWindow(client);
    if (have_manager) EnableWindow(manager, TRUE);
    Sleep(500);
    return all_acknowledged;
}
