// The DOS game's program information file, VEDUROV.PIF in the Windows directory, made just
// before the game itself is installed: a fixed template with the game's path filled in.
#pragma once

#include <cstddef>

constexpr std::size_t game_pif_size = 545;

// 1 when the file was written and closed. A target_dir of more than 50 characters, whose game
// path would not fit the template's field, writes nothing.
int write_game_pif();
