// What the windows' handlers ask of the engine, for every front end: each handler of a window
// class reads its controls, calls one of these and shows the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/sequencer.h"
#include "core/state.h"
#include "results/series_benchmark.h"
#include "storage/settings.h"

namespace velotrax {

// What the main window's handlers need of the window beyond the engine's own hosts.
class MainWindowHost {
 public:
  virtual ~MainWindowHost() = default;
  // The Preferences dialog's repeat controls: what they stand for, and setting them.
  virtual results::RepeatOption CheckedRepeatOption() const = 0;
  virtual void SetRepeatOption(const results::RepeatOption& option) = 0;
  // Appends the reference computers' names to the three reference selectors, in one batch.
  virtual void AppendReferenceItems(const std::vector<std::string>& names) = 0;
  // Shows the comparison display of the selected game and references anew.
  virtual void RefreshComparison() = 0;
};

// FormShow: settings (with the Disclaimer on a first run), catalogue, scores, references, the
// display, then the pass state and option strings and the display again; throws where a step
// fails, the steps before it done.
void RunShowSequence(ProgramState& state, SettingsHost& settings_host, MainWindowHost& host);
// FormCloseQuery: the settings with the pass mode and repeat option, then the score file; throws
// when either cannot be written.
void RunCloseQuery(ProgramState& state, SettingsHost& settings_host, MainWindowHost& host);
// After the user or Previous/Next picked a game: scores another program stored meanwhile, then
// the display.
void ShowPickedGame(ProgramState& state, MainWindowHost& host);
// The game selector index Previous and Next go to from index, or none when they do nothing.
std::optional<int> PreviousGameIndex(int index);
std::optional<int> NextGameIndex(int index);
// Start Benchmark: a benchmark of series when the repeat option is on or one runs (which refuses
// the start), else one benchmark by the pass mode.
void StartBenchmarkOrSeries(ProgramState& state, SequencerHost& host,
                            results::SeriesBenchmark& series, const results::RepeatOption& option);
// The emulator ended: its series takes the pass, or the single pass ends and its score is kept
// for the session's results.
void EndPass(ProgramState& state, SequencerHost& host, results::SeriesBenchmark& series,
             uint32_t exit_code);
// The status bar's hint after the system refused to start the emulator: which file, and where to
// choose another.
std::string RefusedStartHint(const ProgramState& state, int error_code);
// A warning about the machine's state as the pass log and the status hint show it.
std::string MachineWarningLine(const std::string& text);
// The status bar's tool-tip: what the passes of the latest benchmark said beside the status (the
// emulator measured, why a pass measured nothing, a refused start, the machine's warnings), one
// paragraph each, for every front end to show as it shows tool-tips.
class StatusToolTip {
 public:
  // A benchmark is asked for: unless one runs (the start will be refused), the tip of the one
  // before goes.
  void BeginBenchmark(bool benchmark_running);
  // Adds a paragraph.
  void Add(const std::string& paragraph);
  // Adds a paragraph unless the tip holds it already (the emulator of both passes of a combined
  // benchmark).
  void AddOnce(const std::string& paragraph);
  // The paragraphs, each on lines of its own; empty when there is none.
  std::string Text() const;

 private:
  std::vector<std::string> paragraphs_;
};

// The interval beside this computer's score of game by method, or empty when none.
std::string SelectionIntervalText(const ProgramState& state, const results::SeriesBenchmark& series,
                                  int game, bool is_d3d);

// The Preferences dialog's two boxes as each opening fills them.
struct PreferencesTexts {
  std::string pc_description;  // the PC description, empty before the catalogue is built
  std::string emulator_path;   // base_dir followed by mame_file
};
PreferencesTexts PreferencesOpening(const StoredState& state);
// OK: the emulator's stored name and the PC description, as the field and box give them.
void PreferencesOk(StoredState& state, const std::string& emulator_short_name,
                   const std::string& pc_description);

}  // namespace velotrax
