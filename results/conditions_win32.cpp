// The Windows side of results/conditions.h: the machine as Windows itself tells it. Windows has
// no load average, no frequency governor and no throttle counter: those checks are not offered
// (ChecksNotOffered says so in the export).
#include <windows.h>
// After windows.h, whose types it uses.
#include <powrprof.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstdio>

#include "results/conditions.h"
#include "results/conditions_system.h"

namespace velotrax::results {

namespace {

uint64_t Ticks(const FILETIME& time) {
  return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// What CallNtPowerInformation gives per processor for ProcessorInformation (its declaration is
// in the driver kit's headers only).
struct ProcessorPowerInformation {
  ULONG Number, MaxMhz, CurrentMhz, MhzLimit, MaxIdleState, CurrentIdleState;
};

std::vector<ProcessorPowerInformation> ProcessorClocks() {
  const DWORD count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (count == 0) return {};
  std::vector<ProcessorPowerInformation> clocks(count);
  const auto size = static_cast<ULONG>(clocks.size() * sizeof(ProcessorPowerInformation));
  if (::CallNtPowerInformation(ProcessorInformation, nullptr, 0, clocks.data(), size) != 0) {
    return {};
  }
  return clocks;
}

std::optional<SYSTEM_BATTERY_STATE> BatteryState() {
  SYSTEM_BATTERY_STATE state{};
  if (::CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof state) != 0) {
    return std::nullopt;
  }
  return state;
}

std::string ProcessorName() {
  char name[256];
  DWORD size = sizeof name;
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     "ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::string text(name);
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "Windows 10.0.19045": the version the system has, which GetVersionEx does not tell a program
// without a manifest.
std::string WindowsVersion() {
  using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return "Windows";
  const auto get_version = reinterpret_cast<GetVersion>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get_version == nullptr || get_version(&version) != 0) return "Windows";
  return "Windows " + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber);
}

// The job this program and every child it starts from now on belong to: its accounting keeps
// the processor time of ended children, as the system's accounting of children does on Linux.
// Null where the program cannot join one (an older Windows, a job that forbids it).
HANDLE AccountingJob() {
  static const HANDLE job = [] {
    const HANDLE made = ::CreateJobObjectW(nullptr, nullptr);
    if (made == nullptr) return HANDLE{};
    // A child started to break away from its parent's jobs still starts.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    ::SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    if (!::AssignProcessToJobObject(made, ::GetCurrentProcess())) {
      ::CloseHandle(made);
      return HANDLE{};
    }
    return made;
  }();
  return job;
}

}  // namespace

std::optional<CpuTimes> ReadCpuTimes(const std::string&) {
  FILETIME idle, kernel, user;
  if (!::GetSystemTimes(&idle, &kernel, &user)) return std::nullopt;
  // The kernel time includes the idle time.
  CpuTimes times;
  times.total = Ticks(kernel) + Ticks(user);
  times.busy = times.total - std::min(times.total, Ticks(idle));
  return times;
}

std::vector<std::pair<int, CpuTimes>> ReadProcessorTimes(const std::string&) {
  // Windows tells each processor's times only through an undocumented call: the steal and
  // shared-processor checks are not offered there.
  return {};
}

std::optional<double> ReadLoadAverage(const std::string&) {
  return std::nullopt;
}

std::vector<CpuFrequency> ReadCpuFrequencies(const std::string&) {
  std::vector<CpuFrequency> cpus;
  for (const ProcessorPowerInformation& clock : ProcessorClocks()) {
    CpuFrequency cpu;
    cpu.cpu = static_cast<int>(clock.Number);
    // The clock cannot go above the limit the system sets it (for heat or power): a limit below
    // the maximum holds the processor back as a lower clock does.
    const ULONG current =
        clock.MhzLimit > 0 ? std::min(clock.CurrentMhz, clock.MhzLimit) : clock.CurrentMhz;
    cpu.current_khz = static_cast<long>(current) * 1000;
    cpu.max_khz = static_cast<long>(clock.MaxMhz) * 1000;
    if (cpu.current_khz > 0) cpus.push_back(cpu);
  }
  return cpus;
}

std::optional<uint64_t> ReadThrottleCount(const std::string&) {
  return std::nullopt;
}

bool OnVirtualMachine(const std::string&) {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & (1u << 31)) != 0;
#else
  return false;
#endif
}

bool OnBattery(const std::string&) {
  // The battery state rather than GetSystemPowerStatus, which reports the mains offline on a
  // machine without a battery under Wine.
  const std::optional<SYSTEM_BATTERY_STATE> state = BatteryState();
  return state && state->BatteryPresent && !state->AcOnLine;
}

bool PowerSourceKnown(const std::string&) {
  return BatteryState().has_value();
}

MachineFacts ReadSystemFacts(const std::string&) {
  MachineFacts facts;
  facts.cpu_model = ProcessorName();
  facts.cores = static_cast<int>(::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  if (::GlobalMemoryStatusEx(&memory)) facts.memory_kib = memory.ullTotalPhys / 1024;
  facts.kernel = WindowsVersion();
  return facts;
}

long CpuTicksPerSecond() {
  return 10'000'000;  // FILETIME counts 100 ns
}

const char* ProcessViewerName() {
  return "Task Manager";
}

double ChildrenCpuSeconds() {
  // Only needed beside each processor's times, which Windows does not give.
  return 0;
}

double OwnCpuSeconds() {
  FILETIME created, exited, kernel, user;
  double own = 0;
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    own = static_cast<double>(Ticks(kernel) + Ticks(user)) / 1e7;
  }
  // The job counts this program and its children, the ended ones too; where it counts nothing
  // (Wine keeps no accounting), this program's own time is what is known.
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (const HANDLE job = AccountingJob();
      job != nullptr && ::QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                                    &accounting, sizeof accounting, nullptr)) {
    const double all = static_cast<double>(accounting.TotalUserTime.QuadPart +
                                           accounting.TotalKernelTime.QuadPart) /
                       1e7;
    own = std::max(own, all);
  }
  return own;
}

}  // namespace velotrax::results
