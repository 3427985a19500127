// The window's benchmark repeated until precise: each method's passes run as a series until the
// stop rule has enough, the median is stored as the score, and what the session measured can be
// exported as velotrax-cli exports its runs. Driven by the window's handlers on the UI thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/sequencer.h"
#include "core/state.h"
#include "results/conditions.h"
#include "results/pass_isolation.h"
#include "results/run_record.h"
#include "results/series_driver.h"
#include "storage/ini_file.h"

namespace velotrax::results {

// The Preferences option "Repeat each pass until its result is known within ±P %".
struct RepeatOption {
  bool on = false;
  double percent = 2;    // P
  int most_passes = 20;  // the most passes of one game and method
  // The emulator on a processor of its own with the window's threads off it (see
  // results/pass_isolation.h); off unless asked, as an emulator that runs threads of its own gets
  // slower on one processor. Repeated passes always run raised, a cold first pass not counted.
  bool steady = false;
  bool operator==(const RepeatOption&) const = default;
};
inline constexpr double kLowestRepeatPercent = 0.1, kHighestRepeatPercent = 50;
inline constexpr int kMostRepeatPasses = 1000;

// The stop rule of the option: at least the passes an interval needs (fewer only when the most
// passes are fewer), at most the most passes.
StopRule RepeatRule(const RepeatOption& option);
// The option as velotrax.ini keeps it; a missing or unreadable key gives its default.
RepeatOption ReadRepeatOption(TIniFile& settings);
// Writes each key of the option that differs from its default or is in the file already, so
// that a file whose option was never changed keeps its bytes; throws EIniFileException.
void WriteRepeatOption(TIniFile& settings, const RepeatOption& option);

// Writes the record as JSON for a path ending in ".json", as Markdown for one ending in ".md"
// (letter case ignored), replacing the file whole; throws EResultsError for another name or an
// empty record, and the file errors of the write.
void ExportRecord(const RunRecord& record, const std::string& path);

// What a benchmark of series needs of the window beyond what the sequencer needs.
class SeriesView {
 public:
  virtual ~SeriesView() = default;
  // A warning about the machine (other busy processes, power saving, throttling), once per kind
  // and benchmark.
  virtual void ShowMachineWarning(const std::string& text) = 0;
  // Runs fn on the UI thread once delay has passed.
  virtual void RunLater(std::chrono::milliseconds delay, std::function<void()> fn) = 0;
};

class SeriesBenchmark : private SequencerHost {
 public:
  // window is the sequencer's host for plain passes; the machine is read under system_root.
  SeriesBenchmark(ProgramState& state, SequencerHost& window, SeriesView& view,
                  std::string system_root);
  ~SeriesBenchmark() override;

  // Start Benchmark with the option on: the series of each method of the checked pass mode for
  // the selected game. Throws the runner's errors; beside a running pass, its refusal.
  void Start(const RepeatOption& option);
  // True while a benchmark of series owns the passes: the window hands their ends to PassEnded.
  bool Running() const { return driver_.has_value(); }
  // Ends a benchmark whose pass never started (its emulator could not be identified), storing
  // what its series measured.
  void EndIfIdle();
  // The runner's end event of a pass of this benchmark; throws what the pass end throws, and the
  // benchmark ends then with what it measured.
  void PassEnded(uint32_t exit_code);
  // A pass measured with the option off, kept for the export as a series of one pass.
  void KeepSinglePass(int game, bool is_d3d, int32_t fps);

  // The series measured in this session since the emulator or the stop rule last changed.
  RunRecord SessionRecord() const;
  // The reported interval ("±1.2%") of the series the score of game and method comes from;
  // empty when the score has another origin or the interval is unbounded.
  std::string IntervalText(int game, bool is_d3d, int32_t score) const;

 private:
  // SequencerHost, for the passes of the series: the game stays the benchmark's, the status
  // text tells the progress, the rest goes to the window.
  int SelectedGame() const override { return game_; }
  PassMode CheckedPassMode() const override { return window_.CheckedPassMode(); }
  void SetStatusText(const std::string& text) override;
  void ShowBusyCursors() override { window_.ShowBusyCursors(); }
  void RestoreCursors() override { window_.RestoreCursors(); }
  void RefreshComparison() override { window_.RefreshComparison(); }
  TJvCreateProcess& Runner() override { return window_.Runner(); }
  void ReportUnmeasuredPass(const UnmeasuredPass& pass) override {
    window_.ReportUnmeasuredPass(pass);
  }
  EmulatorIdentification* Identification() override { return window_.Identification(); }
  void ShowMeasuredEmulator(const std::string& emulator) override {
    window_.ShowMeasuredEmulator(emulator);
  }

  void StartSeries();
  void StartNextPass();
  // Stores the score of the running series and keeps it for the export.
  void StoreSeries();
  void EndBenchmark();
  int32_t& Score(int game, bool is_d3d);
  // Adds a finished series to the session's record, in place of an earlier one of its game and
  // method; a series of another emulator, rule or steadiness starts the record afresh.
  void Keep(const SeriesRecord& series, const StopRule& rule, bool steady);
  EmulatorIdentity PassEmulator() const;

  ProgramState& state_;
  SequencerHost& window_;
  SeriesView& view_;
  std::string system_root_;
  StopRule rule_;
  int game_ = 0;
  std::vector<bool> methods_;  // of the running benchmark, DirectDraw first
  std::size_t method_ = 0;
  std::optional<SeriesDriver> driver_;
  std::unique_ptr<MachineWatch> watch_;
  RunRecord record_;
  std::optional<StopRule> record_rule_;
  bool steady_ = false;  // of the running benchmark
  int processor_ = kAnyProcessor;
  std::optional<bool> record_steady_;  // of the series in record_
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velotrax::results
