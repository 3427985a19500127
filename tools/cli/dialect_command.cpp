// velotrax-cli's view of the emulator: --dialect, run --dry-run and the build behind the scores.
#include <cstdio>
#include <string>
#include <vector>

#include "results/text_output.h"
#include "storage/files.h"
#include "tools/cli/cli.h"

namespace velotrax::cli {

namespace {

std::string VersionText(const EmulatorIdentity& identity) {
  return identity.version.empty() ? "unknown" : identity.version;
}

std::string DialectText(const ProgramState& state, const EmulatorIdentity& identity) {
  const char* how = state.emulators.Choice() == DialectChoice::automatic ? "detected" : "chosen";
  return std::string(DialectName(identity.dialect)) + " (" + how + ")";
}

}  // namespace

bool TakeDialectOption(ArgumentScanner& scan, DialectOptions& options) {
  if (scan.Name() == "--dry-run" && !scan.HasInlineValue()) {
    options.dry_run = true;
    return true;
  }
  if (scan.Name() != "--dialect") return false;
  options.choice = scan.Choice<DialectChoice>({{"auto", DialectChoice::automatic},
                                               {"classic", DialectChoice::classic},
                                               {"current", DialectChoice::current}});
  return true;
}

int PrintDryRun(ProgramState& state, const std::vector<int>& games,
                const std::vector<bool>& methods) {
  const std::string path = state.base_dir + state.mame_file;
  const EmulatorIdentity identity = state.emulators.Identify(state.base_dir, state.mame_file);
  std::printf("emulator: %s%s\n", TerminalText(DisplayText(path)).c_str(),
              FileIsPresent(path) ? "" : " (missing)");
  std::printf("version:  %s\n", TerminalText(VersionText(identity)).c_str());
  std::printf("dialect:  %s\n", DialectText(state, identity).c_str());
  for (int game : games) {
    const std::string& rom = state.games[static_cast<std::size_t>(game)].rom;
    for (bool is_d3d : methods) {
      const std::string& options = is_d3d ? state.d3d_options : state.ddraw_options;
      const PassPlan plan =
          state.emulators.PlanPass(state.base_dir, state.mame_file, rom, is_d3d, options);
      std::printf("%s %s: %s\n", rom.c_str(), is_d3d ? "D3D" : "DDraw",
                  TerminalText(DisplayText(plan.start.CommandLine)).c_str());
    }
  }
  return kExitSuccess;
}

void NoteEmulatorBuild(ProgramState& state) {
  const std::string path = state.base_dir + state.mame_file;
  if (!FileIsPresent(path)) return;
  const EmulatorIdentity identity = state.emulators.Identify(state.base_dir, state.mame_file);
  std::fprintf(stderr,
               "velotrax-cli: the emulator here is %s, version %s, %s dialect; scores compare "
               "only with scores of the same emulator build\n",
               TerminalText(DisplayText(state.mame_file)).c_str(),
               TerminalText(VersionText(identity)).c_str(), DialectName(identity.dialect));
}

}  // namespace velotrax::cli
