// The POSIX side of process/processors.h: sched_getaffinity and sched_setaffinity.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "process/processors.h"

namespace velotrax {

namespace {

// How far below our own nice value a raised child goes (see create_process_posix.cpp).
constexpr int kRaisedNice = 5;

std::vector<int> ReadAllowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> allowed;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return allowed;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) allowed.push_back(cpu);
  }
  return allowed;
}

}  // namespace

std::vector<int> AllowedProcessors() {
  // Taken once: a thread kept off a processor must not narrow what the program may use.
  static const std::vector<int> allowed = ReadAllowed();
  return allowed;
}

bool KeepThreadOff(int processor) {
  const std::vector<int> allowed = AllowedProcessors();
  if (allowed.empty()) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  int count = 0;
  for (int cpu : allowed) {
    if (cpu != processor) {
      CPU_SET(cpu, &set);
      ++count;
    }
  }
  if (count == 0) {
    for (int cpu : allowed) CPU_SET(cpu, &set);
  }
  // 0: the calling thread alone, not the whole program.
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

bool RunThreadOn(int processor) {
  if (processor < 0) return KeepThreadOff(-1);
  if (processor >= CPU_SETSIZE) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(processor, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

bool CanRaiseChildPriority() {
  if (geteuid() == 0) return true;
  errno = 0;
  const int nice_now = getpriority(PRIO_PROCESS, 0);
  if (errno != 0) return false;
  // RLIMIT_NICE allows a nice value down to 20 - limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return false;
  const long lowest =
      limit.rlim_cur == RLIM_INFINITY ? -20 : 20 - static_cast<long>(limit.rlim_cur);
  return nice_now - kRaisedNice >= lowest;
}

}  // namespace velotrax
