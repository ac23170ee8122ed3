// The hidden client window that talks to Program Manager over DDE.
#pragma once

#include <cstdint>

constexpr const char* dde_client_class_name = "DDEClient";

std::uint16_t register_dde_client();
int unregister_dde_client();
