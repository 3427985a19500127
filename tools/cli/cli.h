// velotrax-cli: the headless companion of Velotrax for scripted and batch benchmarking. It works on
// the same files in the working directory as the desktop program and never changes velotrax.ini.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/state.h"
#include "emulator/emulator_dialect.h"

namespace velotrax::results {}

namespace velotrax::cli {

// The tool prints what the results layer measures and computes: its names read here as its own.
using namespace velotrax::results;

// Exit codes of the tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // a run or file error
inline constexpr int kExitUsage = 2;    // a wrong command line

// A wrong command line; what() says what is wrong (exit code 2).
class UsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A failure of the tool itself (not one of the program's own errors); exit code 1.
class CliError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The program state as the desktop program has it after its show sequence, without the windows:
// base_dir, mame_file from velotrax.ini (read only), the catalogue and, when present, mark.dat.
// Throws CliError for a mark.dat that cannot be read or holds a value that is no whole number.
void LoadWorkspace(ProgramState& state);

// Throws CliError saying why when mark.dat could not be written now; the check leaves it as it is.
void RequireWritableScores(const CatalogueState& state);

// Reads reference.dat into state.references; throws CliError (naming the file for a value that is
// no whole number).
void LoadReferenceTable(ProgramState& state);

// The catalogue index of a game given as its rom or "Asteroid" (in any case) or an index 1..54;
// 0 when none.
int FindGame(const CatalogueState& state, const std::string& name);

// The catalogue indices of the GAME arguments, in order and without repeats, or of every game when
// all is set; throws UsageError.
std::vector<int> ResolveGames(const std::vector<std::string>& names, bool all);

// The commands; each returns the exit code and throws UsageError or the program's errors.
int RunCommand(const std::vector<std::string>& args);
int ShowCommand(const std::vector<std::string>& args);
int PublishCommand(const std::vector<std::string>& args);
int GamesCommand(const std::vector<std::string>& args);
int CompareCommand(const std::vector<std::string>& args);

// When args hold "-h" or "--help" before any "--", prints help on standard output and returns true.
bool PrintHelpIfAsked(const std::vector<std::string>& args, const char* help);

// Walks a command's words: options as "--name value" or "--name=value", plain words, and "--"
// after which every word is plain.
class ArgumentScanner {
 public:
  explicit ArgumentScanner(const std::vector<std::string>& args) : args_(args) {}
  // Moves to the next word (skipping the "--" mark); false at the end.
  bool Next();
  // Moves to the next option, adding the plain words on the way to words; false at the end.
  bool NextOption(std::vector<std::string>& words);
  // True when the current word is an option, named by Name().
  bool IsOption() const { return is_option_; }
  // The current word as given.
  const std::string& Word() const { return args_[index_]; }
  // The option's name: "--mode" of "--mode=both".
  const std::string& Name() const { return name_; }
  // True when the option carried its value after "=".
  bool HasInlineValue() const { return has_inline_value_; }
  // The option's value, after "=" or the next word; throws UsageError when there is none.
  std::string Value();
  // The option's value as the choice it names, or as one of the shorter names of aliases;
  // throws UsageError listing the names of choices otherwise.
  template <typename T>
  T Choice(std::initializer_list<std::pair<const char*, T>> choices,
           std::initializer_list<std::pair<const char*, T>> aliases = {}) {
    const std::string value = Value();
    std::vector<std::string> names;
    for (const auto& [choice_name, choice] : choices) {
      if (value == choice_name) return choice;
      names.push_back(choice_name);
    }
    for (const auto& [alias, choice] : aliases) {
      if (value == alias) return choice;
    }
    throw WrongChoice(value, names);
  }

 private:
  // The error for a value that is none of names.
  UsageError WrongChoice(const std::string& value, const std::vector<std::string>& names) const;

  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  bool started_ = false;
  bool only_words_ = false;
  bool is_option_ = false;
  bool has_inline_value_ = false;
  std::string name_, inline_value_;
};

// run's choice of emulator dialect and its --dry-run.
struct DialectOptions {
  DialectChoice choice = DialectChoice::automatic;
  bool dry_run = false;
};

// Takes the current option when it is --dialect or --dry-run; throws UsageError for a wrong
// dialect.
bool TakeDialectOption(ArgumentScanner& scan, DialectOptions& options);

// Prints the emulator file, its version, its dialect and the command line of each pass that run
// would start, without starting any.
int PrintDryRun(ProgramState& state, const std::vector<int>& games,
                const std::vector<bool>& methods);

// Says on standard error which emulator build this directory's scores come from, since scores of
// different builds do not compare.
void NoteEmulatorBuild(ProgramState& state);

// A whole non-negative decimal number without sign or blanks, or -1.
long ParseCount(const std::string& text);

// Writes bytes to path through the atomic replacement; throws EFCreateError, EWriteError.
void ReplaceFile(const std::string& path, const std::string& bytes);

}  // namespace velotrax::cli
