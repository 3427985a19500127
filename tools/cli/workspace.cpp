#include <cstdio>

#include "base/errors.h"
#include "emulator/emulator_contract.h"
#include "storage/file_names.h"
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/score_files.h"
#include "storage/settings.h"
#include "storage/string_list.h"
#include "tools/cli/cli.h"
#include "tools/cli/system.h"

namespace velotrax::cli {

namespace {

// Runs load; a value of path that is no whole number comes back with the file named beside the
// conversion error's own words.
template <typename Load>
void NamingTheFileOfABadValue(const std::string& path, const char* what, Load load) {
  try {
    load();
  } catch (const EConvertError& e) {
    throw CliError(std::string(e.what()) + "\nvelotrax-cli: in \"" + path + "\" (" + what +
                   "): a value is missing or not a whole number (a missing one reads as ''); " +
                   "the file is left as it is");
  }
}

}  // namespace

void RequireWritableScores(const CatalogueState& state) {
  const std::string path = state.base_dir + "mark.dat";
  const std::string why = WhyNotReplaceable(path);
  if (!why.empty()) {
    throw CliError("the scores cannot be stored in \"" + path + "\" (" + why +
                   "); nothing was run");
  }
}

void LoadWorkspace(ProgramState& state) {
  InitProgramState(state);
  // The desktop program's emulator file, read only: this tool never creates velotrax.ini.
  // Without one it takes the emulator the desktop program's first run would find.
  const std::string settings_path = state.base_dir + "velotrax.ini";
  state.mame_file = FindEmulatorFile(state.base_dir, state.mame_file);
  if (FileIsPresent(settings_path)) {
    TIniFile settings(settings_path);
    const std::string mame_file = settings.ReadValue("velotrax", "mamefile", "");
    if (!mame_file.empty()) state.mame_file = mame_file;
  }
  BuildCatalogue(state);
  state.d3d_options = D3DOptionString;
  state.ddraw_options = DDrawOptionString;
  state.current_game = 1;
  state.pass_is_d3d = true;

  const std::string scores_path = state.base_dir + "mark.dat";
  if (FileIsPresent(scores_path)) {
    RequireReadable(scores_path);
    NamingTheFileOfABadValue(scores_path, "this computer's scores", [&] { LoadScores(state); });
  }
}

void LoadReferenceTable(ProgramState& state) {
  const std::string path = state.base_dir + "reference.dat";
  if (FileIsPresent(path)) RequireReadable(path);
  NamingTheFileOfABadValue(path, "the reference computers",
                           [&] { LoadReferences(state, nullptr); });
}

bool PrintHelpIfAsked(const std::vector<std::string>& args, const char* help) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "-h" || arg == "--help") {
      std::fputs(help, stdout);
      return true;
    }
  }
  return false;
}

bool ArgumentScanner::Next() {
  while (true) {
    if (started_) ++index_;
    started_ = true;
    if (index_ >= args_.size()) return false;
    const std::string& word = args_[index_];
    is_option_ = !only_words_ && word.size() > 1 && word.front() == '-';
    has_inline_value_ = false;
    if (!is_option_) return true;
    if (word == "--") {
      only_words_ = true;
      continue;
    }
    const std::size_t equals = word.find('=');
    has_inline_value_ = equals != std::string::npos;
    name_ = word.substr(0, equals);
    inline_value_ = has_inline_value_ ? word.substr(equals + 1) : std::string();
    return true;
  }
}

bool ArgumentScanner::NextOption(std::vector<std::string>& words) {
  while (Next()) {
    if (IsOption()) return true;
    words.push_back(Word());
  }
  return false;
}

std::string ArgumentScanner::Value() {
  if (has_inline_value_) return inline_value_;
  if (index_ + 1 >= args_.size()) throw UsageError(name_ + " needs a value");
  return args_[++index_];
}

UsageError ArgumentScanner::WrongChoice(const std::string& value,
                                        const std::vector<std::string>& names) const {
  std::string message = name_ + " must be ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) message += i + 1 == names.size() ? " or " : ", ";
    message += names[i];
  }
  return UsageError(message + ", not '" + value + "'");
}

long ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int FindGame(const CatalogueState& state, const std::string& name) {
  // PACMAN is pacman: the catalogue's roms differ in more than their case, and the score is kept
  // under the catalogue's own spelling.
  const std::string wanted = AsciiLowerCase(name);
  for (int i = 1; i < game_count; ++i) {
    if (AsciiLowerCase(state.games[i].rom) == wanted ||
        AsciiLowerCase(GameSelectorItem(i)) == wanted) {
      return i;
    }
  }
  const long index = ParseCount(name);
  if (index >= 1 && index < game_count) return static_cast<int>(index);
  return 0;
}

std::vector<int> ResolveGames(const std::vector<std::string>& names, bool all) {
  std::vector<int> games;
  if (all) {
    for (int i = 1; i < game_count; ++i) games.push_back(i);
    return games;
  }
  ProgramState state;
  BuildCatalogue(state);
  for (const std::string& name : names) {
    const int index = FindGame(state, name);
    if (index == 0) {
      throw UsageError("unknown game '" + name +
                       "' (a rom or an index from 1 to 54; see velotrax-cli games)");
    }
    bool seen = false;
    for (int g : games) seen = seen || g == index;
    if (!seen) games.push_back(index);
  }
  return games;
}

void ReplaceFile(const std::string& path, const std::string& bytes) {
  // A Ctrl+C in the middle would leave the temporary file behind: it waits until the new file is
  // in place (the old one is intact either way).
  const StopDeferral deferral;
  SaveBytesToFile(path, bytes);
}

}  // namespace velotrax::cli
