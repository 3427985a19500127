// The demo emulator as a current build answers: -help, -showusage, -listxml GAME and a pass
// counted in emulated seconds that ends with its average speed.
#pragma once

#include <string>
#include <vector>

namespace velotrax::demo {

// True when the demo should answer as a current build: it was started as "mame", or its
// arguments are a current build's.
bool SpeaksCurrentDialect(const std::string& program_name, const std::vector<std::string>& args);

// Answers args as a current build does; returns the exit code.
int RunCurrentDialect(const std::vector<std::string>& args);

}  // namespace velotrax::demo
