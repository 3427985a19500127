// What a test can see of its own process from /proc: open descriptors, threads, resident
// memory and child processes, so that fault and soak tests can prove nothing is left behind.
// On Windows only the resident memory is read (from the system); the rest finds no /proc.
#pragma once

#include <dirent.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <psapi.h>
#endif

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace velotrax::testing {

inline std::size_t CountEntries(const char* dir) {
  std::size_t count = 0;
  if (DIR* d = ::opendir(dir)) {
    while (const dirent* entry = ::readdir(d)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(d);
  }
  return count;
}

// Open descriptors of this process (the one used to count them excluded).
inline std::size_t OpenDescriptors() {
  return CountEntries("/proc/self/fd") - 1;
}

inline std::size_t Threads() {
  return CountEntries("/proc/self/task");
}

// Resident memory in KiB.
inline long ResidentKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.WorkingSetSize / 1024);
#endif
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The peak resident memory in KiB since the last ResetPeakResident.
inline long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Starts a new peak from the present resident memory.
inline void ResetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

struct ChildProcess {
  int pid;
  char state;  // 'Z' for a zombie
};

// The processes whose parent is this process.
inline std::vector<ChildProcess> Children() {
  std::vector<ChildProcess> children;
  const int self = static_cast<int>(::getpid());
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return children;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    std::getline(stat, text);
    // pid (comm) state ppid ...; comm may hold blanks and parentheses, so read after the last ')'.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
    if (ppid == self) children.push_back({std::atoi(entry->d_name), state});
  }
  ::closedir(proc);
  return children;
}

// Waits (bounded, generously) until condition holds; true when it did.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::seconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Descriptors, threads and children as they stand, to compare a later state with.
struct ProcessSnapshot {
  std::size_t descriptors = OpenDescriptors();
  std::size_t threads = Threads();
  long resident_kib = ResidentKiB();
};

// True once descriptors and threads are back to the snapshot and no child is left, dead or
// alive. Worker threads and the watcher's reaping end shortly after a run's last event.
inline bool BackTo(const ProcessSnapshot& before, std::chrono::seconds limit) {
  return Eventually(
      [&] {
        return OpenDescriptors() <= before.descriptors && Threads() <= before.threads &&
               Children().empty();
      },
      limit);
}

}  // namespace velotrax::testing
