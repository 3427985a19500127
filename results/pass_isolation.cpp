#include "results/pass_isolation.h"

#include <algorithm>
#include <optional>

#include "process/processors.h"
#include "results/statistics.h"

namespace velotrax::results {

namespace {

// Busy shares closer than this count as equal: a look of a few hundred milliseconds measures
// no finer.
constexpr double kSameBusy = 0.05;
// A first pass is judged once this many passes follow it.
constexpr std::size_t kPassesAfterFirst = 5;
// How far below the median of the later passes a cold first pass lies.
constexpr double kColdMargin = 0.02;

std::optional<CpuTimes> Find(const std::vector<std::pair<int, CpuTimes>>& times, int cpu) {
  for (const auto& [number, value] : times) {
    if (number == cpu) return value;
  }
  return std::nullopt;
}

}  // namespace

int ChooseProcessor(const std::vector<int>& allowed, const std::vector<double>& busy) {
  if (allowed.size() < 2) return kAnyProcessor;
  double least = 1e9;
  for (std::size_t i = 0; i < allowed.size() && i < busy.size(); ++i)
    least = std::min(least, busy[i]);
  int chosen = kAnyProcessor;
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    const double share = i < busy.size() ? busy[i] : least;
    if (share <= least + kSameBusy) chosen = std::max(chosen, allowed[i]);
  }
  return chosen;
}

std::vector<double> BusyShares(const std::vector<int>& allowed,
                               const std::vector<std::pair<int, CpuTimes>>& before,
                               const std::vector<std::pair<int, CpuTimes>>& after) {
  std::vector<double> shares;
  for (int cpu : allowed) {
    const std::optional<CpuTimes> a = Find(before, cpu), b = Find(after, cpu);
    double share = 0;
    if (a && b && b->total > a->total && b->busy >= a->busy) {
      share = static_cast<double>(b->busy - a->busy) / static_cast<double>(b->total - a->total);
    }
    shares.push_back(share);
  }
  return shares;
}

int ResolveProcessor(const PassIsolation& isolation, const std::vector<double>& busy) {
  if (isolation.processor != kQuietestProcessor) return isolation.processor;
  return ChooseProcessor(AllowedProcessors(), busy);
}

void ApplyIsolation(TJvCreateProcess& runner, int processor, bool raise_priority) {
  runner.ChildProcessor = processor;
  runner.Priority =
      raise_priority ? TJvProcessPriority::ppAboveNormal : TJvProcessPriority::ppNormal;
  KeepThreadOff(processor);
}

bool FirstPassIsWarmup(const std::vector<int32_t>& passes) {
  if (passes.size() < 1 + kPassesAfterFirst) return false;
  const std::vector<int32_t> after(passes.begin() + 1, passes.end());
  const double median = MedianOf(AsDoubles(after));
  const int32_t first = passes.front();
  // A pass without a frame rate is no warm-up: it is a failure to be seen.
  if (first <= 0 || *std::min_element(after.begin(), after.end()) <= 0) return false;
  return first < *std::min_element(after.begin(), after.end()) &&
         first < median * (1 - kColdMargin);
}

}  // namespace velotrax::results
