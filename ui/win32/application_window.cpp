#include "ui/win32/application_window.h"

#include <commctrl.h>

#include <algorithm>

#include "base/errors.h"
#include "ui/win32/guard.h"
#include "ui/win32/pictures.h"
#include "ui/win32/window_support.h"

namespace velotrax::win32ui {

namespace {

constexpr wchar_t kClassName[] = L"VelotraxApplication";

// The one application window of the program, there from start-up to the end.
ApplicationWindow* the_application = nullptr;

struct Shown {
  HWND except;
  std::vector<HWND> windows;
};

// EnumThreadWindows's call-back (stdcall on 32-bit Windows, so not a lambda): the program's
// windows on the screen, but tool-tips, which come and go by themselves.
BOOL CALLBACK CollectShownWindow(HWND window, LPARAM data) {
  auto* shown = reinterpret_cast<Shown*>(data);
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, 32);
  if (window != shown->except && ::IsWindowVisible(window) &&
      ::lstrcmpiW(name, TOOLTIPS_CLASSW) != 0) {
    shown->windows.push_back(window);
  }
  return TRUE;
}

// This thread's windows on the screen but `except`, the topmost first.
std::vector<HWND> ShownWindows(HWND except) {
  Shown shown{except, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), CollectShownWindow, reinterpret_cast<LPARAM>(&shown));
  return shown.windows;
}

// The window the user works in: the one that takes input (a modal window or a box over the main
// window, or the main window itself).
HWND WindowInUse(HWND application) {
  for (HWND window : ShownWindows(application)) {
    if (::IsWindowEnabled(window)) return window;
  }
  return nullptr;
}

}  // namespace

ApplicationWindow::ApplicationWindow() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kClassName;
  ::RegisterClassExW(&window_class);  // a second object finds the class registered already
  // A pop-up with a caption and no sizing frame: the system neither draws it nor makes it any
  // larger than nothing, and its task-bar button has a window menu with Minimise and Close.
  const POINT at = DesktopCentre({0, 0});
  window_ = ::CreateWindowExW(0, kClassName, ApplicationTitle().c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              at.x, at.y, 0, 0, nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    throw EOSError("The application window could not be created",
                   static_cast<int>(::GetLastError()));
  }
  icon_ = LoadApplicationIcon(SM_CXICON);
  small_icon_ = LoadApplicationIcon(SM_CXSMICON);
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  // A window that is never drawn is neither maximised, sized nor moved.
  HMENU menu = ::GetSystemMenu(window_, FALSE);
  for (UINT entry : {SC_MAXIMIZE, SC_SIZE, SC_MOVE}) ::DeleteMenu(menu, entry, MF_BYCOMMAND);
  the_application = this;
}

ApplicationWindow::~ApplicationWindow() {
  if (the_application == this) the_application = nullptr;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
  if (icon_ != nullptr) ::DestroyIcon(icon_);
  if (small_icon_ != nullptr) ::DestroyIcon(small_icon_);
}

void ApplicationWindow::Show() {
  ::ShowWindow(window_, SW_SHOWNOACTIVATE);
}

void ApplicationWindow::Minimize() {
  if (minimized_) return;
  HideProgram();
  ::ShowWindow(window_, SW_MINIMIZE);
}

void ApplicationWindow::Restore() {
  if (minimized_) {
    ::ShowWindow(window_, SW_RESTORE);
    ShowProgram();  // when the restore above did not already
    return;
  }
  // Not minimised: the program comes to the front.
  if (HWND in_use = WindowInUse(window_)) ::SetForegroundWindow(in_use);
}

void ApplicationWindow::HideProgram() {
  if (minimized_) return;
  minimized_ = true;
  active_ = ::GetActiveWindow();
  focus_ = ::GetFocus();
  // Modal windows and boxes go too; their loops go on, hidden, until the program is restored.
  hidden_ = ShownWindows(window_);
  for (HWND window : hidden_) ::ShowWindow(window, SW_HIDE);
}

void ApplicationWindow::ShowProgram() {
  if (!minimized_) return;
  const std::vector<HWND> windows = std::move(hidden_);
  hidden_.clear();
  // The lowest first, each without taking the activation from the one it lay under.
  for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
    if (::IsWindow(*window)) ::ShowWindow(*window, SW_SHOWNOACTIVATE);
  }
  minimized_ = false;
  // The window that was active is again, unless another has come over it since (an error box).
  HWND active = WindowInUse(window_);
  if (active_ != nullptr && std::find(windows.begin(), windows.end(), active_) != windows.end() &&
      ::IsWindow(active_) && ::IsWindowEnabled(active_)) {
    active = active_;
  }
  if (active == nullptr) return;
  ::SetForegroundWindow(active);
  ::SetActiveWindow(active);
  if (focus_ != nullptr && ::IsWindow(focus_) && ::IsWindowVisible(focus_) &&
      ::GetAncestor(focus_, GA_ROOT) == active) {
    ::SetFocus(focus_);
  }
}

LRESULT ApplicationWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SYSCOMMAND:
      switch (wparam & 0xFFF0) {
        case SC_MINIMIZE:
          Minimize();
          return 0;
        case SC_RESTORE:
          Restore();
          return 0;
        case SC_MAXIMIZE:
        case SC_SIZE:
        case SC_MOVE:
          return 0;  // never drawn, at any size
        case SC_CLOSE:
          ::SendMessageW(window_, WM_CLOSE, 0, 0);
          return 0;
        default:
          break;
      }
      break;
    case WM_CLOSE:
      // The main window's close, with its close query; not while a modal window or a box waits
      // for an answer, which a handler is waiting for.
      if (main_ != nullptr && ::IsWindowEnabled(main_)) ::SendMessageW(main_, WM_CLOSE, 0, 0);
      return 0;
    case WM_SIZE:
      // Minimised or restored by the system (all windows minimised, the task bar's own restore).
      if (wparam == SIZE_MINIMIZED) {
        HideProgram();
      } else {
        ShowProgram();
      }
      return 0;
    case WM_ACTIVATE:
      // Activated while the program is on the screen: the keyboard goes to the window in use.
      if (LOWORD(wparam) != WA_INACTIVE && !minimized_) {
        if (HWND in_use = WindowInUse(window_)) {
          ::SetActiveWindow(in_use);
          return 0;
        }
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

LRESULT CALLBACK ApplicationWindow::WindowProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<ApplicationWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<ApplicationWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return GuardedMessage([&] { return self->HandleMessage(message, wparam, lparam); });
}

HWND ApplicationWindowHandle() {
  return the_application != nullptr ? the_application->Handle() : nullptr;
}

bool ProgramMinimized() {
  return the_application != nullptr && the_application->Minimized();
}

}  // namespace velotrax::win32ui
