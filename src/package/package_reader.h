// The package behind the program's image: found through the resource marker (or named by -X),
// read into the run-wide state, released at the end of the run.
#pragma once

#include <cstdint>

constexpr int io_buffer_size = 32768;
constexpr int marker_size = 28;

int open_package();
int read_package();
int close_package();
