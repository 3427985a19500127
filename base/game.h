// The game record and the catalogue's size, shared by every layer.
#pragma once

#include <cstdint>
#include <string>

namespace velotrax {

// One game's scores; entry 0 of a row carries a computer's name in cpu.
struct Tgameinfo {
  std::string cpu, rom, driver;
  int32_t d3d = 0, ddraw = 0;
  std::string extra;
};

// Entries of the catalogue and of every reference row, the placeholder entry 0 included.
inline constexpr int game_count = 55;

// Which pass-mode radio button is checked; none only if no button is.
enum class PassMode { none, ddraw, d3d, both };

}  // namespace velotrax
