#include "results/pass_isolation.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "process/processors.h"
#include "results/statistics.h"

namespace velotrax::results {

namespace {

// Busy shares closer than this count as equal: a look of a few hundred milliseconds measures
// no finer.
constexpr double kSameBusy = 0.05;
// Work times closer than this count as equal.
constexpr double kSameWork = 0.02;
// The work timed on each processor: 256 KiB of words, touched this many times, in turns.
constexpr std::size_t kWorkWords = 64 * 1024;
constexpr int kWorkRounds = 24;
constexpr int kWorkTurns = 5;
// Where the work's result goes, so that it is not optimised away.
volatile uint32_t work_sink = 0;
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

int ChooseProcessor(const std::vector<int>& allowed, const std::vector<double>& busy,
                    const std::vector<double>& work) {
  if (allowed.size() < 2) return kAnyProcessor;
  double least = 1e9;
  for (std::size_t i = 0; i < allowed.size() && i < busy.size(); ++i)
    least = std::min(least, busy[i]);
  std::vector<bool> quiet(allowed.size());
  double quickest = 1e9;
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    quiet[i] = (i < busy.size() ? busy[i] : least) <= least + kSameBusy;
    if (quiet[i] && i < work.size() && work[i] > 0) quickest = std::min(quickest, work[i]);
  }
  int chosen = kAnyProcessor;
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    const double time = i < work.size() && work[i] > 0 ? work[i] : quickest;
    if (quiet[i] && time <= quickest * (1 + kSameWork)) chosen = std::max(chosen, allowed[i]);
  }
  return chosen;
}

std::vector<double> ProcessorWorkTimes(const std::vector<int>& allowed) {
  std::vector<std::vector<double>> turns(allowed.size());
  std::vector<uint32_t> buffer(kWorkWords);
  uint32_t x = 1;
  for (int turn = 0; turn < kWorkTurns; ++turn) {
    for (std::size_t i = 0; i < allowed.size(); ++i) {
      if (!RunThreadOn(allowed[i])) continue;
      const auto start = std::chrono::steady_clock::now();
      for (int round = 0; round < kWorkRounds; ++round) {
        for (uint32_t& word : buffer) {
          x = x * 1664525u + 1013904223u;
          word += x;
        }
      }
      turns[i].push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  }
  RunThreadOn(-1);
  work_sink = x + buffer[x % buffer.size()];
  std::vector<double> times;
  for (const std::vector<double>& t : turns) times.push_back(t.empty() ? 0 : MedianOf(t));
  return times;
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
  const std::vector<int> allowed = AllowedProcessors();
  if (allowed.size() < 2) return kAnyProcessor;
  return ChooseProcessor(allowed, busy, ProcessorWorkTimes(allowed));
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
