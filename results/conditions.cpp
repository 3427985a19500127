#include "results/conditions.h"

#include "results/conditions_system.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace velotrax::results {

namespace {

using namespace std::chrono_literals;

// Other processes taking this many processors' worth of time distort a pass.
constexpr double kBusyOthers = 0.3;
// A pass's fastest processor below this share of its maximum clock is held back.
constexpr double kSlowClock = 0.8;
// How long the look before the run watches the machine.
constexpr auto kFirstLook = 500ms;
// Time the virtual machine's host takes from a pass beyond this share is worth a warning: it
// alone moves a pass by about as much, and a ±1 % figure cannot be had under it.
constexpr double kStealShare = 0.02;
// Another program taking this share of the emulator's own processor during a pass.
constexpr double kSharedShare = 0.03;

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

MachineFacts ReadMachineFacts(const std::string& root) {
  MachineFacts facts = ReadSystemFacts(root);
  facts.checks_not_offered = ChecksNotOffered(root);
  return facts;
}

std::vector<std::string> ChecksNotOffered(const std::string& root) {
  bool governor = false, frequency = false;
  for (const CpuFrequency& cpu : ReadCpuFrequencies(root)) {
    governor = governor || !cpu.governor.empty();
    frequency = frequency || (cpu.current_khz > 0 && cpu.max_khz > 0);
  }
  std::vector<std::string> missing;
  // In the order of the checks: before the run, then around and during each pass.
  if (!PowerSourceKnown(root)) missing.push_back("battery");
  if (!governor) missing.push_back("governor");
  if (!ReadLoadAverage(root)) missing.push_back("load");
  if (!ReadCpuTimes(root)) missing.push_back("other-processes");
  if (!frequency) missing.push_back("frequency");
  if (!ReadThrottleCount(root)) missing.push_back("thermal");
  return missing;
}

std::string SystemRoot() {
  const char* root = std::getenv("VELOTRAX_SYSTEM_ROOT");
  return root != nullptr ? root : "";
}

double OtherProcessorsBusy(const CpuTimes& before, const CpuTimes& after, double own_seconds,
                           double wall_seconds, long ticks_per_second) {
  if (wall_seconds <= 0 || ticks_per_second <= 0 || after.busy < before.busy) return 0;
  const double busy = static_cast<double>(after.busy - before.busy) / ticks_per_second;
  return std::max(0.0, busy - own_seconds) / wall_seconds;
}

double StealShare(const CpuTimes& before, const CpuTimes& after) {
  if (after.total <= before.total || after.steal < before.steal) return 0;
  return static_cast<double>(after.steal - before.steal) /
         static_cast<double>(after.total - before.total);
}

double SharedProcessorShare(const CpuTimes& before, const CpuTimes& after, double emulator_seconds,
                            double wall_seconds, long ticks_per_second) {
  if (wall_seconds <= 0 || ticks_per_second <= 0 || after.busy < before.busy) return 0;
  // The host's stolen time is said on its own.
  const uint64_t steal = after.steal >= before.steal ? after.steal - before.steal : 0;
  const uint64_t busy = after.busy - before.busy;
  const double others =
      static_cast<double>(busy - std::min(busy, steal)) / ticks_per_second - emulator_seconds;
  // Ticks are coarse: a share is never more than the whole processor.
  return std::min(1.0, std::max(0.0, others) / wall_seconds);
}

MachineWatch::MachineWatch(std::string root) : root_(std::move(root)) {}

std::optional<CpuTimes> MachineWatch::ProcessorTimes() const {
  if (processor_ < 0) return std::nullopt;
  for (const auto& [number, times] : ReadProcessorTimes(root_)) {
    if (number == processor_) return times;
  }
  return std::nullopt;
}

void MachineWatch::Add(const std::string& kind, const std::string& text) {
  for (Warning& warning : warnings_) {
    if (warning.kind == kind) {
      ++warning.times;
      return;
    }
  }
  warnings_.push_back({kind, text, 1});
  if (report_) report_(text);
}

void MachineWatch::BeforeRun() {
  BeforeRunWithoutLook();
  // A short look at what the others do right now, and at which processor is the quietest.
  const std::optional<CpuTimes> before = ReadCpuTimes(root_);
  look_start_ = ReadProcessorTimes(root_);
  const double own_before = OwnCpuSeconds(), wall_before = WallSeconds();
  std::this_thread::sleep_for(kFirstLook);
  const std::optional<CpuTimes> after = ReadCpuTimes(root_);
  look_end_ = ReadProcessorTimes(root_);
  if (before && after) {
    const double others = OtherProcessorsBusy(*before, *after, OwnCpuSeconds() - own_before,
                                              WallSeconds() - wall_before, CpuTicksPerSecond());
    if (others >= kBusyOthers) {
      Add("other-processes", "other processes keep about " + Fixed(others, 1) +
                                 " processor(s) busy: close them (see " + ProcessViewerName() +
                                 ") for steady figures");
    }
  }
}

void MachineWatch::BeforeRunWithoutLook() {
  if (OnBattery(root_)) {
    Add("battery",
        "the computer runs on battery: power saving may slow the processor; plug in the mains "
        "for figures that compare");
  }
  int powersave = 0;
  const std::vector<CpuFrequency> cpus = ReadCpuFrequencies(root_);
  for (const CpuFrequency& cpu : cpus) powersave += cpu.governor == "powersave" ? 1 : 0;
  if (powersave > 0) {
    Add("governor", "the CPU frequency governor is \"powersave\" on " + std::to_string(powersave) +
                        " of " + std::to_string(cpus.size()) +
                        " processors: the clock may stay low; choose \"performance\" for the "
                        "run (sudo cpupower frequency-set -g performance)");
  }
  const MachineFacts facts = ReadMachineFacts(root_);
  const std::optional<double> load = ReadLoadAverage(root_);
  const double cores = std::max(1, facts.cores);
  if (load && *load >= cores) {
    Add("load", "the load average is " + Fixed(*load, 2) + " on " + Fixed(cores, 0) +
                    " processor(s): other programs keep the machine busy; close them or wait "
                    "until it is idle");
  }
  throttle_at_start_ = ReadThrottleCount(root_);
}

void MachineWatch::PassStarted(double own_cpu_seconds, double emulator_cpu_seconds) {
  pass_start_times_ = ReadCpuTimes(root_);
  pass_start_processor_ = ProcessorTimes();
  pass_start_own_ = own_cpu_seconds;
  pass_start_emulator_ = emulator_cpu_seconds;
  pass_start_wall_ = WallSeconds();
}

void MachineWatch::DuringPass() {
  long fastest = 0, max_khz = 0;
  for (const CpuFrequency& cpu : ReadCpuFrequencies(root_)) {
    fastest = std::max(fastest, cpu.current_khz);
    max_khz = std::max(max_khz, cpu.max_khz);
  }
  if (fastest > 0 && max_khz > 0 && fastest < kSlowClock * static_cast<double>(max_khz)) {
    Add("frequency", "during a pass the fastest processor ran at " +
                         std::to_string(fastest / 1000) + " MHz of its " +
                         std::to_string(max_khz / 1000) +
                         " MHz: power saving or heat holds it back; check the governor, the "
                         "power plan and the cooling");
  }
}

void MachineWatch::PassEnded(double own_cpu_seconds, double emulator_cpu_seconds) {
  const std::optional<CpuTimes> now = ReadCpuTimes(root_);
  const std::optional<CpuTimes> processor_now = ProcessorTimes();
  const double wall = WallSeconds() - pass_start_wall_;
  // The emulator's own processor when it has one: its steal is what slowed the pass.
  const bool own_processor = pass_start_processor_ && processor_now;
  const std::optional<CpuTimes>& steal_before =
      own_processor ? pass_start_processor_ : pass_start_times_;
  const std::optional<CpuTimes>& steal_after = own_processor ? processor_now : now;
  if (steal_before && steal_after) {
    const double steal = StealShare(*steal_before, *steal_after);
    if (steal >= kStealShare) {
      Add("steal", "the virtual machine's host took " + Fixed(100 * steal, 1) + " % of " +
                       (own_processor ? "the emulator's processor" : "the processors") +
                       " during a pass (steal time): no program inside the machine can take "
                       "that back, and a pass slows by about as much; measure when the host is "
                       "quieter, or on a machine of your own");
    }
  }
  if (own_processor) {
    const double shared = SharedProcessorShare(*pass_start_processor_, *processor_now,
                                               emulator_cpu_seconds - pass_start_emulator_, wall,
                                               CpuTicksPerSecond());
    if (shared >= kSharedShare) {
      Add("shared-processor",
          "another program took about " + Fixed(100 * shared, 0) + " % of processor " +
              std::to_string(processor_) + ", the emulator's own, during a pass: close it (see " +
              ProcessViewerName() +
              "), or bind the emulator to another processor (velotrax-cli run --processor N)");
    }
  }
  if (pass_start_times_ && now) {
    const double others = OtherProcessorsBusy(
        *pass_start_times_, *now, own_cpu_seconds - pass_start_own_, wall, CpuTicksPerSecond());
    if (others >= kBusyOthers) {
      Add("other-processes", "other processes kept about " + Fixed(others, 1) +
                                 " processor(s) busy during a pass: close them (see " +
                                 ProcessViewerName() + ") for steady figures");
    }
  }
  const std::optional<uint64_t> throttled = ReadThrottleCount(root_);
  if (throttle_at_start_ && throttled && *throttled > *throttle_at_start_) {
    Add("thermal", "the processor throttled for heat " +
                       std::to_string(*throttled - *throttle_at_start_) +
                       " time(s) during the run: let it cool, check its cooling, and run again");
    throttle_at_start_ = throttled;
  }
}

}  // namespace velotrax::results
