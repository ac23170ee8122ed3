// The program's entry and the frame of the whole run: start-up, requirement checks, finish.
#pragma once

#include <windows.h>

// The whole run; returns 0 in every case.
int run_setup(HINSTANCE instance, const char* command_line);

bool window_class_exists(const char* class_name);

// Starts the program at `path` (a 16-bit one too) as a new detached process without waiting,
// with its quoted path as its command line; the process handle, or none.
HANDLE start_program(const char* path, int show_state);

// The call start_program makes: CreateProcessA, unless a test puts in one that records it.
using create_process_call = decltype(&CreateProcessA);
extern create_process_call create_process;

void run_requirement_checks();

// The finish of the run, from VERSION.INF to the restart of Windows (see finish.cpp).
void finish_run();
void decide_restart();
