// velotrax-cli's side of the system: the stop requests a user gives (Ctrl+C, Ctrl+Break, a
// closed terminal or console, SIGTERM), whether standard error shows a progress line, and the
// checks of the files it reads and replaces. POSIX signals and calls on Linux, a console control
// handler and the Win32 API on Windows.
#pragma once

#include <string>
#include <vector>

namespace velotrax::cli {

// The numbers a stop request is told by, as the POSIX signals that give it: the exit code of an
// interrupted run is 128 + the number, and the emulator is first sent the same one.
inline constexpr int kStopInterrupt = 2;   // SIGINT: Ctrl+C (and Ctrl+Break on Windows)
inline constexpr int kStopHangUp = 1;      // SIGHUP: the terminal or console was closed
inline constexpr int kStopTerminate = 15;  // SIGTERM

// While it lives, stop requests are counted instead of ending the program; the handlers that
// were there before come back when it goes. On Windows, a closed console (or the user logging
// off) waits for it to go, so that the emulator is ended and the results are kept first.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // How many stop requests came so far.
  static int Received();
  // The number of the first one (kStopInterrupt, ...); 0 before any.
  static int First();
};

// While it lives, a stop request waits until it goes (a file being replaced is put in place
// first); then it has its usual effect.
class StopDeferral {
 public:
  StopDeferral();
  ~StopDeferral();
  StopDeferral(const StopDeferral&) = delete;
  StopDeferral& operator=(const StopDeferral&) = delete;
};

// True when standard error is a terminal (on Windows a console) that shows the progress line,
// whose "\r\033[K" returns to the start of the line and clears it.
bool StandardErrorIsTerminal();

// The words after the program's name, in UTF-8; on Windows from the console's UTF-16 command
// line, so that a file name outside the code page arrives whole. On Windows the console then
// shows UTF-8 output too.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Throws CliError when the file at path is there but cannot be opened to read: it would read as
// empty and end in a conversion error about an empty text.
void RequireReadable(const std::string& path);

// Why the file at path could not be replaced now; empty when it could. The replacement's own
// rules, tried without touching the file: links are followed, the file must be a regular one
// that may be written, and a file must be creatable beside it.
std::string WhyNotReplaceable(const std::string& path);

#ifdef _WIN32
// The console control handler of StopSignals and StopDeferral, for tests: event is a
// CTRL_..._EVENT; true when the event was taken.
bool HandleConsoleEvent(unsigned long event);
#endif

}  // namespace velotrax::cli
