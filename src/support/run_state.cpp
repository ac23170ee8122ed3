#include "support/run_state.h"

run_state initial_run_state()
{
    run_state fresh{};
    fresh.package_handle = -1;
    fresh.screen_pace_ms = 50;
    return fresh;
}

run_state setup = initial_run_state();

void give_up_on_disk_space()
{
    setup.install_cancelled = 1;
    if (setup.low_space_program[0]) setup.offer_low_space_program = 1;
}

int stop_with(std::uint16_t error)
{
    setup.fatal_error = error;
    return 0;
}

void stop_install() { setup.install_cancelled = 1; }
