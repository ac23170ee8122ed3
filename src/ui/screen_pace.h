// Progress that is reported far more often than anyone can follow it (each chunk of a member,
// each record of a merge): the gauge moves, held texts go up and messages are pumped at most
// every setup.screen_pace_ms, the first report at once. Under Wine each position stored, each
// drawing and each look at the message queue is a request to the window server. A Cancel is seen
// within one pace.
#pragma once

#include <windows.h>

#include <cstdint>

struct screen_pace {
    HWND gauge = nullptr;     // none: only the messages are paced
    std::uint32_t position = 0;
    bool held = false;        // `position` has not gone to the gauge yet
    bool turned = false;      // the first turn is due at once
    DWORD last_turn = 0;
};

// The position is held; when a turn is due it goes to the gauge, and the turn is taken.
void pace_gauge(screen_pace& pace, std::uint32_t position);
// When a turn is due: the held position to the gauge, held texts up (dialogs.h), messages pumped.
void pace_turn(screen_pace& pace);
// The held position goes to the gauge now.
void settle_gauge(screen_pace& pace);
