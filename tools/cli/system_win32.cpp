// The Windows side of tools/cli/system.h: one console control handler, installed while a
// StopSignals or a StopDeferral lives. It runs on a thread of its own that the system starts
// for each event; it only counts, and the run's loop does the rest.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>

#include "base/win32_text.h"
#include "storage/file_names.h"
#include "tools/cli/cli.h"
#include "tools/cli/system.h"

namespace velotrax::cli {

namespace {

// The system ends a program this long after a closed console's event reached it: the handler
// waits a little less for the run to end the emulator.
constexpr DWORD kCloseWait = 4500;

std::atomic<int> signals_received{0};
std::atomic<int> first_signal{0};
// The live StopSignals and StopDeferral objects, and the request a StopDeferral holds back.
std::atomic<int> stop_signals{0};
std::atomic<int> deferrals{0};
std::atomic<int> deferred_signal{0};
// Set while neither lives: a handler that waits for the run's end waits for it.
HANDLE released = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);

void Count(int number) {
  int none = 0;
  first_signal.compare_exchange_strong(none, number);
  ++signals_received;
}

using win32::Wide;

// The system's description of a Win32 error, without trailing blanks, line breaks and dots.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (text != nullptr) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    words.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, words.data(), length, nullptr, nullptr);
    ::LocalFree(text);
  }
  while (!words.empty() && (words.back() == '\0' || words.back() == '\n' || words.back() == '\r' ||
                            words.back() == ' ' || words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "system error " + std::to_string(code) : words;
}

HANDLE OpenShared(const std::wstring& wide, DWORD access) {
  return ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  return HandleConsoleEvent(event) ? TRUE : FALSE;
}

// The handler is in place while anything holds it.
void Hold() {
  if (stop_signals + deferrals == 0) {
    ::ResetEvent(released);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
}

void Release() {
  if (stop_signals + deferrals == 0) {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    ::SetEvent(released);
  }
}

}  // namespace

bool HandleConsoleEvent(unsigned long event) {
  int number = 0;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      number = kStopInterrupt;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      number = kStopHangUp;
      break;
    default:
      return false;
  }
  if (deferrals > 0) {
    int none = 0;
    deferred_signal.compare_exchange_strong(none, number);
  } else if (stop_signals > 0) {
    Count(number);
  } else {
    return false;  // the system's own handling: the program ends
  }
  // After a closed console the system ends the program as soon as the handler returns: it
  // returns once the run has ended the emulator and kept its results.
  if (number == kStopHangUp) ::WaitForSingleObject(released, kCloseWait);
  return true;
}

StopSignals::StopSignals() {
  Hold();
  ++stop_signals;
}

StopSignals::~StopSignals() {
  --stop_signals;
  Release();
}

int StopSignals::Received() {
  return signals_received;
}

int StopSignals::First() {
  return first_signal;
}

StopDeferral::StopDeferral() {
  Hold();
  ++deferrals;
}

StopDeferral::~StopDeferral() {
  if (--deferrals > 0) return;
  const int number = deferred_signal.exchange(0);
  if (number != 0 && stop_signals > 0) {
    Count(number);
  } else if (number != 0) {
    // What the request would have done at once: end the program, as the signal does on Linux.
    ::ExitProcess(static_cast<UINT>(128 + number));
  }
  Release();
}

bool StandardErrorIsTerminal() {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == INVALID_HANDLE_VALUE || error == nullptr || !::GetConsoleMode(error, &mode)) {
    return false;
  }
  // The progress line is redrawn with escape sequences, which a console before Windows 10 prints.
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // The console shows what the tool prints (names, "±") as the UTF-8 it is; the console's own
  // code page comes back when the tool ends, for the programs run after it there.
  static const UINT console_code_page = ::GetConsoleOutputCP();
  if (console_code_page != 0 && console_code_page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
    std::atexit([] { ::SetConsoleOutputCP(console_code_page); });
  }
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
    std::string word(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, words[i], -1, word.data(), length, nullptr, nullptr);
    word.pop_back();  // the terminating NUL
    args.push_back(std::move(word));
  }
  ::LocalFree(words);
  return args;
}

void RequireReadable(const std::string& path) {
  const std::wstring wide = Wide(path);
  const HANDLE file = wide.empty() ? INVALID_HANDLE_VALUE : OpenShared(wide, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) {
    throw CliError("cannot read \"" + path + "\": " +
                   ErrorText(wide.empty() ? ERROR_NO_UNICODE_TRANSLATION : ::GetLastError()));
  }
  ::CloseHandle(file);
}

std::string WhyNotReplaceable(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return ErrorText(ERROR_NO_UNICODE_TRANSLATION);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "it is not a regular file";
    // The replacement refuses a read-only file, also to an administrator.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return "the file is read-only";
    // Opened to write and closed again, nothing written: the file stays as it is.
    const HANDLE file = OpenShared(wide, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) {
      return "the file may not be written: " + ErrorText(::GetLastError());
    }
    const bool on_disk = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    if (!on_disk) return "it is not a regular file";
  } else if (const DWORD error = ::GetLastError();
             error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    return ErrorText(error);
  }
  const std::string dir = DirectoryPart(path);
  const std::string probe = dir + "." + NamePart(path) + ".check-" +
                            std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::GetTickCount64());
  // Gone by itself when closed, whatever happens to this program meanwhile.
  const HANDLE made = ::CreateFileW(
      Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    return "no file can be created in its folder \"" + (dir.empty() ? "." : dir) +
           "\": " + ErrorText(::GetLastError());
  }
  ::CloseHandle(made);
  return "";
}

}  // namespace velotrax::cli
