// The command line: options -C -D -M -P -R -T -V -X, parsed once at start-up into the run-wide state.
#pragma once

// The existence test and the output are handed in, so the parser runs the same in the
// program (file system, standard output) and in tests.
using path_exists_test = bool (*)(const char* path);
using print_text = void (*)(const char* text);

// Fills the options of `setup`; a null text leaves everything unchanged. A bad -T sets
// `setup_aborted` and `target_given`, prints its message and stops the parse.
void parse_command_line(const char* text, path_exists_test exists, print_text print);
