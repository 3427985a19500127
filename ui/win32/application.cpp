#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win32_text.h"
#include "storage/user_workspace.h"
#include "ui/win32/application_window.h"
#include "ui/win32/guard.h"
#include "ui/win32/main_window.h"

namespace {

// The words after the program's name, as UTF-8: the C runtime's split of the command line
// (the window links no library beyond the window's own to split it again).
std::vector<std::string> ProgramArguments() {
  std::vector<std::string> args;
  for (int i = 1; i < __argc && __wargv != nullptr; ++i) {
    args.push_back(velotrax::win32::Utf8(__wargv[i]));
  }
  return args;
}

}  // namespace

// Velotrax: measures how fast an arcade emulator runs here and compares it with other computers.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace velotrax::win32ui;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES |
                                                      ICC_TAB_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  int exit_code = 0;
  // The application window owns the main window, and so goes after it.
  std::unique_ptr<ApplicationWindow> application;
  std::unique_ptr<TForm1> main_window;
  try {
    // Started from the Start menu: work in the user's own folder, before anything reads a file.
    std::vector<std::string> args = ProgramArguments();
    velotrax::EnterUserWorkspaceIfAsked(args);
    application = std::make_unique<ApplicationWindow>();
    main_window = std::make_unique<TForm1>(*application);
    // The program's task-bar button, from before the Disclaimer of a first run.
    application->Show();
    main_window->ShowFirstTime();
    exit_code = RunMessageLoop(main_window->Handle(), main_window->Accelerators());
  } catch (...) {
    // Making the windows failed: nothing can go on, but the user hears why.
    ReportException(std::current_exception());
    exit_code = 1;
  }
  main_window.reset();
  application.reset();
  return exit_code;
}
