// velotrax-cli run: benchmark passes through the desktop program's own sequencer and runner, with
// the results written to mark.dat as soon as each is known.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "emulator/emulator_dialect.h"
#include "process/event_loop.h"
#include "process/processors.h"
#include "results/conditions.h"
#include "results/pass_isolation.h"
#include "results/run_record.h"
#include "results/series_driver.h"
#include "results/statistics.h"
#include "results/text_output.h"
#include "storage/files.h"
#include "storage/int_text.h"
#include "storage/score_files.h"
#include "tools/cli/cli.h"
#include "tools/cli/system.h"

namespace velotrax::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kRunHelp =
    "Usage: velotrax-cli run [--mode ddraw|d3d|both] [--repeat N | --confidence P]\n"
    "                        [--warmup K|auto] [--export-json FILE] [--export-markdown FILE]\n"
    "                        [--processor auto|any|N] [--priority raised|normal]\n"
    "                        [--dialect auto|classic|current] [--dry-run] [--emulator FILE]\n"
    "                        (--all | GAME...)\n"
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
    "  --confidence P repeat the passes of each game and method until the 95 % confidence\n"
    "                 interval of their median is within P per cent of it (P from 0.1 to 50)\n"
    "  --min-runs N   with --confidence: at least N passes (default 6, the fewest that give\n"
    "                 a 95 % interval)\n"
    "  --max-runs N   with --confidence: at most N passes (default 50)\n"
    "  --warmup K     first run K passes of each game and method that are not counted\n"
    "  --warmup auto  count the first pass unless the five after it show that it ran cold\n"
    "                 (slower than all of them, by more than 2 %); the default with repeats\n"
    "  --processor P  where the emulator runs: any (the default) leaves it to the system; auto\n"
    "                 binds it to the fastest of the processors found least busy before the\n"
    "                 run and keeps Velotrax's own threads off it; N binds it to processor N\n"
    "                 (an emulator that runs threads of its own gets slower on one processor)\n"
    "  --priority R   raised (the default with repeats) starts the emulator a little above\n"
    "                 other programs where the system allows it (root; on Windows always);\n"
    "                 normal (the default for a single pass) at Velotrax's own\n"
    "  --export-json FILE      write every pass, the statistics, the warnings and the\n"
    "                          conditions of the run as JSON (read by 'velotrax-cli compare')\n"
    "  --export-markdown FILE  the same as a Markdown report\n"
    "  --no-checks    do not check the machine (see below)\n"
    "  --all          every game of the catalogue\n"
    "  --dialect D    the emulator's options: auto (the default) asks the emulator which it\n"
    "                 takes; classic is the described command line (-ftr 5000 ...); current\n"
    "                 is today's builds (-str SECONDS -video soft|opengl ...)\n"
    "  --dry-run      print the emulator file, its version, its dialect and the command line\n"
    "                 of each pass, and run nothing\n"
    "  --emulator FILE  run this emulator, a file in the working directory, instead of the one\n"
    "                 velotrax.ini names (velotrax.ini is not changed; the desktop program\n"
    "                 chooses its emulator in Options > Preferences)\n"
    "\n"
    "Passes far from the others (modified z-score beyond 3.5 and more than 2 % from the\n"
    "median) are flagged. Before and during the run the machine is checked for what distorts\n"
    "figures (other busy processes, a held back clock, heat, a battery) when standard error is\n"
    "a terminal, passes are repeated or the run is exported; warnings go to standard error.\n"
    "\n"
    "Progress goes to standard error when it is a terminal. Ctrl+C (or SIGTERM, or SIGHUP when\n"
    "the terminal closes) asks the emulator to stop and ends the run; results measured before\n"
    "it stay stored, the interrupted pass counts for nothing, and the exit code is 130 (143 for\n"
    "SIGTERM, 129 for SIGHUP).\n";

constexpr int kMostRepeats = 1000;
// How long a signalled emulator gets before the next, harder signal.
constexpr auto kStopGrace = 5s;
// How often the loop looks at signals and redraws the progress line.
constexpr auto kLoopSlice = 100ms;
constexpr auto kProgressEvery = 250ms;
// When the clock of a running pass is looked at: once it has had time to rise.
constexpr auto kClockCheckAfter = 500ms;

struct RunOptions {
  PassMode mode = PassMode::ddraw;
  StopRule rule;
  int warmup = 0;
  bool all = false;
  std::vector<std::string> games;
  std::string export_json, export_markdown;
  bool checks = true;
  DialectOptions dialect;
  std::string emulator;  // a file name in the working directory; empty: velotrax.ini's
  PassIsolation isolation;
};

// A count option's value from low to high; throws UsageError.
int CountValue(ArgumentScanner& scan, long low, long high, const char* what) {
  const std::string text = scan.Value();
  const long value = ParseCount(text);
  if (value < low || value > high) {
    throw UsageError(scan.Name() + " wants " + what + " from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + text + "'");
  }
  return static_cast<int>(value);
}

double PercentValue(ArgumentScanner& scan) {
  const std::string text = scan.Value();
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= 0.1 && value <= 50)) {
    throw UsageError("--confidence wants a per cent from 0.1 to 50, not '" + text + "'");
  }
  return value;
}

// --processor: auto, any or the number of a processor this program may use.
int ProcessorValue(ArgumentScanner& scan) {
  const std::string text = scan.Value();
  if (text == "auto") return kQuietestProcessor;
  if (text == "any") return kAnyProcessor;
  const long value = ParseCount(text);
  const std::vector<int> allowed = AllowedProcessors();
  if (value < 0 || (allowed.empty() ? value > 0
                                    : std::count(allowed.begin(), allowed.end(),
                                                 static_cast<int>(value)) == 0)) {
    std::string list;
    for (int cpu : allowed) list += (list.empty() ? "" : ", ") + std::to_string(cpu);
    throw UsageError("--processor wants auto, any or a processor this program may run on (" + list +
                     "), not '" + text + "'");
  }
  return static_cast<int>(value);
}

RunOptions ParseRunOptions(const std::vector<std::string>& args) {
  RunOptions options;
  bool repeat_given = false, min_given = false, max_given = false;
  bool processor_given = false, priority_given = false, warmup_given = false;
  ArgumentScanner scan(args);
  while (scan.NextOption(options.games)) {
    const std::string& name = scan.Name();
    if (name == "--mode") {
      options.mode = scan.Choice<PassMode>(
          {{"ddraw", PassMode::ddraw}, {"d3d", PassMode::d3d}, {"both", PassMode::both}});
    } else if (name == "--repeat") {
      repeat_given = true;
      options.rule.repeat = CountValue(scan, 1, kMostRepeats, "a number of passes");
    } else if (name == "--confidence") {
      options.rule.confidence = PercentValue(scan);
    } else if (name == "--min-runs") {
      min_given = true;
      options.rule.min_runs = CountValue(scan, 1, kMostRepeats, "a number of passes");
    } else if (name == "--max-runs") {
      max_given = true;
      options.rule.max_runs = CountValue(scan, 1, kMostRepeats, "a number of passes");
    } else if (name == "--warmup") {
      warmup_given = true;
      const std::string text = scan.Value();
      options.isolation.auto_warmup = text == "auto";
      if (!options.isolation.auto_warmup) {
        const long value = ParseCount(text);
        if (value < 0 || value > 100) {
          throw UsageError("--warmup wants a number of passes from 0 to 100 or auto, not '" + text +
                           "'");
        }
        options.warmup = static_cast<int>(value);
      }
    } else if (name == "--processor") {
      processor_given = true;
      options.isolation.processor = ProcessorValue(scan);
    } else if (name == "--priority") {
      priority_given = true;
      options.isolation.raise_priority = scan.Choice<bool>({{"raised", true}, {"normal", false}});
    } else if (name == "--export-json" || name == "--export-markdown") {
      std::string& path = name == "--export-json" ? options.export_json : options.export_markdown;
      path = scan.Value();
      if (path.empty()) throw UsageError(name + " needs a file name");
    } else if (name == "--emulator") {
      options.emulator = scan.Value();
      // The emulator is started as base_dir + its name, as in the desktop program.
      if (options.emulator.empty() || options.emulator.find('/') != std::string::npos) {
        throw UsageError("--emulator takes the name of a file in the working directory, not '" +
                         options.emulator + "' (link it here: ln -s /usr/games/mame mame)");
      }
    } else if (name == "--no-checks" && !scan.HasInlineValue()) {
      options.checks = false;
    } else if (name == "--all" && !scan.HasInlineValue()) {
      options.all = true;
    } else if (TakeDialectOption(scan, options.dialect)) {
      continue;
    } else {
      throw UsageError("unknown option '" + scan.Word() + "'");
    }
  }
  if (options.all && !options.games.empty())
    throw UsageError("give either --all or games, not both");
  if (!options.all && options.games.empty())
    throw UsageError("no game given (name games or --all)");
  const bool adaptive = options.rule.confidence > 0;
  if (adaptive && repeat_given) throw UsageError("give either --repeat or --confidence, not both");
  if (!adaptive && (min_given || max_given))
    throw UsageError("--min-runs and --max-runs go with --confidence");
  // The emulator is bound to a processor only when asked: one that runs threads of its own (as
  // Debian's mame does on two processors) loses about a tenth of its speed on one.
  if (!processor_given) options.isolation.processor = kAnyProcessor;
  // The other measures are for passes that are repeated: a single pass runs as it always has,
  // unless asked otherwise.
  if (!adaptive && options.rule.repeat <= 1) {
    if (!priority_given) options.isolation.raise_priority = false;
    if (!warmup_given) options.isolation.auto_warmup = false;
  }
  if (options.rule.min_runs > options.rule.max_runs) {
    if (min_given && max_given) throw UsageError("--min-runs is above --max-runs");
    (min_given ? options.rule.max_runs : options.rule.min_runs) =
        min_given ? options.rule.min_runs : options.rule.max_runs;
  }
  return options;
}

// The methods of a mode, DirectDraw first: false for DirectDraw, true for Direct3D.
std::vector<bool> Methods(PassMode mode) {
  std::vector<bool> methods;
  if (mode != PassMode::d3d) methods.push_back(false);
  if (mode != PassMode::ddraw) methods.push_back(true);
  return methods;
}

// The desktop program's main window as the sequencer sees it, reduced to one game and one
// method at a time; the runner's events go to the same handlers as in the window.
class CliHost : public SequencerHost {
 public:
  explicit CliHost(ProgramState& state) : state_(state), runner_(loop_) {
    ConfigureEmulatorRunner(runner_, {});
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
      } catch (const EEmulatorError&) {
        // A pass that measured nothing, already reported; the run goes on.
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
  void ReportUnmeasuredPass(const UnmeasuredPass& pass) override {
    report_ = UnmeasuredPassText(pass);
  }

  // The emulator's processor (kAnyProcessor: none) and priority for every pass; this thread,
  // which hands out the output and the end and draws the progress, keeps off that processor.
  void Isolate(int processor, bool raise_priority) {
    ApplyIsolation(runner_, processor, raise_priority);
  }

  // Starts the pass of the selected game and method; throws the runner's errors.
  void StartPass() {
    ended_ = false;
    error_ = nullptr;
    report_.clear();
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
  // Why the pass measured nothing, with the emulator's exit code and last lines; empty when it
  // measured a frame rate.
  const std::string& Report() const { return report_; }
  int StopSignalsSent() const { return stop_signals_sent_; }
  // True once a stop signal reached the running emulator.
  bool CutShort() const { return cut_short_; }

  // Sends the emulator's process group the next stop signal: first the one we received, then
  // SIGTERM, then SIGKILL.
  void SendStopSignal(int received) {
    int signo = kEndAtOnce;
    if (stop_signals_sent_ == 0) {
      signo = received;
    } else if (stop_signals_sent_ == 1 && received != kStopTerminate) {
      signo = kStopTerminate;
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
  std::string report_;
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
  Progress() : enabled_(StandardErrorIsTerminal()) {}

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

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// "95% interval 990 to 1010 = ±1.0%", or what is missing for one.
std::string IntervalText(double median, const Interval& interval) {
  if (!interval.bounded) {
    return "95% interval after " + std::to_string(FewestPassesForInterval()) + " passes";
  }
  return "95% interval " + IntToText(static_cast<int32_t>(interval.low)) + " to " +
         IntToText(static_cast<int32_t>(interval.high)) + " = ±" +
         OneDecimal(IntervalPercent(median, interval)) + "%";
}

// The same for the interval the stop rule looks at while the passes come.
std::string IntervalText(const std::vector<int32_t>& rates) {
  const std::vector<double> values = AsDoubles(rates);
  return IntervalText(MedianOf(values), MedianInterval(values));
}

class RunSession {
 public:
  RunSession(ProgramState& state, const RunOptions& options, std::vector<int> games)
      : state_(state),
        options_(options),
        games_(std::move(games)),
        host_(state),
        watch_(SystemRoot()),
        checks_(options.checks &&
                (StandardErrorIsTerminal() || options.rule.confidence > 0 ||
                 options.rule.repeat > 1 || options.warmup > 0 || !options.export_json.empty() ||
                 !options.export_markdown.empty())) {
    watch_.SetReporter([this](const std::string& text) {
      progress_.Clear();
      std::fprintf(stderr, "velotrax-cli: warning: %s\n", text.c_str());
    });
    record_.date = UtcNow();
    record_.velotrax_version = VelotraxVersion();
    record_.machine = ReadMachineFacts(SystemRoot());
    record_.emulator = IdentifyEmulator(state);
    RunSettings& settings = record_.settings;
    settings.mode = options.mode == PassMode::both  ? "both"
                    : options.mode == PassMode::d3d ? "d3d"
                                                    : "ddraw";
    settings.warmup = options.warmup;
    settings.repeat = options.rule.repeat;
    settings.confidence = options.rule.confidence;
    settings.min_runs = options.rule.min_runs;
    settings.max_runs = options.rule.max_runs;
  }

  // Runs every pass, then writes the exports once more with the last warnings; what was
  // measured is exported even when an interrupt or an error ends the run.
  int Run() {
    int code = kExitFailure;
    try {
      code = RunAll();
    } catch (...) {
      try {
        Export();
      } catch (const std::exception& e) {
        progress_.Clear();
        std::fprintf(stderr, "velotrax-cli: %s\n", e.what());
      }
      throw;
    }
    Export();
    return code;
  }

 private:
  static bool Interrupted() { return StopSignals::Received() > 0; }
  bool Adaptive() const { return options_.rule.confidence > 0; }

  int RunAll() {
    const std::vector<bool> methods = Methods(options_.mode);
    const int per_method =
        options_.warmup + (Adaptive() ? options_.rule.max_runs : options_.rule.repeat);
    total_passes_ = static_cast<int>(games_.size() * methods.size()) * per_method;

    if (checks_) watch_.BeforeRun();
    Isolate();
    for (int game : games_) {
      for (bool is_d3d : methods) {
        if (Interrupted()) return Stop();
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

  // Binds the emulator to its processor (chosen from the look before the run, when the checks
  // made one) and raises its priority, as the options ask.
  void Isolate() {
    const PassIsolation& isolation = options_.isolation;
    const std::vector<double> busy =
        BusyShares(AllowedProcessors(), watch_.LookStart(), watch_.LookEnd());
    const int processor = ResolveProcessor(isolation, busy);
    host_.Isolate(processor, isolation.raise_priority);
    watch_.SetEmulatorProcessor(processor);
    RunSettings& settings = record_.settings;
    settings.processor = processor;
    settings.raised_priority = isolation.raise_priority;
    settings.auto_warmup = isolation.auto_warmup;
  }

  int Stop() {
    progress_.Clear();
    std::fprintf(stderr, "velotrax-cli: interrupted; %s\n",
                 results_.empty() ? "nothing was measured"
                                  : "the results measured before it are stored in mark.dat");
    return 128 + StopSignals::First();
  }

  // An export that failed once is not tried again: its error is reported once, by whoever
  // ends the run.
  void Export() {
    if (export_failed_ || (options_.export_json.empty() && options_.export_markdown.empty())) {
      return;
    }
    record_.warnings = watch_.Warnings();
    try {
      if (!options_.export_json.empty()) ReplaceFile(options_.export_json, ExportJson(record_));
      if (!options_.export_markdown.empty()) {
        ReplaceFile(options_.export_markdown, ExportMarkdown(record_));
      }
    } catch (...) {
      export_failed_ = true;
      throw;
    }
  }

  // The passes of one game and method: the warm-up, then passes until the stop rule is met.
  // Their result is stored even when an interrupt or an error ends them early, as long as one
  // counted pass was complete.
  void RunMethod(int game, bool is_d3d) {
    SeriesDriver driver(game, state_.games[static_cast<std::size_t>(game)].rom, is_d3d,
                        options_.rule, options_.warmup, options_.isolation.auto_warmup);
    current_ = &driver.Series();
    bool aside_said = false;
    // Said once the passes after the first have shown that it ran cold.
    const auto say_aside = [&] {
      if (aside_said || !driver.FirstPassSetAside()) return;
      aside_said = true;
      PrintLine(progress_, Label(game, is_d3d) + " pass 1 (" + RateText(driver.Series().warmup[0]) +
                               ") was slower than every pass after it: taken for a warm-up, not "
                               "counted");
    };
    try {
      while (!Interrupted() && driver.WantsPass()) {
        say_aside();
        const bool warmup = driver.NextIsWarmup();
        const std::optional<int32_t> fps = RunPass(game, is_d3d);
        if (!fps) break;
        const int without_rate = driver.PassesWithoutRate();
        driver.AddPass(*fps);
        passes_without_rate_ += driver.PassesWithoutRate() - without_rate;
        if (warmup) {
          const std::size_t k = driver.Series().warmup.size();
          PrintLine(progress_, Label(game, is_d3d) + " warm-up pass " + std::to_string(k) + " of " +
                                   std::to_string(options_.warmup) + ": " + RateText(*fps) +
                                   " (not counted)");
        } else {
          PrintPass(driver.Series());
        }
      }
      say_aside();
      driver.EndEarly("interrupted");
    } catch (...) {
      driver.EndEarly("an error ended the passes");
      current_ = nullptr;
      // The error that ended the passes is the one reported; a failed save is said as well.
      try {
        Store(driver);
      } catch (const std::exception& e) {
        progress_.Clear();
        std::fprintf(stderr, "velotrax-cli: %s\n", e.what());
      }
      throw;
    }
    current_ = nullptr;
    Store(driver);
  }

  void PrintPass(const SeriesRecord& series) {
    const int k = static_cast<int>(series.passes.size());
    const std::string label = Label(series.game, series.is_d3d);
    if (Adaptive()) {
      PrintLine(progress_, label + " pass " + std::to_string(k) + ": " +
                               RateText(series.passes.back()) + "; median " +
                               OneDecimal(MedianOf(AsDoubles(series.passes))) + ", " +
                               IntervalText(series.passes));
    } else if (options_.rule.repeat > 1) {
      PrintLine(progress_, label + " pass " + std::to_string(k) + " of " +
                               std::to_string(options_.rule.repeat) + ": " +
                               RateText(series.passes.back()));
    }
  }

  void Store(SeriesDriver& driver) {
    if (!driver.Finish()) return;
    const SeriesRecord& series = driver.Series();
    const std::vector<int32_t>& rates = series.passes;
    const int32_t fps = series.stored;
    const int game = series.game;
    const bool is_d3d = series.is_d3d;
    record_.series.push_back(series);
    results_[{game, is_d3d}] = fps;
    Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
    (is_d3d ? entry.d3d : entry.ddraw) = fps;

    const int wanted = Adaptive() ? 0 : options_.rule.repeat;
    std::string details;
    if (rates.size() > 1 || wanted > 1 || Adaptive()) {
      const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
      details = " (median of " + std::to_string(rates.size());
      if (static_cast<int>(rates.size()) < wanted) details += " of " + std::to_string(wanted);
      details += " passes; min " + IntToText(*low) + ", max " + IntToText(*high) + ", spread " +
                 std::to_string(int64_t{*high} - *low);
      if (fps > 0) {
        details +=
            " = " + OneDecimal(100.0 * static_cast<double>(int64_t{*high} - *low) / fps) + "%";
      }
      if (series.interval.bounded) {
        details += "; " + IntervalText(MedianOf(AsDoubles(rates)), series.interval);
      }
      if (!series.outliers.empty()) {
        details += "; outlier(s):";
        for (std::size_t k : series.outliers) {
          details += " pass " + std::to_string(k + 1) + " (" + IntToText(rates[k]) + " fps)";
        }
      }
      details += ")";
    }
    // What was measured is shown also when it cannot be stored: the minutes it took are not lost.
    const std::string label = Label(game, is_d3d) + ": " + RateText(fps);
    try {
      SaveResults(results_);
    } catch (...) {
      PrintLine(progress_, label + " measured, not stored" + details);
      throw;
    }
    PrintLine(progress_, label + " stored" + details);
    if (!series.outliers.empty()) {
      std::fprintf(
          stderr,
          "velotrax-cli: warning: %s: %zu pass(es) far from the others (modified "
          "z-score beyond 3.5, more than 2 %% from the median); something else may have run "
          "at the time\n",
          Label(game, is_d3d).c_str(), series.outliers.size());
    }
    if (Adaptive() && series.stop.rfind("the interval was still", 0) == 0) {
      std::fprintf(stderr,
                   "velotrax-cli: warning: %s: %s; the score may be off by more than %s%%\n",
                   Label(game, is_d3d).c_str(), series.stop.c_str(),
                   OneDecimal(options_.rule.confidence).c_str());
      // Said once a run: what no measure here takes away, and what settles sooner.
      if (checks_ && !virtual_machine_said_ && OnVirtualMachine(SystemRoot())) {
        virtual_machine_said_ = true;
        std::fprintf(stderr,
                     "velotrax-cli: warning: this is a virtual machine: the other machines on its "
                     "host share its memory and caches, which can spread the passes by several "
                     "per cent when nothing else runs here; a machine of its own, or a wider "
                     "--confidence, settles sooner\n");
      }
    }
    // The exports grow with the scores: a long run that dies keeps what it measured, and an
    // export that cannot be written stops the run at once, once the score it follows is shown.
    Export();
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
    if (checks_) watch_.PassStarted(OwnCpuSeconds(), ChildrenCpuSeconds());
    try {
      host_.StartPass();
    } catch (const EOSError& e) {
      // The system's words name no file: say which emulator it was and how to choose another.
      throw CliError(std::string(e.what()) + "\nvelotrax-cli: " + EmulatorStartHint(e.ErrorCode()));
    }
    const Clock::time_point started = Clock::now();
    Clock::time_point next_signal_at{};
    Clock::time_point next_progress{};
    int signals_handled = 0;
    bool clock_checked = false;
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
      if (checks_ && !clock_checked && Clock::now() - started >= kClockCheckAfter) {
        watch_.DuringPass();
        clock_checked = true;
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
    if (!host_.Report().empty()) {
      progress_.Clear();
      std::string report;
      // One line at a time: the emulator's own bytes must not move the terminal's cursor.
      for (std::size_t at = 0; at <= host_.Report().size();) {
        std::size_t end = host_.Report().find('\n', at);
        if (end == std::string::npos) end = host_.Report().size();
        report +=
            (at == 0 ? "" : "\n") + TerminalText(DisplayText(host_.Report().substr(at, end - at)));
        at = end + 1;
      }
      std::fprintf(stderr, "velotrax-cli: %s\n", report.c_str());
    }
    if (checks_) watch_.PassEnded(OwnCpuSeconds(), ChildrenCpuSeconds());
    last_rate_ = fps;
    return fps;
  }

  std::string EmulatorStartHint(int error_code) const {
    const std::string path = state_.base_dir + state_.mame_file;
    return TerminalText(DisplayText(EmulatorFileProblem(path, error_code))) +
           "; choose another with --emulator FILE, or in the desktop program's Options > "
           "Preferences, which keeps it in velotrax.ini";
  }

  std::string ProgressText(int game, bool is_d3d, Clock::duration elapsed) const {
    char text[256];
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::snprintf(text, sizeof text, "pass %d of %s%d  %s  %s  %.1f s  last %s", pass_number_,
                  Adaptive() ? "at most " : "", total_passes_,
                  TerminalText(state_.games[static_cast<std::size_t>(game)].rom).c_str(),
                  MethodName(is_d3d), seconds,
                  last_rate_ ? (IntToText(*last_rate_) + " fps").c_str() : "-");
    std::string line = text;
    // The estimate so far, as timing tools show it.
    if (current_ != nullptr && !current_->passes.empty()) {
      line += "  median " + OneDecimal(MedianOf(AsDoubles(current_->passes))) + ", " +
              IntervalText(current_->passes);
    }
    return line;
  }

  ProgramState& state_;
  const RunOptions& options_;
  std::vector<int> games_;
  CliHost host_;
  MachineWatch watch_;
  const bool checks_;
  bool export_failed_ = false;
  bool virtual_machine_said_ = false;
  Progress progress_;
  RunRecord record_;
  const SeriesRecord* current_ = nullptr;
  std::map<std::pair<int, bool>, int32_t> results_;
  int total_passes_ = 0;
  int pass_number_ = 0;
  int passes_without_rate_ = 0;
  std::optional<int32_t> last_rate_;
};

}  // namespace

int RunCommand(const std::vector<std::string>& args) {
  if (PrintHelpIfAsked(args, kRunHelp)) return kExitSuccess;
  const RunOptions options = ParseRunOptions(args);
  std::vector<int> games = ResolveGames(options.games, options.all);
  ProgramState state;
  // The handlers come first: a Ctrl+C from here on ends the run cleanly.
  StopSignals signals;
  // An unreadable mark.dat stops us before anything runs; it is never overwritten.
  LoadWorkspace(state);
  if (StopSignals::Received() > 0) {
    std::fprintf(stderr, "velotrax-cli: interrupted; nothing was run\n");
    return 128 + StopSignals::First();
  }
  if (!options.emulator.empty()) state.mame_file = options.emulator;
  state.emulators.SetChoice(options.dialect.choice);
  if (options.dialect.dry_run) return PrintDryRun(state, games, Methods(options.mode));
  // A score file that cannot be written is found before any pass, not after minutes of them.
  RequireWritableScores(state);
  RunSession session(state, options, games);
  return session.Run();
}

}  // namespace velotrax::cli
