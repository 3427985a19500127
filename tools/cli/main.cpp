// velotrax-cli: runs benchmark passes, shows and publishes scores without a window, in the
// working directory, on the same files as the desktop program.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/state.h"
#include "storage/files.h"
#include "storage/user_workspace.h"
#include "tools/cli/cli.h"
#include "tools/cli/system.h"

namespace velotrax::cli {

namespace {

constexpr const char* kToolHelp =
    "Usage: velotrax-cli COMMAND [OPTIONS]\n"
    "\n"
    "The headless companion of Velotrax. It works in the current directory on the same files\n"
    "as the desktop program: the emulator named in velotrax.ini (without one, the emulator a\n"
    "first start would find: mame.exe, or mame on Linux when no other is there),\n"
    "this computer's scores in mark.dat and the reference computers in reference.dat.\n"
    "\n"
    "Commands:\n"
    "  run      run benchmark passes and store the scores in mark.dat\n"
    "  show     show this computer's scores beside reference computers\n"
    "  publish  add this computer's scores to reference.dat\n"
    "  games    list the 54 games (index, rom, driver)\n"
    "  compare  tell whether two exported runs differ beyond their noise\n"
    "\n"
    "Option before the command:\n"
    "  --user-workspace  work in your own workspace instead of the current directory:\n"
    "                    %LOCALAPPDATA%\\Velotrax on Windows, $XDG_DATA_HOME/velotrax on Linux\n"
    "                    (~/.local/share/velotrax), made with its roms folder on first use;\n"
    "                    the one Velotrax uses when started from the menu\n"
    "\n"
    "'velotrax-cli COMMAND --help' describes a command.\n"
    "Exit codes: 0 success, 1 a run or file error, 2 a wrong command line,\n"
    "130 (143, 129) when a run was interrupted by Ctrl+C (SIGTERM, SIGHUP).\n";

constexpr const char* kGamesHelp =
    "Usage: velotrax-cli games\n"
    "\n"
    "Lists the 54 games, one a line: index, rom and the emulator driver. Either the rom (in\n"
    "any case) or the index names a game for 'run' and 'show'.\n";

bool IsHelp(const std::string& arg) {
  return arg == "-h" || arg == "--help";
}

}  // namespace

int GamesCommand(const std::vector<std::string>& args) {
  if (PrintHelpIfAsked(args, kGamesHelp)) return kExitSuccess;
  if (!args.empty()) throw UsageError("games takes no arguments");
  ProgramState state;
  BuildCatalogue(state);
  for (int i = 1; i < game_count; ++i) {
    std::printf("%2d  %-9s %s\n", i, state.games[i].rom.c_str(), state.games[i].driver.c_str());
  }
  return kExitSuccess;
}

namespace {

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
};
constexpr Command kCommands[] = {{"run", RunCommand},
                                 {"show", ShowCommand},
                                 {"publish", PublishCommand},
                                 {"games", GamesCommand},
                                 {"compare", CompareCommand}};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int Dispatch(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(kToolHelp, stderr);
    return kExitUsage;
  }
  const std::string& command = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (IsHelp(command) || command == "help") {
    std::fputs(kToolHelp, stdout);
    return kExitSuccess;
  }
  if (const Command* known = FindCommand(command)) return known->run(rest);
  throw UsageError("unknown command '" + command + "'");
}

}  // namespace

}  // namespace velotrax::cli

namespace {

// A result that did not reach its reader is a failure: standard output is checked once all is
// written (a full disk, a closed pipe). The first error's reason is said.
int CheckStandardOutput(int code) {
  using namespace velotrax::cli;
  int error = std::fflush(stdout) == 0 ? 0 : errno;
  const bool failed = error != 0 || std::ferror(stdout) != 0;
  if (std::fclose(stdout) != 0 && error == 0) error = errno;
  if (!failed && error == 0) return code;
  std::fprintf(stderr, "velotrax-cli: cannot write the output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? velotrax::SystemErrorText(error).c_str() : "");
  return code == kExitSuccess ? kExitFailure : code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velotrax::cli;
  std::vector<std::string> args = ProgramArguments(argc, argv);
  try {
    // Before anything reads a file: every file of the run is then the workspace's.
    velotrax::EnterUserWorkspaceIfAsked(args);
    return CheckStandardOutput(Dispatch(args));
  } catch (const UsageError& e) {
    std::fflush(stdout);
    const bool known_command = !args.empty() && FindCommand(args.front()) != nullptr;
    const std::string help = known_command ? "velotrax-cli " + args.front() : "velotrax-cli";
    std::fprintf(stderr, "velotrax-cli: %s\nTry '%s --help'.\n", e.what(), help.c_str());
    return kExitUsage;
  } catch (const std::exception& e) {
    // The program's own errors (velotrax::Exception) and the tool's file errors alike.
    std::fflush(stdout);
    std::fprintf(stderr, "velotrax-cli: %s\n", e.what());
    return kExitFailure;
  }
}
