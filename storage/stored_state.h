// The parts of the program state that the score files and the settings file read and write.
// Touched on the UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/game.h"
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/string_list.h"

namespace velotrax {

// The catalogue and the scores: what mark.dat and reference.dat hold, and the folder every file
// of the program sits in.
struct CatalogueState {
  std::string base_dir;                            // working directory + "/"
  int32_t reference_count = 0;                     // reference computers read from reference.dat
  std::vector<Tgameinfo> games;                    // empty until BuildCatalogue
  std::vector<std::vector<Tgameinfo>> references;  // row 0 empty once LoadReferences ran
  TStringList score_lines;                         // scratch list for writing mark.dat
  bool scores_unreadable = false;    // mark.dat failed to load: keep it as mark.dat.bak
  bool damaged_scores_kept = false;  // mark.dat.bak holds that file: later saves leave it
  // mark.dat as last read or written here: the values it held (none read: no description, all
  // scores 0) and its stamp (no file: all 0). A value that still equals the one read was not
  // changed here, and another program's newer value for it is taken.
  std::vector<Tgameinfo> scores_as_read;
  FileStamp scores_stamp;
};

// The settings: the emulator velotrax.ini names and the open file itself.
struct SettingsState {
  std::string mame_file;               // emulator file name, without a directory
  std::unique_ptr<TIniFile> settings;  // velotrax.ini, made by LoadSettings
};

// Everything the files hold. The settings code takes both parts: velotrax.ini sits in base_dir.
struct StoredState : CatalogueState, SettingsState {};

}  // namespace velotrax
