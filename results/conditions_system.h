// Inside results/ only: what the system back ends (conditions_posix.cpp, conditions_win32.cpp)
// provide to the shared part of conditions.cpp, beside the readers of conditions.h.
#pragma once

#include <string>

#include "results/conditions.h"

namespace velotrax::results {

// The machine's facts as the system tells them, without the list of checks.
MachineFacts ReadSystemFacts(const std::string& root);
// True when the system tells whether the machine runs on a battery.
bool PowerSourceKnown(const std::string& root);
// The unit of CpuTimes: clock ticks (Linux) or 100-nanosecond intervals (Windows) per second.
long CpuTicksPerSecond();
// The program a user looks at busy processes with.
const char* ProcessViewerName();

}  // namespace velotrax::results
