// Windows builds of the emulator: telling a Windows executable from a native one, and, on other
// systems than Windows, finding Wine and turning a pass's start values into a start through it.
#pragma once

#include <string>
#include <string_view>

#include "emulator/emulator_contract.h"

namespace velotrax {

// The launcher that keeps the described command line intact under Wine, beside our program.
inline constexpr std::string_view WineLauncherName = "velotrax-wine-launcher.exe";

// True when path is a readable regular file that starts with "MZ" and holds a "PE\0\0" header
// where its DOS header points; never blocks (a named pipe is not opened) and never throws.
bool IsWindowsExecutable(const std::string& path) noexcept;

// Throws EOSError with the system's text for "permission denied", as the start would, when
// something other than a regular file (a directory, a named pipe, a device) stands at path,
// before anything opens it; a missing path is left to the start, which reports it.
void RefuseIrregularProgramFile(const std::string& path);

// Wine and the launcher as found for this pass; an empty member was not found.
struct WineTools {
  std::string wine;      // VELOTRAX_WINE (a path, or a name looked up in PATH), else "wine" in PATH
  std::string launcher;  // VELOTRAX_WINE_LAUNCHER when set, else WineLauncherName beside us
  std::string setting;   // VELOTRAX_WINE as set, for the message when it names no program
};

// Looks for Wine and the launcher in the environment and on PATH (none on Windows); never throws.
WineTools FindWineTools();

// Quotes one word so that SplitCommandLine gives it back unchanged.
std::string QuoteCommandLineWord(std::string_view word);

// The start values that run the Windows program of pass through tools.wine, in the same
// directory and with the same words after the program's name: through the launcher when there
// is one (the program sees the exact command line), else as "wine PROGRAM WORDS...".
// Throws EOSError (ENOENT) saying the file is a Windows program and Wine is needed, when
// tools.wine is empty.
EmulatorInvocation RunThroughWine(const EmulatorInvocation& pass, const WineTools& tools);

// pass unchanged for a native program; through Wine (FindWineTools) for a Windows executable,
// except on Windows, which starts every program itself.
// Throws EOSError for a program path that is no regular file (RefuseIrregularProgramFile).
EmulatorInvocation ForThisPlatform(const EmulatorInvocation& pass);

}  // namespace velotrax
