#include "storage/score_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/errors.h"
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/int_text.h"
#include "storage/string_list.h"
#include "storage/system_error.h"

namespace velotrax {

namespace {

// Scores can be read and written only for the built catalogue; before it exists there is
// nothing to load into and nothing that may replace the file.
bool CatalogueBuilt(const StoredState& state) {
  return static_cast<int>(state.games.size()) == game_count;
}

// Keeps a copy of the score file that could not be read, so the save that follows does not
// destroy the only copy of the user's scores.
// A pipe put in its place is refused rather than waited on.
void KeepUnreadableScores(const std::string& path) {
  std::string bytes;
  FileStamp stamp;
  if (const char* call = ReadRegularFile(path, SIZE_MAX - 1, bytes, stamp)) {
    const int error = errno;
    if (error == ENOENT) return;  // gone since: nothing to keep
    throw WithSystemCall<EFCreateError>(
        "Cannot create file \"" + path + ".bak\". " + SystemErrorText(error), error, call);
  }
  SaveBytesToFile(path + ".bak", bytes);
}

}  // namespace

void LoadScores(StoredState& state) {
  if (!CatalogueBuilt(state)) return;
  TIniFile profile(state.base_dir + "mark.dat");
  try {
    state.games[0].cpu = profile.ReadValue("0", "cpu", "");
    for (int i = 1; i < game_count; ++i) {
      Tgameinfo& game = state.games[i];
      game.d3d = TextToInt(profile.ReadValue("0", game.rom, ""));
      game.ddraw = TextToInt(profile.ReadValue("0", game.rom + "a", ""));
    }
  } catch (const EConvertError&) {
    state.scores_unreadable = true;
    throw;
  }
}

void LoadReferences(StoredState& state,
                    const std::function<void(const std::string& name)>& append_reference_item) {
  // Row 0 stands for "Select reference" and must exist whatever happens below.
  state.references.assign(1, std::vector<Tgameinfo>(game_count));
  state.reference_count = 0;

  const std::string path = state.base_dir + "reference.dat";
  if (!FileIsPresent(path) || !CatalogueBuilt(state)) return;

  TIniFile profile(path);
  // A negative count means no reference computers.
  state.reference_count = std::max(0, TextToInt(profile.ReadValue("0", "reference", "")));

  std::vector<std::string> d3d_keys(game_count), ddraw_keys(game_count);
  for (int i = 1; i < game_count; ++i) {
    d3d_keys[i] = state.games[i].rom;
    ddraw_keys[i] = state.games[i].rom + "a";
  }

  // Rows are added one by one as their sections are read, so a count far beyond the sections
  // present ends in the conversion error at the first missing one, not in a huge table; room for
  // the row handles of a plausible count is taken at once.
  constexpr int32_t kReservedRows = 4096;
  state.references.reserve(
      static_cast<std::size_t>(std::min(state.reference_count, kReservedRows)) + 1);
  for (int32_t n = 1; n <= state.reference_count; ++n) {
    const std::string section = IntToText(n);
    state.references.emplace_back(game_count);
    std::vector<Tgameinfo>& row = state.references.back();
    row[0].cpu = profile.ReadValue(section, "cpu", "");
    for (int i = 1; i < game_count; ++i) {
      row[i].d3d = TextToInt(profile.ReadValue(section, d3d_keys[i], ""));
      row[i].ddraw = TextToInt(profile.ReadValue(section, ddraw_keys[i], ""));
    }
    if (append_reference_item) append_reference_item(row[0].cpu);
    if (n == INT32_MAX) break;
  }
}

void SaveScores(StoredState& state) {
  if (!CatalogueBuilt(state)) return;
  TStringList& lines = state.score_lines;
  lines.ClearLines();
  lines.AppendLine("[0]");
  // The description is one line of the file; a line break in it would forge other entries.
  std::string description = state.games[0].cpu;
  std::replace(description.begin(), description.end(), '\r', ' ');
  std::replace(description.begin(), description.end(), '\n', ' ');
  lines.AppendLine("cpu=" + description);
  for (int i = 1; i < game_count; ++i) {
    const Tgameinfo& game = state.games[i];
    lines.AppendLine(game.rom + "=" + IntToText(game.d3d));
    lines.AppendLine(game.rom + "a=" + IntToText(game.ddraw));
  }

  const std::string path = state.base_dir + "mark.dat";
  if (state.scores_unreadable) {
    KeepUnreadableScores(path);
    state.scores_unreadable = false;
  }
  lines.SaveLinesToFile(path);
}

}  // namespace velotrax
