#include "app/run_state.h"

run_state initial_run_state()
{
    run_state fresh{};
    fresh.package_handle = -1;
    return fresh;
}

run_state setup = initial_run_state();
