// The Windows side of process/processors.h: the process's affinity mask and thread masks.
#include <windows.h>

#include "process/processors.h"

namespace velotrax {

namespace {

std::vector<int> ReadAllowed() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  std::vector<int> allowed;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask)) return allowed;
  for (int cpu = 0; cpu < static_cast<int>(sizeof(DWORD_PTR) * 8); ++cpu) {
    if ((process_mask >> cpu) & 1u) allowed.push_back(cpu);
  }
  return allowed;
}

}  // namespace

std::vector<int> AllowedProcessors() {
  static const std::vector<int> allowed = ReadAllowed();
  return allowed;
}

bool KeepThreadOff(int processor) {
  DWORD_PTR all = 0;
  for (int cpu : AllowedProcessors()) all |= DWORD_PTR{1} << cpu;
  if (all == 0) return false;
  DWORD_PTR mask = all;
  if (processor >= 0 && processor < static_cast<int>(sizeof(DWORD_PTR) * 8)) {
    mask &= ~(DWORD_PTR{1} << processor);
  }
  if (mask == 0) mask = all;
  return ::SetThreadAffinityMask(::GetCurrentThread(), mask) != 0;
}

bool RunThreadOn(int processor) {
  if (processor < 0) return KeepThreadOff(-1);
  if (processor >= static_cast<int>(sizeof(DWORD_PTR) * 8)) return false;
  return ::SetThreadAffinityMask(::GetCurrentThread(), DWORD_PTR{1} << processor) != 0;
}

bool CanRaiseChildPriority() {
  // ABOVE_NORMAL_PRIORITY_CLASS needs no privilege.
  return true;
}

}  // namespace velotrax
