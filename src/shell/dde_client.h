// The hidden client window that talks to Program Manager over DDE.
#pragma once

#include <cstdint>

constexpr const char* dde_client_class_name = "DDEClient";

std::uint16_t register_dde_client();
int unregister_dde_client();

// The program's item in Program Manager group `group`; the conversation comes with a later
// build, and until then the call logs that and succeeds.
int add_progman_item(const char* group, const char* item, const char* program_path);
