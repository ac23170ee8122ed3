#include "app/setup_sequence.h"

#include "app/run_state.h"

// Reached only once a package has been read; the stages it runs are added with the installer.
void run_setup_sequence() {}
