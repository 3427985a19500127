// Uses Velotrax's core library from outside: the catalogue and the integer conversions.
#include <cstdio>

#include "core/state.h"
#include "storage/int_text.h"

int main() {
  velotrax::ProgramState state;
  velotrax::BuildCatalogue(state);
  const int32_t games = velotrax::TextToInt(velotrax::IntToText(velotrax::game_count - 1));
  std::printf("%d games, the first %s\n", games, state.games.at(1).rom.c_str());
  return games == 54 && state.games.size() == static_cast<std::size_t>(velotrax::game_count) ? 0
                                                                                             : 1;
}
