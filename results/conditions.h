// What is known about the machine a run happens on: the facts an export records and
// the checks that warn about what would distort the figures. Every reader takes the root of the
// file system it reads ("" for the real one), so that tests can fake /proc and /sys; on Windows
// the readers ask the system itself and the root is not read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velotrax::results {

// Busy and total clock ticks of all processors together, from proc/stat (on Windows, 100 ns
// intervals from GetSystemTimes).
struct CpuTimes {
  uint64_t busy = 0, total = 0;
  uint64_t steal = 0;  // part of busy: time the virtual machine's host gave to others
};
std::optional<CpuTimes> ReadCpuTimes(const std::string& root);
// Each processor's times, keyed by its number, from the cpuN lines of proc/stat; empty where the
// system does not tell them (Windows).
std::vector<std::pair<int, CpuTimes>> ReadProcessorTimes(const std::string& root);

// The load average over the last minute, from proc/loadavg; never on Windows, which has none.
std::optional<double> ReadLoadAverage(const std::string& root);

// One processor's frequency policy, from sys/devices/system/cpu/cpuN/cpufreq (on Windows the
// clock from CallNtPowerInformation, no governor).
struct CpuFrequency {
  int cpu = 0;
  std::string governor;
  long current_khz = 0, max_khz = 0;  // 0 when not known
};
std::vector<CpuFrequency> ReadCpuFrequencies(const std::string& root);

// The sum of the processors' thermal throttle counters; nothing when the machine has none (and
// on Windows, which counts none).
std::optional<uint64_t> ReadThrottleCount(const std::string& root);

// True when the machine runs on a battery: no mains supply online and a battery discharging.
bool OnBattery(const std::string& root);

// True on a virtual machine (the processor's hypervisor flag): the other machines on its host
// share its memory and caches, so passes can spread by several per cent however quiet it is.
bool OnVirtualMachine(const std::string& root);

// The machine as an export records it.
struct MachineFacts {
  std::string cpu_model, kernel;
  int cores = 0;            // online logical processors
  uint64_t memory_kib = 0;  // 0 when not known
  // The kinds of Warning whose check this system cannot make (it does not tell the figure).
  std::vector<std::string> checks_not_offered;
};
MachineFacts ReadMachineFacts(const std::string& root);
// The kinds of Warning whose check the system under root cannot make, in the order of the checks.
std::vector<std::string> ChecksNotOffered(const std::string& root);

// The root the checks read: VELOTRAX_SYSTEM_ROOT when set (tests), otherwise the real one.
std::string SystemRoot();

// One kind of disturbance and what was said about it.
struct Warning {
  // "load", "other-processes", "governor", "frequency", "thermal", "battery", "steal",
  // "shared-processor"
  std::string kind;
  std::string text;  // what was seen and what to do, one line
  int times = 1;     // how often it was seen (passes or checks)
};

// The CPU time other processes took while a pass ran, in processors kept busy: the machine's busy
// time less the emulator's and our own, over the wall time.
double OtherProcessorsBusy(const CpuTimes& before, const CpuTimes& after, double own_seconds,
                           double wall_seconds, long ticks_per_second);

// The share of a pass's time (0 to 1) the virtual machine's host took from the processors (of
// processor alone, when it is one of times; else of all of them).
double StealShare(const CpuTimes& before, const CpuTimes& after);
// The share of a pass's wall time other programs took of the emulator's processor: its busy time
// less the emulator's own CPU time (Velotrax's threads keep off it).
double SharedProcessorShare(const CpuTimes& before, const CpuTimes& after, double emulator_seconds,
                            double wall_seconds, long ticks_per_second);

// Watches the machine through a run and collects the warnings, each said once on standard error.
class MachineWatch {
 public:
  explicit MachineWatch(std::string root);

  // The processor the emulator is bound to (-1: none): its steal time and what other programs
  // take of it are watched.
  void SetEmulatorProcessor(int processor) { processor_ = processor; }

  // Before the first pass: load, other processes over a short look, governor, battery.
  void BeforeRun();
  // The same without the short look, which would hold a window still: the passes' own looks
  // find other busy processes.
  void BeforeRunWithoutLook();
  // Around each pass; the own CPU seconds are the emulator's and this program's together, the
  // emulator's those of the ended children alone (ChildrenCpuSeconds).
  void PassStarted(double own_cpu_seconds, double emulator_cpu_seconds = 0);
  // Once while a pass runs, after it has had time to raise the clock.
  void DuringPass();
  void PassEnded(double own_cpu_seconds, double emulator_cpu_seconds = 0);

  const std::vector<Warning>& Warnings() const { return warnings_; }
  // Each processor's times at the start and the end of BeforeRun's look; empty without one.
  const std::vector<std::pair<int, CpuTimes>>& LookStart() const { return look_start_; }
  const std::vector<std::pair<int, CpuTimes>>& LookEnd() const { return look_end_; }
  // Called with each warning's text the first time it is seen.
  void SetReporter(std::function<void(const std::string& text)> report) {
    report_ = std::move(report);
  }

 private:
  void Add(const std::string& kind, const std::string& text);

  std::string root_;
  std::vector<Warning> warnings_;
  std::function<void(const std::string&)> report_;
  std::optional<CpuTimes> ProcessorTimes() const;

  int processor_ = -1;
  std::vector<std::pair<int, CpuTimes>> look_start_, look_end_;
  std::optional<CpuTimes> pass_start_times_, pass_start_processor_;
  double pass_start_own_ = 0, pass_start_emulator_ = 0;
  double pass_start_wall_ = 0;
  std::optional<uint64_t> throttle_at_start_;
};

// This program's CPU seconds together with those of its children, the ended ones included.
double OwnCpuSeconds();
// The CPU seconds of this program's ended children alone; 0 where the system does not tell.
double ChildrenCpuSeconds();

}  // namespace velotrax::results
