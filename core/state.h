// The catalogue of the 54 benchmark games and the program-wide state, in parts by concern: the
// catalogue and scores, the settings (storage/stored_state.h), the pass in flight and the
// emulators' identities. Touched on the UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/game.h"
#include "emulator/emulator_dialect.h"
#include "storage/stored_state.h"

namespace velotrax {

// The pass in flight: which game and method run, the options they run with, the emulator's
// output so far and how that output is read.
struct PassState {
  int32_t current_game = 0;   // catalogue index of the pass being run
  std::string current_rom;    // rom of the pass being run
  bool pass_is_d3d = false;   // method of the pass being run
  bool both_pending = false;  // the Direct3D pass of a combined benchmark is to follow
  // The game that Direct3D pass runs for once a start refused during the first pass has kept
  // it; 0 when none was kept and the game selected then is taken.
  int32_t second_pass_game = 0;
  std::string d3d_options, ddraw_options;
  std::vector<std::string> pass_log;  // the emulator's output lines of the running pass
  PassPlan pass_plan;                 // how the running pass was started and is read
};

// The emulators' identities: what each emulator file is, asked once per file.
struct EmulatorState {
  EmulatorDialects emulators;
};

// The whole program state; each function takes the smallest part it needs.
struct ProgramState : StoredState, PassState, EmulatorState {};

// The main window's creation step: base_dir from the working directory, mame_file "mame.exe",
// score_lines empty.
void InitProgramState(ProgramState& state);

// Fills games with the placeholder and the 54 games, all scores 0.
void BuildCatalogue(CatalogueState& state);

// The name the game selector shows for catalogue entry index ("Asteroid" for entry 2).
std::string GameSelectorItem(int index);

}  // namespace velotrax
