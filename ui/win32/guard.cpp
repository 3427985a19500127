#include "ui/win32/guard.h"

#include <cwctype>
#include <vector>

#include "base/win32_text.h"
#include "ui/win32/application_window.h"
#include "ui/win32/window_support.h"
#include "ui/window_texts.h"

namespace velotrax::win32ui {

namespace {

// Shows a message box over the whole program and gives the keyboard back afterwards to the
// window and control that had it.
int ShowMessageBox(const std::wstring& text, UINT type) {
  HWND active = ::GetActiveWindow();
  HWND focused = ::GetFocus();
  // Owned by the application window, the box has no task-bar button of its own. Modal over the
  // whole program: no other window of it takes input until the box is answered, also one off the
  // screen (the main window of a minimised program, which its restore brings back).
  const std::vector<HWND> disabled = DisableThreadWindows(nullptr, false);
  const int answer = ::MessageBoxW(ApplicationWindowHandle(), text.c_str(),
                                   ApplicationTitle().c_str(), type | MB_SETFOREGROUND);
  EnableAgain(disabled);
  if (active != nullptr && ::IsWindow(active)) ::SetActiveWindow(active);
  if (focused != nullptr && ::IsWindow(focused)) ::SetFocus(focused);
  return answer;
}

}  // namespace

std::wstring ApplicationTitleFromPath(const std::wstring& executable_path) {
  std::wstring name = executable_path.substr(executable_path.find_last_of(L"\\/") + 1);
  const std::size_t dot = name.find(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  for (std::size_t i = 1; i < name.size(); ++i) {
    name[i] = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(name[i])));
  }
  return name;
}

const std::wstring& ApplicationTitle() {
  static const std::wstring title = [] {
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return ApplicationTitleFromPath(path);
  }();
  return title;
}

std::wstring ShowText(const std::string& text) {
  std::wstring wide;
  if (win32::Wide(text, wide)) return wide;
  // Score files made on older systems hold Windows-1252 bytes.
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(1252, 0, text.data(), size, nullptr, 0);
  wide.assign(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) ::MultiByteToWideChar(1252, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return win32::Utf8(text);
}

void ShowErrorBox(const std::string& message) {
  ShowMessageBox(ShowText(velotrax::ErrorBoxText(message)), MB_ICONSTOP | MB_OK);
}

bool AskQuestion(const std::string& question) {
  return ShowMessageBox(ShowText(question), MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void ReportException(std::exception_ptr error) noexcept {
  ReportEscapedError(error, ShowErrorBox);
}

void RunGuarded(const std::function<void()>& handler) {
  RunGuardedWith(handler, ShowErrorBox);
}

}  // namespace velotrax::win32ui
