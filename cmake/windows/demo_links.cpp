// The Windows demo emulator uses the game catalogue only. Its program-state record also holds
// the settings file, the score list, the working directory and the emulator dialects, whose code
// is POSIX: these few definitions let it link without that code, which it never runs. A new
// member of the record with code of its own needs its line here.
#include <optional>

#include "emulator/emulator_dialect.h"
#include "storage/file_names.h"
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/string_list.h"

namespace velotrax {

std::string QueryCurrentDirectory() {
  return {};
}
std::string DirectoryWithSeparator(const std::string& dir) {
  return dir;
}
TIniFile::~TIniFile() = default;
void TStringList::ClearLines() {
  lines_.clear();
}
EmulatorDialects::EmulatorDialects(EmulatorProbe probe) : probe_(std::move(probe)) {}
std::optional<ProbeOutput> RunEmulatorProbe(const EmulatorInvocation&, std::chrono::milliseconds) {
  return std::nullopt;
}

}  // namespace velotrax
