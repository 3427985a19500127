#include "results/series_driver.h"

#include <cstdio>
#include <utility>

#include "results/pass_isolation.h"

namespace velotrax::results {

namespace {

// The first pass and the five after it: FirstPassIsWarmup's fewest.
constexpr std::size_t kFewestToJudgeFirstPass = 6;

std::string PlusMinus(double percent) {
  char text[32];
  std::snprintf(text, sizeof text, "±%.1f %%", percent);
  return text;
}

}  // namespace

SeriesDriver::SeriesDriver(int game, std::string rom, bool is_d3d, StopRule rule, int warmup,
                           bool auto_warmup)
    : rule_(rule), warmup_(warmup), auto_warmup_(auto_warmup) {
  series_.game = game;
  series_.rom = std::move(rom);
  series_.is_d3d = is_d3d;
}

bool SeriesDriver::NextIsWarmup() const {
  return static_cast<int>(series_.warmup.size()) < warmup_;
}

bool SeriesDriver::WantsPass() {
  if (!series_.stop.empty()) return false;
  if (NextIsWarmup()) return true;
  // The first pass is judged once, as soon as enough passes follow it to tell.
  if (auto_warmup_ && !first_judged_ && series_.passes.size() >= kFewestToJudgeFirstPass) {
    first_judged_ = true;
    if (FirstPassIsWarmup(series_.passes)) {
      series_.warmup.push_back(series_.passes.front());
      series_.passes.erase(series_.passes.begin());
      first_set_aside_ = true;
    }
  }
  series_.stop = StopReason(rule_, AsDoubles(series_.passes));
  return series_.stop.empty();
}

void SeriesDriver::AddPass(int32_t fps) {
  if (NextIsWarmup()) {
    series_.warmup.push_back(fps);
    return;
  }
  series_.passes.push_back(fps);
  if (fps != 0) return;
  ++passes_without_rate_;
  if (rule_.confidence > 0) series_.stop = "a pass found no frame rate";
}

void SeriesDriver::EndEarly(const std::string& reason) {
  if (series_.stop.empty()) series_.stop = reason;
}

bool SeriesDriver::Finish() {
  if (series_.passes.empty()) return false;
  FinishSeries(series_, rule_);
  return true;
}

std::string SeriesProgressText(const SeriesRecord& series) {
  const std::string pass = "pass " + std::to_string(series.passes.size() + 1);
  const std::vector<double> rates = AsDoubles(series.passes);
  const double percent = IntervalPercent(MedianOf(rates), MedianInterval(rates));
  return percent < 0 ? pass : pass + ", " + PlusMinus(percent);
}

std::string IntervalPercentText(const SeriesRecord& series) {
  const double percent = IntervalPercent(MedianOf(AsDoubles(series.passes)), series.interval);
  if (percent < 0) return {};
  // Compact: it stands in the narrow room right of a score's bar.
  char text[32];
  std::snprintf(text, sizeof text, "±%.1f%%", percent);
  return text;
}

}  // namespace velotrax::results
