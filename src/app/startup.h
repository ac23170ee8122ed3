// The program's entry and the frame of the whole run: start-up, requirement checks, finish.
#pragma once

#include <windows.h>

// The whole run; returns 0 in every case.
int run_setup(HINSTANCE instance, const char* command_line);

bool window_class_exists(const char* class_name);

// Starts a program as a new detached process without waiting; the process handle, or none.
HANDLE start_program(const char* path, const char* command_line, int show_state);

void run_requirement_checks();

// The finish of the run, from VERSION.INF to the restart of Windows (see finish.cpp).
void finish_run();
void decide_restart();
