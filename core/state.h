// The game record, the catalogue of the 54 benchmark games and the program-wide state that the
// benchmark, display, settings and score-file code share. Touched on the UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/ini_file.h"
#include "storage/string_list.h"

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

struct ProgramState {
  std::string base_dir;       // working directory + "/"; every file is base_dir + name
  std::string mame_file;      // emulator file name, without a directory
  int32_t current_game = 0;   // catalogue index of the pass being run
  std::string current_rom;    // rom of the pass being run
  bool pass_is_d3d = false;   // method of the pass being run
  bool both_pending = false;  // the Direct3D pass of a combined benchmark is to follow
  // The game that Direct3D pass runs for once a start refused during the first pass has kept
  // it; 0 when none was kept and the game selected then is taken.
  int32_t second_pass_game = 0;
  std::string d3d_options, ddraw_options;
  int32_t reference_count = 0;                     // reference computers read from reference.dat
  std::vector<Tgameinfo> games;                    // empty until BuildCatalogue
  std::vector<std::vector<Tgameinfo>> references;  // row 0 empty once LoadReferences ran
  std::vector<std::string> pass_log;   // the emulator's output lines of the running pass
  TStringList score_lines;             // scratch list for writing mark.dat
  std::unique_ptr<TIniFile> settings;  // velotrax.ini, made by LoadSettings
  bool scores_unreadable = false;      // mark.dat failed to load: keep it as mark.dat.bak
};

// The main window's creation step: base_dir from the working directory, mame_file "mame.exe",
// score_lines empty.
void InitProgramState(ProgramState& state);

// Fills games with the placeholder and the 54 games, all scores 0.
void BuildCatalogue(ProgramState& state);

// The name the game selector shows for catalogue entry index ("Asteroid" for entry 2).
std::string GameSelectorItem(int index);

}  // namespace velotrax
