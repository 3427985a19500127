// The processors a child and this program's own threads run on: a benchmarked emulator gets one
// processor to itself, and the threads that watch it keep to the others.
#pragma once

#include <vector>

namespace velotrax {

// The processors this program may run on, in the system's numbering, as they were when first
// asked (before any thread was kept off one); empty when the system does not tell.
std::vector<int> AllowedProcessors();

// Runs the calling thread on the allowed processors except processor; -1, or a processor whose
// absence would leave none, lets it run on all of them again. False when the system refuses.
bool KeepThreadOff(int processor);

// Runs the calling thread on processor alone; -1 lets it run on all allowed ones again. False
// when the system refuses.
bool RunThreadOn(int processor);

// True when a child may be started at a priority above this program's own (nice below ours on
// POSIX: root, or a RLIMIT_NICE that allows it; on Windows always).
bool CanRaiseChildPriority();

}  // namespace velotrax
