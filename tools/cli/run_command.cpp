// velotrax-cli run: benchmark passes through the desktop program's own sequencer and runner, with
// the results written to mark.dat as soon as each is known.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "process/event_loop.h"
#include "storage/files.h"
#include "storage/int_text.h"
#include "storage/score_files.h"
#include "tools/cli/cli.h"
#include "tools/cli/text_output.h"

namespace velotrax::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kRunHelp =
    "Usage: velotrax-cli run [--mode ddraw|d3d|both] [--repeat N] (--all | GAME...)\n"
    "\n"
    "Runs benchmark passes of the emulator for the games given (a rom such as pacman, or an\n"
    "index from 1 to 54; see 'velotrax-cli games') or for all 54 games, and stores each game's\n"
    "score in mark.dat as soon as it is measured. Every other score and the description of this\n"
    "computer stay as they were.\n"
    "\n"
    "  --mode ddraw   DirectDraw passes (the default)\n"
    "  --mode d3d     Direct3D passes\n"
    "  --mode both    a DirectDraw pass, then a Direct3D pass, as the desktop program does\n"
    "  --repeat N     N passes per game and method (1 to 1000); the median is stored, and\n"
    "                 every pass and the spread are printed\n"
    "  --all          every game of the catalogue\n"
    "\n"
    "Progress goes to standard error when it is a terminal. Ctrl+C (or SIGTERM) asks the\n"
    "emulator to stop and ends the run; results measured before it stay stored, the interrupted\n"
    "pass counts for nothing, and the exit code is 130 (143 for SIGTERM).\n";

constexpr int kMostRepeats = 1000;
// How long a signalled emulator gets before the next, harder signal.
constexpr auto kStopGrace = 5s;
// How often the loop looks at signals and redraws the progress line.
constexpr auto kLoopSlice = 100ms;
constexpr auto kProgressEvery = 250ms;

volatile std::sig_atomic_t signals_received = 0;
volatile std::sig_atomic_t first_signal = 0;

extern "C" void OnStopSignal(int signo) {
  if (first_signal == 0) first_signal = signo;
  signals_received = signals_received + 1;
}

// Installs the Ctrl+C and SIGTERM handlers for the run and puts the old ones back at its end.
class StopSignals {
 public:
  StopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
    // A closed standard output must not kill the run and leave the emulator running unseen.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &old_pipe_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGPIPE, &old_pipe_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  static int Received() { return signals_received; }
  static int First() { return first_signal; }

 private:
  struct sigaction old_int_ = {};
  struct sigaction old_term_ = {};
  struct sigaction old_pipe_ = {};
};

struct RunOptions {
  PassMode mode = PassMode::ddraw;
  int repeat = 1;
  bool all = false;
  std::vector<std::string> games;
};

RunOptions ParseRunOptions(const std::vector<std::string>& args) {
  RunOptions options;
  ArgumentScanner scan(args);
  while (scan.Next()) {
    if (!scan.IsOption()) {
      options.games.push_back(scan.Word());
      continue;
    }
    const std::string& name = scan.Name();
    if (name == "--mode") {
      const std::string mode = scan.Value();
      if (mode == "ddraw") {
        options.mode = PassMode::ddraw;
      } else if (mode == "d3d") {
        options.mode = PassMode::d3d;
      } else if (mode == "both") {
        options.mode = PassMode::both;
      } else {
        throw UsageError("--mode must be ddraw, d3d or both, not '" + mode + "'");
      }
    } else if (name == "--repeat") {
      const std::string count = scan.Value();
      const long repeat = ParseCount(count);
      if (repeat < 1 || repeat > kMostRepeats) {
        throw UsageError("--repeat wants a number of passes from 1 to " +
                         std::to_string(kMostRepeats) + ", not '" + count + "'");
      }
      options.repeat = static_cast<int>(repeat);
    } else if (name == "--all" && !scan.HasInlineValue()) {
      options.all = true;
    } else {
      throw UsageError("unknown option '" + scan.Word() + "'");
    }
  }
  if (options.all && !options.games.empty())
    throw UsageError("give either --all or games, not both");
  if (!options.all && options.games.empty())
    throw UsageError("no game given (name games or --all)");
  return options;
}

const char* MethodName(bool is_d3d) {
  return is_d3d ? "D3D" : "DDraw";
}

// The middle pass; with an even number of passes the mean of the two middle ones, rounded down.
int32_t Median(std::vector<int32_t> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  if (values.size() % 2 == 1) return values[middle];
  const int64_t sum = int64_t{values[middle - 1]} + values[middle];
  return static_cast<int32_t>(sum >= 0 ? sum / 2 : (sum - 1) / 2);
}

// The desktop program's main window as the sequencer sees it, reduced to one game and one
// method at a time; the runner's events go to the same handlers as in the window.
class CliHost : public SequencerHost {
 public:
  explicit CliHost(ProgramState& state) : state_(state), runner_(loop_) {
    TJvCPSStartupInfo& startup = runner_.StartupInfo;
    startup.DefaultPosition = false;
    startup.DefaultSize = false;
    startup.DefaultWindowState = false;
    startup.ShowWindow = TJvCPSShowWindow::swHide;
    runner_.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    // Its own process group: the emulator can be asked to stop, with whatever it started.
    runner_.CreationFlags = {TJvCPSFlag::cfNewProcGroup};
    runner_.OnRead = [this](TJvCreateProcess&, std::string_view line, bool starts_on_new_line) {
      OnOutputLine(state_, line, starts_on_new_line);
    };
    runner_.OnTerminate = [this](TJvCreateProcess&, uint32_t exit_code) {
      ended_ = true;
      if (cut_short_) return;  // its output is no measurement
      try {
        OnPassEnd(state_, *this, exit_code);
      } catch (...) {
        error_ = std::current_exception();
      }
    };
  }

  void Select(int game, bool is_d3d) {
    game_ = game;
    mode_ = is_d3d ? PassMode::d3d : PassMode::ddraw;
  }

  int SelectedGame() const override { return game_; }
  PassMode CheckedPassMode() const override { return mode_; }
  void SetStatusText(const std::string&) override {}
  void ShowBusyCursors() override {}
  void RestoreCursors() override {}
  void RefreshComparison() override {}
  TJvCreateProcess& Runner() override { return runner_; }

  // Starts the pass of the selected game and method; throws the runner's errors.
  void StartPass() {
    ended_ = false;
    error_ = nullptr;
    stop_signals_sent_ = 0;
    cut_short_ = false;
    state_.pass_log.clear();
    StartBenchmark(state_, *this);
  }

  // Runs the loop for a while; true once the pass has ended.
  bool Wait(std::chrono::milliseconds slice, int signals_seen) {
    return loop_.RunUntil([&] { return ended_ || StopSignals::Received() != signals_seen; }, slice);
  }

  bool Ended() const { return ended_; }
  std::exception_ptr Error() const { return error_; }
  int StopSignalsSent() const { return stop_signals_sent_; }
  // True once a stop signal reached the running emulator.
  bool CutShort() const { return cut_short_; }

  // Sends the emulator's process group the next stop signal: first the one we received, then
  // SIGTERM, then SIGKILL.
  void SendStopSignal(int received) {
    int signo = SIGKILL;
    if (stop_signals_sent_ == 0) {
      signo = received;
    } else if (stop_signals_sent_ == 1 && received != SIGTERM) {
      signo = SIGTERM;
    }
    ++stop_signals_sent_;
    // The runner signals the emulator's process group only while the emulator runs: an
    // emulator that has already finished is not counted as stopped.
    if (runner_.SignalChild(signo)) cut_short_ = true;
  }

  // Gives up a pass whose emulator would not end: it runs on unwatched.
  void Abandon() { runner_.Detach(); }

 private:
  ProgramState& state_;
  EventLoop loop_;
  TJvCreateProcess runner_;
  int game_ = 0;
  PassMode mode_ = PassMode::ddraw;
  bool ended_ = false;
  std::exception_ptr error_;
  int stop_signals_sent_ = 0;
  bool cut_short_ = false;
};

// Stores the measured results in mark.dat. The file is read again first, so that a change made
// to it since the run began (another run, a hand edit) is kept beside our results; a file that no
// longer reads is left alone and reported.
void SaveResults(const std::map<std::pair<int, bool>, int32_t>& results) {
  ProgramState saved;
  InitProgramState(saved);
  BuildCatalogue(saved);
  if (FileIsPresent(saved.base_dir + "mark.dat")) LoadScores(saved);
  for (const auto& [key, fps] : results) {
    Tgameinfo& game = saved.games[static_cast<std::size_t>(key.first)];
    (key.second ? game.d3d : game.ddraw) = fps;
  }
  SaveScores(saved);
}

// The progress line on standard error, when it is a terminal.
class Progress {
 public:
  Progress() : enabled_(::isatty(STDERR_FILENO) == 1) {}

  void Show(const std::string& text) {
    if (!enabled_) return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!enabled_ || !shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
};

// Prints a result line on standard output, clearing the progress line first.
void PrintLine(Progress& progress, const std::string& line) {
  progress.Clear();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

class RunSession {
 public:
  RunSession(ProgramState& state, const RunOptions& options, std::vector<int> games)
      : state_(state), options_(options), games_(std::move(games)), host_(state) {}

  int Run() {
    std::vector<bool> methods;
    if (options_.mode != PassMode::d3d) methods.push_back(false);
    if (options_.mode != PassMode::ddraw) methods.push_back(true);
    total_passes_ = static_cast<int>(games_.size() * methods.size()) * options_.repeat;

    for (int game : games_) {
      for (bool is_d3d : methods) {
        RunMethod(game, is_d3d);
        if (Interrupted()) return Stop();
      }
    }
    if (passes_without_rate_ > 0) {
      progress_.Clear();
      std::fprintf(stderr,
                   "velotrax-cli: %d pass(es) found no frame rate in the emulator's output; "
                   "their score is N/A\n",
                   passes_without_rate_);
      return kExitFailure;
    }
    return kExitSuccess;
  }

 private:
  static bool Interrupted() { return StopSignals::Received() > 0; }

  int Stop() {
    progress_.Clear();
    std::fprintf(stderr, "velotrax-cli: interrupted; %s\n",
                 results_.empty() ? "nothing was measured"
                                  : "the results measured before it are stored in mark.dat");
    return 128 + StopSignals::First();
  }

  // The passes of one game and method; their result is stored even when an interrupt or an
  // error ends them early, as long as one pass was complete.
  void RunMethod(int game, bool is_d3d) {
    std::vector<int32_t> rates;
    try {
      for (int k = 1; k <= options_.repeat && !Interrupted(); ++k) {
        const std::optional<int32_t> fps = RunPass(game, is_d3d);
        if (!fps) break;
        rates.push_back(*fps);
        if (*fps == 0) ++passes_without_rate_;
        if (options_.repeat > 1) {
          PrintLine(progress_, Label(game, is_d3d) + " pass " + std::to_string(k) + " of " +
                                   std::to_string(options_.repeat) + ": " + RateText(*fps));
        }
      }
    } catch (...) {
      // The error that ended the passes is the one reported; a failed save is said as well.
      try {
        Store(game, is_d3d, rates);
      } catch (const std::exception& e) {
        progress_.Clear();
        std::fprintf(stderr, "velotrax-cli: %s\n", e.what());
      }
      throw;
    }
    Store(game, is_d3d, rates);
  }

  void Store(int game, bool is_d3d, const std::vector<int32_t>& rates) {
    if (rates.empty()) return;
    const int32_t fps = Median(rates);
    results_[{game, is_d3d}] = fps;
    Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
    (is_d3d ? entry.d3d : entry.ddraw) = fps;
    SaveResults(results_);

    std::string line = Label(game, is_d3d) + ": " + RateText(fps) + " stored";
    if (rates.size() > 1 || options_.repeat > 1) {
      const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
      line += " (median of " + std::to_string(rates.size());
      if (static_cast<int>(rates.size()) < options_.repeat) {
        line += " of " + std::to_string(options_.repeat);
      }
      line += " passes; min " + IntToText(*low) + ", max " + IntToText(*high) + ", spread " +
              std::to_string(int64_t{*high} - *low);
      if (fps > 0) {
        char percent[32];
        std::snprintf(percent, sizeof percent, " = %.1f%%",
                      100.0 * static_cast<double>(int64_t{*high} - *low) / fps);
        line += percent;
      }
      line += ")";
    }
    PrintLine(progress_, line);
  }

  std::string Label(int game, bool is_d3d) const {
    return state_.games[static_cast<std::size_t>(game)].rom + " " + MethodName(is_d3d);
  }

  static std::string RateText(int32_t fps) {
    return fps == 0 ? "N/A (no frame rate in the output)" : IntToText(fps) + " fps";
  }

  // One pass; its frame rate, or nothing when an interrupt cut it short. Throws the runner's
  // and the frame-rate extraction's errors.
  std::optional<int32_t> RunPass(int game, bool is_d3d) {
    ++pass_number_;
    Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
    int32_t& score = is_d3d ? entry.d3d : entry.ddraw;
    const int32_t kept = score;  // the sequencer stores every pass; we store the median

    host_.Select(game, is_d3d);
    host_.StartPass();
    const Clock::time_point started = Clock::now();
    Clock::time_point next_signal_at{};
    Clock::time_point next_progress{};
    int signals_handled = 0;
    while (!host_.Ended()) {
      const int received = StopSignals::Received();
      if (received > signals_handled) {
        // Every further Ctrl+C asks harder.
        while (signals_handled < received) {
          ++signals_handled;
          host_.SendStopSignal(StopSignals::First());
        }
        next_signal_at = Clock::now() + kStopGrace;
      } else if (host_.StopSignalsSent() > 0 && Clock::now() >= next_signal_at) {
        if (host_.StopSignalsSent() >= 4) {
          host_.Abandon();
          progress_.Clear();
          std::fprintf(stderr, "velotrax-cli: the emulator did not end; it was left running\n");
          break;
        }
        host_.SendStopSignal(StopSignals::First());
        next_signal_at = Clock::now() + kStopGrace;
      }
      if (Clock::now() >= next_progress) {
        progress_.Show(ProgressText(game, is_d3d, Clock::now() - started));
        next_progress = Clock::now() + kProgressEvery;
      }
      host_.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kLoopSlice),
                 signals_handled);
    }

    const int32_t fps = score;
    score = kept;
    if (!host_.Ended() || host_.CutShort()) return std::nullopt;
    if (host_.Error()) std::rethrow_exception(host_.Error());
    last_rate_ = fps;
    return fps;
  }

  std::string ProgressText(int game, bool is_d3d, Clock::duration elapsed) const {
    char text[256];
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::snprintf(
        text, sizeof text, "pass %d of %d  %s  %s  %.1f s  last %s", pass_number_, total_passes_,
        TerminalText(state_.games[static_cast<std::size_t>(game)].rom).c_str(), MethodName(is_d3d),
        seconds, last_rate_ ? (IntToText(*last_rate_) + " fps").c_str() : "-");
    return text;
  }

  ProgramState& state_;
  const RunOptions& options_;
  std::vector<int> games_;
  CliHost host_;
  Progress progress_;
  std::map<std::pair<int, bool>, int32_t> results_;
  int total_passes_ = 0;
  int pass_number_ = 0;
  int passes_without_rate_ = 0;
  std::optional<int32_t> last_rate_;
};

}  // namespace

int RunCommand(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kRunHelp, stdout);
    return kExitSuccess;
  }
  const RunOptions options = ParseRunOptions(args);
  ProgramState state;
  InitProgramState(state);
  BuildCatalogue(state);
  std::vector<int> games;
  if (options.all) {
    for (int i = 1; i < game_count; ++i) games.push_back(i);
  } else {
    games = ResolveGames(state, options.games);
  }
  // The handlers come first: a Ctrl+C from here on ends the run cleanly.
  StopSignals signals;
  // An unreadable mark.dat stops us before anything runs; it is never overwritten.
  LoadWorkspace(state);
  if (StopSignals::Received() > 0) {
    std::fprintf(stderr, "velotrax-cli: interrupted; nothing was run\n");
    return 128 + StopSignals::First();
  }
  RunSession session(state, options, games);
  return session.Run();
}

}  // namespace velotrax::cli
