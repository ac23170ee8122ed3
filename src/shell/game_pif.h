// The DOS game's program information file, VEDUROV.PIF in the Windows directory, made just
// before the game itself is installed.
#pragma once

int write_game_pif();
