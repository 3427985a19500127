// The application window: a top-level window of zero size, titled with the application title and
// never visibly drawn, which holds the program's task-bar button and owns the main window and
// every error box. Minimising the main window minimises the whole program to it.
#pragma once

#include <windows.h>

#include <vector>

namespace velotrax::win32ui {

class ApplicationWindow {
 public:
  // Makes it hidden, with MAINICON and a system menu without Maximise, Size and Move; throws
  // EOSError when the system makes no window.
  ApplicationWindow();
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND Handle() const { return window_; }
  // The main window: its Close entry closes it, restoring activates it when nothing else was.
  void SetMainWindow(HWND main) { main_ = main; }
  // Shows it without activating it: being of zero size, only its task-bar button appears.
  void Show();
  // Hides the program's windows and minimises this one to its task-bar button.
  void Minimize();
  // Shows the program's windows again as they were, the one in use active with its focus.
  void Restore();
  bool Minimized() const { return minimized_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void HideProgram();
  void ShowProgram();

  HWND window_ = nullptr;
  HWND main_ = nullptr;
  HICON icon_ = nullptr, small_icon_ = nullptr;
  bool minimized_ = false;
  // What minimising hid, the topmost first, and what was active and focused then.
  std::vector<HWND> hidden_;
  HWND active_ = nullptr, focus_ = nullptr;
};

// The program's application window, the owner of every error box; null while there is none.
HWND ApplicationWindowHandle();
// True while the program is minimised to its task-bar button: its windows are hidden, not closed.
bool ProgramMinimized();

}  // namespace velotrax::win32ui
