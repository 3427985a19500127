#include "results/series_benchmark.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "base/errors.h"
#include "core/identification.h"
#include "emulator/emulator_dialect.h"
#include "results/errors.h"
#include "storage/files.h"
#include "storage/int_text.h"
#include "storage/string_list.h"

namespace velotrax::results {

namespace {

constexpr std::string_view kSection = "velotrax";
constexpr std::string_view kRepeatKey = "repeat";
constexpr std::string_view kPercentKey = "repeat_percent";
constexpr std::string_view kMostKey = "repeat_most_passes";
constexpr std::string_view kSteadyKey = "repeat_steady";
// Read for a key the file does not hold: no value written by this program looks like it.
constexpr std::string_view kAbsent = "\x01";

// When the clock of a running pass is looked at: once it has had time to rise.
constexpr std::chrono::milliseconds kClockCheckAfter{500};

// A number as the settings file keeps it, with a point whatever the user's locale.
std::string NumberText(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string();
}

std::optional<double> ParseNumber(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Writes key when its value differs from the default's or the file holds it already.
void WriteKey(TIniFile& settings, std::string_view key, const std::string& value,
              const std::string& default_value) {
  if (value == default_value && settings.ReadValue(kSection, key, kAbsent) == kAbsent) return;
  settings.WriteValue(kSection, key, value);
}

std::string ModeOf(const std::vector<SeriesRecord>& series) {
  bool ddraw = false, d3d = false;
  for (const SeriesRecord& s : series) (s.is_d3d ? d3d : ddraw) = true;
  return ddraw && d3d ? "both" : d3d ? "d3d" : "ddraw";
}

void MergeWarnings(std::vector<Warning>& into, const std::vector<Warning>& warnings) {
  for (const Warning& warning : warnings) {
    const auto same = std::find_if(into.begin(), into.end(),
                                   [&](const Warning& w) { return w.kind == warning.kind; });
    if (same == into.end()) {
      into.push_back(warning);
    } else {
      same->times += warning.times;
    }
  }
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

void ExportRecord(const RunRecord& record, const std::string& path) {
  if (record.series.empty()) {
    throw EResultsError("There are no results to export: no benchmark has ended in this session");
  }
  const std::string name = AsciiLowerCase(path);
  std::string bytes;
  if (EndsWith(name, ".json")) {
    bytes = ExportJson(record);
  } else if (EndsWith(name, ".md")) {
    bytes = ExportMarkdown(record);
  } else {
    throw EResultsError("Cannot export to \"" + path +
                        "\": the name must end in .json (JSON) or .md (Markdown)");
  }
  try {
    SaveBytesToFile(path, bytes);
  } catch (const EWriteError& e) {
    // Its own words name no file; the old file, if any, is intact.
    throw EResultsError("Cannot write \"" + path + "\": " + e.what());
  }
}

StopRule RepeatRule(const RepeatOption& option) {
  StopRule rule;
  rule.confidence = option.percent;
  rule.max_runs = option.most_passes;
  rule.min_runs = std::min(FewestPassesForInterval(), option.most_passes);
  return rule;
}

RepeatOption ReadRepeatOption(TIniFile& settings) {
  RepeatOption option;
  option.on = settings.ReadValue(kSection, kRepeatKey, "0") == "1";
  const std::optional<double> percent = ParseNumber(settings.ReadValue(kSection, kPercentKey, ""));
  if (percent && *percent >= kLowestRepeatPercent && *percent <= kHighestRepeatPercent) {
    option.percent = *percent;
  }
  try {
    const int32_t most = TextToInt(settings.ReadValue(kSection, kMostKey, ""));
    if (most >= 1 && most <= kMostRepeatPasses) option.most_passes = most;
  } catch (const EConvertError&) {
    // A hand-edited value that is no number: the default stands.
  }
  option.steady = settings.ReadValue(kSection, kSteadyKey, "0") == "1";
  return option;
}

void WriteRepeatOption(TIniFile& settings, const RepeatOption& option) {
  const RepeatOption defaults;
  WriteKey(settings, kRepeatKey, option.on ? "1" : "0", defaults.on ? "1" : "0");
  WriteKey(settings, kPercentKey, NumberText(option.percent), NumberText(defaults.percent));
  WriteKey(settings, kMostKey, IntToText(option.most_passes), IntToText(defaults.most_passes));
  WriteKey(settings, kSteadyKey, option.steady ? "1" : "0", defaults.steady ? "1" : "0");
}

SeriesBenchmark::SeriesBenchmark(ProgramState& state, SequencerHost& window, SeriesView& view,
                                 std::string system_root)
    : state_(state), window_(window), view_(view), system_root_(std::move(system_root)) {}

SeriesBenchmark::~SeriesBenchmark() = default;

int32_t& SeriesBenchmark::Score(int game, bool is_d3d) {
  Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
  return is_d3d ? entry.d3d : entry.ddraw;
}

void SeriesBenchmark::Start(const RepeatOption& option) {
  EndIfIdle();
  const int game = window_.SelectedGame();
  if (game <= 0 || static_cast<std::size_t>(game) >= state_.games.size()) return;
  const EmulatorIdentification* identification = window_.Identification();
  if (Running() || window_.Runner().Watching() ||
      (identification != nullptr && identification->Identifying())) {
    // As beside a running pass: the runner's own refusal, and the running pass goes on.
    throw EJVCLException("Cannot perform this operation when process is running");
  }
  methods_.clear();
  switch (window_.CheckedPassMode()) {
    case PassMode::ddraw:
      methods_ = {false};
      break;
    case PassMode::d3d:
      methods_ = {true};
      break;
    case PassMode::both:
      methods_ = {false, true};
      break;
    case PassMode::none:
      methods_ = {state_.pass_is_d3d};  // the method of the last pass stays
      break;
  }
  rule_ = RepeatRule(option);
  game_ = game;
  method_ = 0;
  steady_ = option.steady;
  // No look at the processors' busy time, which would hold the window still for half a second;
  // the fastest of them is taken (about 50 ms of work timed on each).
  processor_ = steady_ ? ResolveProcessor(PassIsolation{}, {}) : kAnyProcessor;
  watch_ = std::make_unique<MachineWatch>(system_root_);
  watch_->SetReporter([this](const std::string& text) { view_.ShowMachineWarning(text); });
  watch_->SetEmulatorProcessor(processor_);
  watch_->BeforeRunWithoutLook();
  ApplyIsolation(window_.Runner(), processor_, true);
  StartSeries();
}

void SeriesBenchmark::StartSeries() {
  const bool is_d3d = methods_[method_];
  driver_.emplace(game_, state_.games[static_cast<std::size_t>(game_)].rom, is_d3d, rule_, 0, true);
  StartNextPass();
}

void SeriesBenchmark::StartNextPass() {
  state_.both_pending = false;
  state_.second_pass_game = 0;
  state_.pass_is_d3d = driver_->Series().is_d3d;
  window_.ShowBusyCursors();
  watch_->PassStarted(OwnCpuSeconds(), ChildrenCpuSeconds());
  try {
    StartPass(state_, *this);
  } catch (...) {
    driver_->EndEarly("an error ended the passes");
    StoreSeries();
    EndBenchmark();
    throw;
  }
  // The clock is looked at once the pass has had time to raise it; a pass over by then is not.
  view_.RunLater(kClockCheckAfter, [this, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.expired() && Running() && window_.Runner().Watching()) watch_->DuringPass();
  });
}

void SeriesBenchmark::SetStatusText(const std::string& text) {
  // The described texts stay as they are; the series' progress follows the pass's.
  static constexpr std::string_view kBenchmarking = "Status : Benchmarking ";
  if (driver_ && text.rfind(kBenchmarking, 0) == 0) {
    window_.SetStatusText(text + " (" + SeriesProgressText(driver_->Series()) + ")");
    return;
  }
  window_.SetStatusText(text);
}

void SeriesBenchmark::EndIfIdle() {
  if (!Running() || window_.Runner().Watching()) return;
  const EmulatorIdentification* identification = window_.Identification();
  if (identification != nullptr && identification->Identifying()) return;
  driver_->EndEarly("the emulator could not be identified");
  StoreSeries();
  EndBenchmark();
}

void SeriesBenchmark::PassEnded(uint32_t exit_code) {
  // Said now, while the pass log still holds the pass they are about.
  watch_->PassEnded(OwnCpuSeconds(), ChildrenCpuSeconds());
  const bool is_d3d = driver_->Series().is_d3d;
  int32_t& score = Score(game_, is_d3d);
  try {
    OnPassEnd(state_, *this, exit_code);
  } catch (...) {
    // The pass measured nothing: the score stays the median of the passes before it.
    if (!driver_->Series().passes.empty()) score = MedianScore(driver_->Series().passes);
    driver_->EndEarly("an error ended the passes");
    StoreSeries();
    EndBenchmark();
    window_.RefreshComparison();
    throw;
  }
  driver_->AddPass(score);
  // The display follows the median of the passes so far.
  score = MedianScore(driver_->Series().passes);
  const bool more = driver_->WantsPass();
  if (!more) StoreSeries();
  window_.RefreshComparison();
  if (more) {
    StartNextPass();
  } else if (++method_ < methods_.size()) {
    StartSeries();
  } else {
    EndBenchmark();
  }
}

void SeriesBenchmark::StoreSeries() {
  if (!driver_->Finish()) return;
  Score(game_, driver_->Series().is_d3d) = driver_->Series().stored;
  Keep(driver_->Series(), rule_, steady_);
}

void SeriesBenchmark::EndBenchmark() {
  driver_.reset();
  // Single passes and probes run as they always have; the window's thread may go anywhere.
  ApplyIsolation(window_.Runner(), kAnyProcessor, false);
  MergeWarnings(record_.warnings, watch_->Warnings());
  window_.RestoreCursors();
}

void SeriesBenchmark::KeepSinglePass(int game, bool is_d3d, int32_t fps) {
  if (game <= 0 || static_cast<std::size_t>(game) >= state_.games.size()) return;
  StopRule rule;  // one pass, as asked
  SeriesDriver single(game, state_.games[static_cast<std::size_t>(game)].rom, is_d3d, rule);
  single.WantsPass();
  single.AddPass(fps);
  single.WantsPass();
  single.Finish();
  Keep(single.Series(), rule, false);
}

EmulatorIdentity SeriesBenchmark::PassEmulator() const {
  return {state_.mame_file, DialectName(state_.pass_plan.dialect), state_.pass_plan.version};
}

void SeriesBenchmark::Keep(const SeriesRecord& series, const StopRule& rule, bool steady) {
  const EmulatorIdentity emulator = PassEmulator();
  const bool same_rule = record_rule_ && record_rule_->repeat == rule.repeat &&
                         record_rule_->confidence == rule.confidence &&
                         record_rule_->min_runs == rule.min_runs &&
                         record_rule_->max_runs == rule.max_runs;
  const bool same_emulator = record_.emulator.file == emulator.file &&
                             record_.emulator.dialect == emulator.dialect &&
                             record_.emulator.version == emulator.version;
  if (record_.series.empty() || !same_rule || !same_emulator || record_steady_ != steady) {
    // Figures of another emulator or rule do not go into one run.
    record_ = RunRecord{};
    record_.date = UtcNow();
    record_.velotrax_version = VelotraxVersion();
    record_.emulator = emulator;
    record_rule_ = rule;
    record_steady_ = steady;
    RunSettings& settings = record_.settings;
    settings.processor = steady ? processor_ : kAnyProcessor;
    settings.raised_priority = true;
    settings.auto_warmup = true;
    settings.repeat = rule.repeat;
    settings.confidence = rule.confidence;
    settings.min_runs = rule.min_runs;
    settings.max_runs = rule.max_runs;
  }
  std::erase_if(record_.series, [&](const SeriesRecord& s) {
    return s.game == series.game && s.is_d3d == series.is_d3d;
  });
  record_.series.push_back(series);
  record_.settings.mode = ModeOf(record_.series);
}

RunRecord SeriesBenchmark::SessionRecord() const {
  RunRecord record = record_;
  record.machine = ReadMachineFacts(system_root_);
  if (watch_ && Running()) MergeWarnings(record.warnings, watch_->Warnings());
  return record;
}

std::string SeriesBenchmark::IntervalText(int game, bool is_d3d, int32_t score) const {
  for (const SeriesRecord& series : record_.series) {
    if (series.game == game && series.is_d3d == is_d3d) {
      return series.stored == score && series.passes.size() > 1 ? IntervalPercentText(series)
                                                                : std::string();
    }
  }
  return {};
}

}  // namespace velotrax::results
