// The POSIX side of results/conditions.h: the machine as /proc and /sys tell it, under a root
// that tests may fake.
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "results/conditions.h"
#include "results/conditions_system.h"

namespace velotrax::results {

namespace {

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

// The figures of one line of proc/stat after its name.
std::optional<CpuTimes> ParseCpuLine(const std::string& figures) {
  std::istringstream in(figures);
  uint64_t field[8] = {};  // user nice system idle iowait irq softirq steal
  int count = 0;
  while (count < 8 && in >> field[count]) ++count;
  if (count < 4) return std::nullopt;
  CpuTimes times;
  // Guest time is already part of user time.
  times.busy = field[0] + field[1] + field[2] + field[5] + field[6] + field[7];
  times.total = times.busy + field[3] + field[4];
  times.steal = field[7];
  return times;
}

}  // namespace

std::optional<CpuTimes> ReadCpuTimes(const std::string& root) {
  const std::optional<std::string> line = ReadFirstLine(root + "/proc/stat");
  if (!line || line->rfind("cpu ", 0) != 0) return std::nullopt;
  return ParseCpuLine(line->substr(4));
}

std::vector<std::pair<int, CpuTimes>> ReadProcessorTimes(const std::string& root) {
  std::vector<std::pair<int, CpuTimes>> processors;
  std::ifstream in(root + "/proc/stat");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("cpu", 0) != 0) break;  // the processors' lines come first
    const std::size_t blank = line.find(' ');
    const std::string digits = line.substr(3, blank == std::string::npos ? 0 : blank - 3);
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    if (const std::optional<CpuTimes> times = ParseCpuLine(line.substr(blank))) {
      processors.emplace_back(std::stoi(digits), *times);
    }
  }
  return processors;
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

bool OnVirtualMachine(const std::string& root) {
  std::ifstream cpuinfo(root + "/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || Trim(line.substr(0, colon)) != "flags") continue;
    std::istringstream flags(line.substr(colon + 1));
    for (std::string flag; flags >> flag;) {
      if (flag == "hypervisor") return true;
    }
    return false;
  }
  return false;
}

MachineFacts ReadSystemFacts(const std::string& root) {
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

bool PowerSourceKnown(const std::string& root) {
  // The system lists its power supplies there; a machine without any runs on the mains.
  std::error_code error;
  return std::filesystem::is_directory(root + "/sys/class/power_supply", error);
}

long CpuTicksPerSecond() {
  return ::sysconf(_SC_CLK_TCK);
}

const char* ProcessViewerName() {
  return "top";
}

double ChildrenCpuSeconds() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_CHILDREN, &usage) != 0) return 0;
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
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

}  // namespace velotrax::results
