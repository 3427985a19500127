// The Win32 front end's one error guard and its error box: no exception may unwind through the
// message loop, so every handler call runs inside RunGuarded.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace velotrax::win32ui {

// Runs handler; an exception that escapes it ends it and is shown in the error box.
void RunGuarded(const std::function<void()>& handler);

// Shows the error held by error in the error box; never throws.
void ReportException(std::exception_ptr error) noexcept;

// The error box: caption the application title, the message by ErrorBoxText, the stop icon, one
// OK button, every window of the program disabled while it is open.
void ShowErrorBox(const std::string& message);

// Asks in a message box with the application title as caption, the question icon, Yes and No
// (No the default); true for Yes.
bool AskQuestion(const std::string& question);

// The title from the executable's path: the name after the last "\" or "/", cut at its first
// ".", every character after the first lower-cased ("BENCH.EXE" gives "Bench").
std::wstring ApplicationTitleFromPath(const std::wstring& executable_path);

// The application title of this program, formed once from its executable's path.
const std::wstring& ApplicationTitle();

// A text of the program (UTF-8, or Windows-1252 when it is not UTF-8) as the system shows it.
std::wstring ShowText(const std::string& text);

// A window's text as UTF-8.
std::string WindowText(HWND window);

// Runs a window procedure's handling inside the guard; what escapes answers `fallback`.
template <typename Handle>
LRESULT GuardedMessage(Handle&& handle, LRESULT fallback = 0) noexcept {
  try {
    return handle();
  } catch (...) {
    ReportException(std::current_exception());
    return fallback;
  }
}

}  // namespace velotrax::win32ui
