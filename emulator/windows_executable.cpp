#include "emulator/windows_executable.h"

#include <cerrno>
#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "emulator/program_file.h"

namespace velotrax {

bool IsWindowsExecutable(const std::string& path) noexcept {
  const ProgramFile file(path);
  unsigned char dos[64];
  if (!file.IsOpen() || !file.ReadAt(dos, sizeof dos, 0) || dos[0] != 'M' || dos[1] != 'Z') {
    return false;
  }
  // e_lfanew, the offset of the PE header, is the little-endian 32-bit word at 0x3C.
  const uint32_t pe_offset =
      static_cast<uint32_t>(dos[0x3C]) | static_cast<uint32_t>(dos[0x3D]) << 8 |
      static_cast<uint32_t>(dos[0x3E]) << 16 | static_cast<uint32_t>(dos[0x3F]) << 24;
  unsigned char signature[4];
  return pe_offset >= 4 && file.Size() >= 4 && pe_offset <= file.Size() - 4 &&
         file.ReadAt(signature, sizeof signature, pe_offset) && signature[0] == 'P' &&
         signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
}

std::string QuoteCommandLineWord(std::string_view word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(word);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; elsewhere they stand as is.
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Before the closing quote they are doubled too.
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

EmulatorInvocation RunThroughWine(const EmulatorInvocation& pass, const WineTools& tools) {
  if (tools.wine.empty()) {
    const std::string reason =
        tools.setting.empty()
            ? "no \"wine\" was found in PATH. Install Wine (on Debian: apt-get install wine) or "
              "set VELOTRAX_WINE to the wine program."
            : "VELOTRAX_WINE names \"" + tools.setting + "\", which is no program that can be run.";
    throw EOSError("\"" + pass.ApplicationName +
                       "\" is a Windows program; Wine is needed to run it on this computer, but " +
                       reason,
                   ENOENT);
  }
  EmulatorInvocation wine;
  wine.CurrentDirectory = pass.CurrentDirectory;
  wine.ApplicationName = tools.wine;
  wine.CommandLine = QuoteCommandLineWord(tools.wine) + " ";
  if (!tools.launcher.empty()) {
    // The launcher starts the program with this very command line, so it sees the emulator's
    // command line as it stands, its own bare name first.
    wine.CommandLine += QuoteCommandLineWord(tools.launcher) + " " +
                        QuoteCommandLineWord(AbsoluteProgramPath(pass.ApplicationName)) + " " +
                        QuoteCommandLineWord(pass.CommandLine);
    return wine;
  }
  // Wine puts the program's Windows path first and quotes the other words again itself.
  wine.CommandLine += QuoteCommandLineWord(AbsoluteProgramPath(pass.ApplicationName));
  const std::vector<std::string> words = SplitCommandLine(pass.CommandLine);
  for (std::size_t i = 1; i < words.size(); ++i) {
    wine.CommandLine += " " + QuoteCommandLineWord(words[i]);
  }
  return wine;
}

}  // namespace velotrax
