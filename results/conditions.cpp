#include "results/conditions.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

std::optional<std::string> ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return line;
}

std::optional<long> ReadNumber(const std::string& path) {
  const std::optional<std::string> line = ReadFirstLine(path);
  if (!line) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(line->c_str(), &end, 10);
  if (end == line->c_str()) return std::nullopt;
  return value;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The subdirectories of dir whose name is prefix followed by a number, in numeric order.
std::vector<std::pair<int, std::filesystem::path>> NumberedEntries(const std::string& dir,
                                                                   const std::string& prefix) {
  std::vector<std::pair<int, std::filesystem::path>> found;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) continue;
    found.emplace_back(std::stoi(digits), it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

std::optional<CpuTimes> ReadCpuTimes(const std::string& root) {
  const std::optional<std::string> line = ReadFirstLine(root + "/proc/stat");
  if (!line || line->rfind("cpu ", 0) != 0) return std::nullopt;
  std::istringstream in(line->substr(4));
  uint64_t field[8] = {};  // user nice system idle iowait irq softirq steal
  int count = 0;
  while (count < 8 && in >> field[count]) ++count;
  if (count < 4) return std::nullopt;
  CpuTimes times;
  // Guest time is already part of user time.
  times.busy = field[0] + field[1] + field[2] + field[5] + field[6] + field[7];
  times.total = times.busy + field[3] + field[4];
  return times;
}

std::optional<double> ReadLoadAverage(const std::string& root) {
  const std::optional<std::string> line = ReadFirstLine(root + "/proc/loadavg");
  if (!line) return std::nullopt;
  char* end = nullptr;
  const double load = std::strtod(line->c_str(), &end);
  if (end == line->c_str()) return std::nullopt;
  return load;
}

std::vector<CpuFrequency> ReadCpuFrequencies(const std::string& root) {
  std::vector<CpuFrequency> cpus;
  for (const auto& [number, path] : NumberedEntries(root + "/sys/devices/system/cpu", "cpu")) {
    const std::string policy = (path / "cpufreq").string();
    CpuFrequency cpu;
    cpu.cpu = number;
    cpu.governor = Trim(ReadFirstLine(policy + "/scaling_governor").value_or(""));
    cpu.current_khz = ReadNumber(policy + "/scaling_cur_freq").value_or(0);
    cpu.max_khz = ReadNumber(policy + "/cpuinfo_max_freq").value_or(0);
    if (!cpu.governor.empty() || cpu.current_khz > 0) cpus.push_back(cpu);
  }
  return cpus;
}

std::optional<uint64_t> ReadThrottleCount(const std::string& root) {
  std::optional<uint64_t> sum;
  for (const auto& [number, path] : NumberedEntries(root + "/sys/devices/system/cpu", "cpu")) {
    for (const char* counter : {"core_throttle_count", "package_throttle_count"}) {
      const std::optional<long> count = ReadNumber((path / "thermal_throttle" / counter).string());
      if (count && *count >= 0) sum = sum.value_or(0) + static_cast<uint64_t>(*count);
    }
  }
  return sum;
}

bool OnBattery(const std::string& root) {
  bool mains_online = false, discharging = false;
  std::error_code error;
  for (std::filesystem::directory_iterator it(root + "/sys/class/power_supply", error), end;
       !error && it != end; it.increment(error)) {
    const std::string dir = it->path().string();
    const std::string type = Trim(ReadFirstLine(dir + "/type").value_or(""));
    if (type == "Mains" && ReadNumber(dir + "/online").value_or(0) == 1) mains_online = true;
    if (type == "Battery" && Trim(ReadFirstLine(dir + "/status").value_or("")) == "Discharging") {
      discharging = true;
    }
  }
  return discharging && !mains_online;
}

MachineFacts ReadMachineFacts(const std::string& root) {
  MachineFacts facts;
  std::ifstream cpuinfo(root + "/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
    if (key == "processor") ++facts.cores;
    if (facts.cpu_model.empty() && (key == "model name" || key == "Hardware" || key == "cpu model"))
      facts.cpu_model = value;
  }
  if (facts.cores == 0 && root.empty())
    facts.cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  std::ifstream meminfo(root + "/proc/meminfo");
  for (std::string line; std::getline(meminfo, line);) {
    if (line.rfind("MemTotal:", 0) == 0)
      facts.memory_kib = std::strtoull(line.c_str() + 9, nullptr, 10);
  }
  facts.kernel = Trim(ReadFirstLine(root + "/proc/sys/kernel/osrelease").value_or(""));
  if (facts.kernel.empty() && root.empty()) {
    struct utsname name {};
    if (::uname(&name) == 0) facts.kernel = name.release;
  }
  return facts;
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

double OwnCpuSeconds() {
  double seconds = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage usage {};
    if (::getrusage(who, &usage) != 0) continue;
    seconds += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
  }
  return seconds;
}

MachineWatch::MachineWatch(std::string root) : root_(std::move(root)) {}

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
  // A short look at what the others do right now.
  const std::optional<CpuTimes> before = ReadCpuTimes(root_);
  const double own_before = OwnCpuSeconds(), wall_before = WallSeconds();
  std::this_thread::sleep_for(kFirstLook);
  const std::optional<CpuTimes> after = ReadCpuTimes(root_);
  if (before && after) {
    const double others = OtherProcessorsBusy(*before, *after, OwnCpuSeconds() - own_before,
                                              WallSeconds() - wall_before, ::sysconf(_SC_CLK_TCK));
    if (others >= kBusyOthers) {
      Add("other-processes", "other processes keep about " + Fixed(others, 1) +
                                 " processor(s) busy: close them (see top) for steady figures");
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

void MachineWatch::PassStarted(double own_cpu_seconds) {
  pass_start_times_ = ReadCpuTimes(root_);
  pass_start_own_ = own_cpu_seconds;
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

void MachineWatch::PassEnded(double own_cpu_seconds) {
  const std::optional<CpuTimes> now = ReadCpuTimes(root_);
  if (pass_start_times_ && now) {
    const double others =
        OtherProcessorsBusy(*pass_start_times_, *now, own_cpu_seconds - pass_start_own_,
                            WallSeconds() - pass_start_wall_, ::sysconf(_SC_CLK_TCK));
    if (others >= kBusyOthers) {
      Add("other-processes", "other processes kept about " + Fixed(others, 1) +
                                 " processor(s) busy during a pass: close them (see top) for "
                                 "steady figures");
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
