// The Windows demo emulator uses the game catalogue only. Its program-state record also names
// the settings file, the score list and the working directory, whose code is POSIX: these few
// definitions let it link without that code, which it never runs.
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/string_list.h"

namespace velotrax {

std::string QueryCurrentDirectory() {
  return {};
}
TIniFile::~TIniFile() = default;
void TStringList::ClearLines() {
  lines_.clear();
}

}  // namespace velotrax
