// Whether the package fits on the drive of a directory, asked before anything is installed. The
// estimate counts whole clusters of that drive and writes every step to the setup log, so the log
// shows how the verdict was reached; the callers choose what the user is told.
#pragma once

#include <cstdint>

// 1 when the estimate fits on drive `drive` (0 is A:), 0 when it does not or the drive cannot be
// used (its root is not writable, or its free space cannot be read). `directory` is where present
// copies of the members are counted as savings. `needed`, when given, receives the final need in
// bytes (0xFFFFFFFF when it passes 32 bits), or 0 when the drive was not examined.
int check_disk_space(int drive, const char* directory, std::uint32_t* needed);

// Bytes the package will occupy on a drive of `cluster`-byte clusters (see members_space).
std::uint64_t space_needed(std::uint32_t cluster);

// Bytes that members present in `directory` occupy and the package replaces (see replaced_space):
// each member's name is joined unchanged to the directory.
std::uint64_t existing_savings(std::uint32_t cluster, const char* directory);

// Whether the drive of `directory` (a path beginning with its letter) has `extra` bytes free
// beyond what the package will occupy, as the estimate counts it.
bool room_beyond_need(const char* directory, std::uint64_t extra);
