#include "ui/screen_pace.h"

#include "support/run_state.h"
#include "ui/dialogs.h"
#include "ui/gauge.h"

namespace {

bool turn_due(screen_pace& pace)
{
    const DWORD now = GetTickCount();
    if (pace.turned && now - pace.last_turn < setup.screen_pace_ms) return false;
    pace.turned = true;
    pace.last_turn = now;
    return true;
}

}  // namespace

void settle_gauge(screen_pace& pace)
{
    if (pace.held) set_gauge(pace.gauge, GAUGE_SETPOS, pace.position);
    pace.held = false;
}

void pace_gauge(screen_pace& pace, std::uint32_t position)
{
    pace.position = position;
    pace.held = true;
    pace_turn(pace);
}

void pace_turn(screen_pace& pace)
{
    if (!turn_due(pace)) return;
    settle_gauge(pace);
    show_held_text();
    pump_messages();
}
