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
#include "storage/profile_syntax.h"
#include "storage/string_list.h"
#include "storage/system_error.h"

namespace velotrax {

namespace {

// Scores can be read and written only for the built catalogue; before it exists there is
// nothing to load into and nothing that may replace the file.
bool CatalogueBuilt(const CatalogueState& state) {
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

// The longest value a profile read hands back.
constexpr std::size_t kMaxValueLength = 2047;

std::string ScoresPath(const CatalogueState& state) {
  return state.base_dir + "mark.dat";
}

// The score file as read at one moment, in one read; a file that cannot be read is absent.
struct ScoreFile {
  bool present = false;
  FileStamp stamp;  // all 0 when absent
  ParsedProfile profile;
};

ScoreFile ReadScoreFile(const std::string& path) {
  ScoreFile file;
  std::string bytes;
  if (ReadRegularFile(path, ParsedProfile::kMaxBytes, bytes, file.stamp) != nullptr) return {};
  file.present = true;
  file.profile = ParsedProfile(std::move(bytes));
  return file;
}

// Reads the description and the scores into games, each value as a profile object reads it;
// throws EConvertError at the first score that is no integer, the values before it stored.
void ReadScores(const ParsedProfile& profile, std::vector<Tgameinfo>& games) {
  const uint32_t section = profile.FindSection("0");
  uint32_t hint = ParsedProfile::kNone;  // the keys are asked for in the order they are written
  auto value = [&](std::string_view key) {
    if (section == ParsedProfile::kNone) return std::string();
    const uint32_t e = profile.FindEntry(section, key, hint);
    if (e == ParsedProfile::kNone) return std::string();
    hint = e;
    return std::string(profile.Text(profile.Entries()[e].value).substr(0, kMaxValueLength));
  };
  games[0].cpu = value("cpu");
  for (int i = 1; i < game_count; ++i) {
    Tgameinfo& game = games[i];
    game.d3d = TextToInt(value(game.rom));
    game.ddraw = TextToInt(value(game.rom + "a"));
  }
}

void RememberAsRead(CatalogueState& state, const std::vector<Tgameinfo>& values,
                    const FileStamp& stamp) {
  state.scores_as_read = values;
  state.scores_stamp = stamp;
}

// Takes the file's value for every score (and the description) that this process has not
// changed since it last read or wrote the file, and remembers the file's values as read. A file
// that is missing or does not read whole changes nothing. True when a value changed.
bool TakeChangesOfOthers(CatalogueState& state, const ScoreFile& file) {
  if (!file.present) return false;
  std::vector<Tgameinfo> on_file = state.games;
  try {
    ReadScores(file.profile, on_file);
  } catch (const EConvertError&) {
    return false;
  }
  std::vector<Tgameinfo> as_read = state.scores_as_read;
  if (as_read.size() != state.games.size()) as_read.assign(state.games.size(), Tgameinfo{});
  bool changed = false;
  auto take = [&changed](auto& mine, const auto& read, const auto& theirs) {
    if (mine != read || mine == theirs) return;
    mine = theirs;
    changed = true;
  };
  take(state.games[0].cpu, as_read[0].cpu, on_file[0].cpu);
  for (int i = 1; i < game_count; ++i) {
    take(state.games[i].d3d, as_read[i].d3d, on_file[i].d3d);
    take(state.games[i].ddraw, as_read[i].ddraw, on_file[i].ddraw);
  }
  RememberAsRead(state, on_file, file.stamp);
  return changed;
}

}  // namespace

void LoadScores(CatalogueState& state) {
  if (!CatalogueBuilt(state)) return;
  const ScoreFile file = ReadScoreFile(ScoresPath(state));
  try {
    ReadScores(file.profile, state.games);
  } catch (const EConvertError&) {
    state.scores_unreadable = true;
    RememberAsRead(state, state.games, file.stamp);
    throw;
  }
  RememberAsRead(state, state.games, file.stamp);
}

bool ReloadChangedScores(CatalogueState& state) noexcept {
  if (!CatalogueBuilt(state)) return false;
  try {
    const std::string path = ScoresPath(state);
    FileStamp on_disk;
    if (StampOfRegularFile(path, on_disk) && on_disk == state.scores_stamp) return false;
    return TakeChangesOfOthers(state, ReadScoreFile(path));
  } catch (...) {
    return false;  // a file that does not read leaves what is shown
  }
}

void LoadReferences(CatalogueState& state,
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

void SaveScores(CatalogueState& state) {
  if (!CatalogueBuilt(state)) return;
  const std::string path = ScoresPath(state);
  // Another process of ours saving scores waits until this file is in place, and this one until
  // theirs is, so that each starts from the other's file.
  const DirectoryWriteLock turn(path);
  if (state.scores_unreadable) {
    KeepUnreadableScores(path);
    state.scores_unreadable = false;
    state.damaged_scores_kept = true;
  }
  // Another program may have stored scores since the file was read here: they stay, except
  // where this process has a value of its own.
  const ScoreFile old_file = ReadScoreFile(path);
  if (!(old_file.stamp == state.scores_stamp)) TakeChangesOfOthers(state, old_file);

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
  lines.SaveLinesToFile(path);

  FileStamp written;
  RememberAsRead(state, state.games, StampOfRegularFile(path, written) ? written : FileStamp{});
  // The file replaced stays beside the new one until the next save that changes it. Only a
  // courtesy: the new scores are in place whether or not it can be written.
  std::string new_bytes;
  for (std::size_t i = 0; i < lines.Count(); ++i) new_bytes += lines[i] + "\r\n";
  if (old_file.present && old_file.profile.Bytes() != new_bytes && !state.damaged_scores_kept) {
    ReplaceFileContents(path + ".bak", old_file.profile.Bytes());
  }
}

}  // namespace velotrax
