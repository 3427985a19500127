#include "core/sequencer.h"

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "base/errors.h"
#include "core/identification.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/score_files.h"

namespace velotrax {

namespace {

// A catalogue index that names one of the games; the placeholder and anything outside a
// catalogue that may never have been built do not.
bool IsGame(const CatalogueState& state, int index) {
  return index > 0 && static_cast<std::size_t>(index) < state.games.size();
}

std::string MethodText(bool is_d3d) {
  return is_d3d ? " using D3D" : " using DDraw";
}

std::string BenchmarkingText(const std::string& rom, bool is_d3d) {
  return "Status : Benchmarking " + rom + MethodText(is_d3d) + " Please Wait...";
}

constexpr std::string_view kBenchmarkingLine = "Benchmarking : ";

// The emulator's last lines of the pass log, without the line the sequencer put first and without
// blank lines.
std::vector<std::string> LastOutputLines(const std::vector<std::string>& log) {
  std::vector<std::string> last;
  for (auto line = log.rbegin(); line != log.rend() && last.size() < kReportedOutputLines; ++line) {
    if (line->find_first_not_of(" \t\r") == std::string::npos) continue;
    if (std::next(line) == log.rend() && line->rfind(kBenchmarkingLine, 0) == 0) continue;
    last.insert(last.begin(), *line);
  }
  return last;
}

// A sentence ends in a full stop before the next one begins.
std::string Sentence(std::string text) {
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string ExitCodeText(uint32_t exit_code) {
  return "The emulator ended with exit code " + std::to_string(exit_code);
}

// The options of the pass. Start-up sets both strings at its very end; should it have stopped
// on an error before that, an emulator started without them would run unbounded and hidden, so
// the emulator's own strings stand in.
std::string PassOptions(const ProgramState& state) {
  const std::string& options = state.pass_is_d3d ? state.d3d_options : state.ddraw_options;
  if (!options.empty()) return options;
  return std::string(state.pass_is_d3d ? D3DOptionString : DDrawOptionString);
}

// The runner's own refusal, for a start while the emulator is being identified: that is the first
// step of a pass, and a second start must not redirect it.
void RefuseWhileIdentifying(SequencerHost& host) {
  const EmulatorIdentification* identification = host.Identification();
  if (identification != nullptr && identification->Identifying()) {
    throw EJVCLException("Cannot perform this operation when process is running");
  }
}

void StartPassFor(ProgramState& state, SequencerHost& host, int game) {
  RefuseWhileIdentifying(host);
  // An emulator not known yet is asked first, without holding the UI thread where the host can;
  // the pass then starts from here again. Beside a running pass the runner refuses below.
  EmulatorIdentification* identification = host.Identification();
  if (identification != nullptr && !host.Runner().Watching() &&
      identification->Begin(state, host, state.games[static_cast<std::size_t>(game)].rom,
                            [&state, &host, game] { StartPassFor(state, host, game); })) {
    return;
  }
  state.current_game = game;
  state.current_rom = state.games[static_cast<std::size_t>(game)].rom;
  host.SetStatusText(BenchmarkingText(state.current_rom, state.pass_is_d3d));
  state.pass_log.push_back(std::string(kBenchmarkingLine) + state.current_rom);

  TJvCreateProcess& runner = host.Runner();
  // While a pass runs the runner refuses with its own error, before the emulator is asked
  // anything: no probe of it runs beside the pass being measured, and the runner keeps its set-up.
  if (runner.Watching()) runner.Run();
  state.pass_plan = state.emulators.PlanPass(state.base_dir, state.mame_file, state.current_rom,
                                             state.pass_is_d3d, PassOptions(state));
  ConfigureEmulatorRunner(runner, state.pass_plan.start);
  runner.Run();
  host.ShowMeasuredEmulator(MeasuredEmulatorText(state));
}

// What a start refused by the runner must leave as it found it: the running pass stores its
// score by these values when it ends.
struct RunningPass {
  int32_t current_game;
  std::string current_rom;
  bool pass_is_d3d;
  bool both_pending;
  int32_t second_pass_game;

  static RunningPass Remember(const ProgramState& state) {
    return {state.current_game, state.current_rom, state.pass_is_d3d, state.both_pending,
            state.second_pass_game};
  }

  void PutBack(ProgramState& state, SequencerHost& host) const {
    state.current_game = current_game;
    state.current_rom = current_rom;
    state.pass_is_d3d = pass_is_d3d;
    state.both_pending = both_pending;
    // The Direct3D pass still to come belongs to the game this benchmark began with, not to
    // the one the refused start was asked for.
    state.second_pass_game =
        both_pending && second_pass_game == 0 ? current_game : second_pass_game;
    host.SetStatusText(BenchmarkingText(current_rom, pass_is_d3d));
  }
};

void StartSelectedBenchmark(ProgramState& state, SequencerHost& host, int game) {
  state.both_pending = false;
  state.second_pass_game = 0;
  host.ShowBusyCursors();
  switch (host.CheckedPassMode()) {
    case PassMode::ddraw:
      state.pass_is_d3d = false;
      break;
    case PassMode::d3d:
      state.pass_is_d3d = true;
      break;
    case PassMode::both:
      state.pass_is_d3d = false;
      StartPassFor(state, host, game);
      state.both_pending = true;
      return;
    case PassMode::none:
      break;  // the method of the last pass stays
  }
  StartPassFor(state, host, game);
}

}  // namespace

void StartBenchmark(ProgramState& state, SequencerHost& host) {
  const int game = host.SelectedGame();
  if (!IsGame(state, game)) return;
  RefuseWhileIdentifying(host);

  if (!host.Runner().Watching()) {
    StartSelectedBenchmark(state, host, game);
    return;
  }
  // The runner refuses to start while a pass runs; its error still reaches the user, but the
  // running pass must keep its game and method.
  const RunningPass running = RunningPass::Remember(state);
  try {
    StartSelectedBenchmark(state, host, game);
  } catch (...) {
    running.PutBack(state, host);
    throw;
  }
}

void StartPass(ProgramState& state, SequencerHost& host) {
  const int game = host.SelectedGame();
  if (!IsGame(state, game)) return;
  StartPassFor(state, host, game);
}

namespace {

// An emulator's output is a few lines. One that floods its output, or never ends a line, must
// not take the memory with it: the log keeps this many lines of at most kPassLogLineBytes each,
// and past that only the line that can still decide the frame rate.
constexpr std::size_t kPassLogLines = 10000;
constexpr std::size_t kPassLogLineBytes = 4096;

}  // namespace

void OnOutputLine(PassState& state, std::string_view line, bool starts_on_new_line) {
  std::vector<std::string>& log = state.pass_log;
  line = line.substr(0, kPassLogLineBytes);
  // A line that arrived in several pieces is kept once, in its latest state: the frame rate
  // must not depend on where the output happened to be cut, nor an endless line fill the log.
  if (!starts_on_new_line && !log.empty()) {
    log.back().assign(line);
    return;
  }
  // Past the limit the last slot is reused, unless it holds a line that decides the frame rate;
  // then one more slot is taken and reused from then on.
  const bool full = log.size() > kPassLogLines;
  if (full && (log.size() > kPassLogLines + 1 || !DecidesFrameRate(log.back()))) {
    log.back().assign(line);
    return;
  }
  log.emplace_back(line);
}

void OnPassEnd(ProgramState& state, SequencerHost& host, uint32_t exit_code) {
  host.SetStatusText(kReadyText);
  // Scores another program stored meanwhile show beside this one.
  ReloadChangedScores(state);
  const PassResult result = ReadPassResult(state.pass_plan, state.pass_log);
  if (IsGame(state, state.current_game)) {
    Tgameinfo& game = state.games[static_cast<std::size_t>(state.current_game)];
    (state.pass_is_d3d ? game.d3d : game.ddraw) = result.fps;
  }
  // The log is cleared next: whoever wants to say why nothing was measured hears it now.
  if (result.fps == 0) {
    host.ReportUnmeasuredPass({state.current_rom + MethodText(state.pass_is_d3d), exit_code,
                               result.reason, LastOutputLines(state.pass_log)});
  }
  host.RefreshComparison();
  state.pass_log.clear();

  if (!result.reason.empty()) {
    // The emulator refused the pass: the user hears its reason, and a Direct3D pass due next
    // is not started, as it would end the same way.
    state.both_pending = false;
    state.second_pass_game = 0;
    host.RestoreCursors();
    throw EEmulatorError(state.current_rom + MethodText(state.pass_is_d3d) +
                         ": nothing was measured. " + Sentence(result.reason) + " " +
                         ExitCodeText(exit_code));
  }

  if (state.both_pending) {
    // The Direct3D pass runs for the game selected now; with no game selected (the placeholder)
    // it stays with the game of the DirectDraw pass rather than start the emulator for nothing.
    int game = host.SelectedGame();
    if (IsGame(state, state.second_pass_game)) {
      game = state.second_pass_game;
    } else if (!IsGame(state, game)) {
      game = state.current_game;
    }
    state.second_pass_game = 0;
    state.pass_is_d3d = true;
    if (IsGame(state, game)) {
      StartPassFor(state, host, game);
      state.both_pending = false;
      return;
    }
    state.both_pending = false;
  }
  host.RestoreCursors();
}

std::string UnmeasuredPassText(const UnmeasuredPass& pass) {
  std::string text =
      pass.pass + ": nothing was measured. " +
      Sentence(pass.reason.empty() ? "The emulator's output gives no frame rate" : pass.reason) +
      " " + ExitCodeText(pass.exit_code);
  if (pass.last_lines.empty()) return text + "; it wrote nothing.";
  text += pass.last_lines.size() == 1 ? "; its last line:" : "; its last lines:";
  for (const std::string& line : pass.last_lines) text += "\n  " + line;
  return text;
}

std::string MeasuredEmulatorText(const ProgramState& state) {
  const PassPlan& plan = state.pass_plan;
  return "Emulator \"" + state.base_dir + state.mame_file + "\": " + DialectName(plan.dialect) +
         " dialect, version " + (plan.version.empty() ? "unknown" : plan.version);
}

std::string EmulatorFileProblem(const std::string& path, int error_code) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  // Only what the file itself shows is blamed on it: a program that runs it (Wine, the
  // interpreter of a script) may be what is missing.
  std::string what = "could not be started";
  if (!fs::exists(status)) {
    what = "is missing";
  } else if (!fs::is_regular_file(status)) {
    what = std::string("is ") +
           (fs::is_directory(status)                                     ? "a directory"
            : fs::is_fifo(status)                                        ? "a named pipe (FIFO)"
            : fs::is_socket(status)                                      ? "a socket"
            : fs::is_character_file(status) || fs::is_block_file(status) ? "a device"
                                                                         : "no regular file") +
           ", not a program file";
  } else if (error_code == EACCES &&
             (status.permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                      fs::perms::others_exec)) == fs::perms::none) {
    what = "is not executable (chmod +x makes it so)";
  }
  return "the emulator \"" + path + "\" " + what;
}

}  // namespace velotrax
