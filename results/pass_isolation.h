// Keeping a pass to itself: the emulator on one processor of its own with Velotrax's threads off
// it, at a priority a little above the other programs', and a first pass that ran cold set
// aside. Each measure can be turned off; both front ends take them from here.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "process/create_process.h"
#include "results/conditions.h"

namespace velotrax::results {

inline constexpr int kAnyProcessor = -1;       // the emulator runs where the system puts it
inline constexpr int kQuietestProcessor = -2;  // the one found least busy by a short look

// What a run does to keep its passes steady.
struct PassIsolation {
  int processor = kQuietestProcessor;  // a processor's number, or one of the two above
  bool raise_priority = true;
  bool auto_warmup = true;  // a first pass slower than all after it is not counted
  bool operator==(const PassIsolation&) const = default;
};

// Nothing done: the emulator started as before these measures.
inline constexpr PassIsolation kNoIsolation{kAnyProcessor, false, false};

// The processor for the emulator among allowed, given each one's busy share (0 to 1) and the
// time a fixed piece of work took on it (both in the order of allowed; empty when not measured):
// among the least busy (shares within 5 points of the least) the fastest, where times within 2 %
// of the least go to the highest number, as the system's own work favours processor 0.
// kAnyProcessor when fewer than two are allowed: Velotrax's threads would have nowhere else to go.
int ChooseProcessor(const std::vector<int>& allowed, const std::vector<double>& busy,
                    const std::vector<double>& work = {});

// How long a fixed piece of work takes on each allowed processor (the median of five turns, the
// calling thread moved to each in turn; about 50 ms in all), in seconds: virtual processors of
// one machine can differ by several per cent. The thread may run anywhere again afterwards.
std::vector<double> ProcessorWorkTimes(const std::vector<int>& allowed);

// Each allowed processor's busy share between two readings of ReadProcessorTimes; steal counts
// as busy. A processor missing from a reading gets 0.
std::vector<double> BusyShares(const std::vector<int>& allowed,
                               const std::vector<std::pair<int, CpuTimes>>& before,
                               const std::vector<std::pair<int, CpuTimes>>& after);

// The processor isolation asks for on this machine: a given one as it is, otherwise the one
// ChooseProcessor takes among the allowed ones from their busy shares (empty: no look made) and
// their work times (measured here).
int ResolveProcessor(const PassIsolation& isolation, const std::vector<double>& busy);

// Sets the runner up for the run's passes: the child's processor (kAnyProcessor: none) and its
// priority, and keeps the calling thread off that processor (on all of them again for none).
void ApplyIsolation(TJvCreateProcess& runner, int processor, bool raise_priority);

// True when a first pass of a series is a warm-up and not counted: once at least five passes
// follow it, it is below every one of them and more than 2 % below their median.
bool FirstPassIsWarmup(const std::vector<int32_t>& passes);

}  // namespace velotrax::results
