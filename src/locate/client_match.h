// Which client builds a package accepts, from the main database's version record.
#pragma once

#include <cstdint>

#include "support/run_state.h"

// An entry below 256 names a major number alone; any entry also matches major + 256 * minor.
// 1 when some entry of `accepted` matches.
int build_accepted(const number_list& accepted, std::uint8_t major, std::uint8_t minor);
