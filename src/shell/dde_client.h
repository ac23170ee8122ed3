// The hidden client window that talks to Program Manager over DDE: service and topic "PROGMAN",
// three commands that make the program's group and item.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr const char* dde_client_class_name = "DDEClient";

// How long one command waits for the server's acknowledgement. A server that lets it pass is
// given up: the commands after it fail at once.
constexpr DWORD dde_ack_timeout_ms = 10000;

// How long the initiate waits for each top-level window: one that hangs, or never returns from
// the message, is passed by after this.
constexpr DWORD dde_initiate_timeout_ms = 3000;

std::uint16_t register_dde_client();
int unregister_dde_client();

// Sends one command over the client window's conversation: 1 when the server acknowledged it
// positively.
int send_dde_command(HWND client, const char* text);

// CreateGroup, AddItem (the program's full path, then the title) and ShowGroup minimised, with
// Program Manager's window disabled meanwhile. 1 when every command was acknowledged positively.
// Failures are logged, never shown.
int add_progman_item(const char* group, const char* item, const char* program_path);
