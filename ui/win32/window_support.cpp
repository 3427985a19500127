#include "ui/win32/window_support.h"

#include <commctrl.h>

#include <vector>

#include "ui/win32/guard.h"

namespace velotrax::win32ui {

namespace {

HFONT MakeFontOf(const wchar_t* face, int weight, int dpi) {
  return ::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

// The face a font was given by the system.
std::wstring FaceOf(HFONT font) {
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, font);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(screen, LF_FACESIZE, face);
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  return face;
}

HFONT MakeFont(int weight) {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  HFONT font = MakeFontOf(L"MS Sans Serif", weight, dpi);
  if (FaceOf(font) == L"MS Sans Serif") return font;
  // Where the system lacks it (Wine without its bitmap fonts), DejaVu Sans Condensed comes
  // closest to its widths and keeps its 13-pixel line, so the fixed layout holds its texts.
  HFONT fallback = MakeFontOf(L"DejaVu Sans Condensed", weight, dpi);
  if (FaceOf(fallback) == L"DejaVu Sans Condensed") {
    ::DeleteObject(font);
    return fallback;
  }
  ::DeleteObject(fallback);
  return font;
}

// The text height of the window font and the screen's pixels per inch.
struct Metrics {
  int dpi;
  int text_height;
};

const Metrics& ScreenMetrics() {
  static const Metrics metrics = [] {
    HDC screen = ::GetDC(nullptr);
    Metrics m{::GetDeviceCaps(screen, LOGPIXELSY), 13};
    HGDIOBJ old = ::SelectObject(screen, RegularFont());
    TEXTMETRICW text{};
    if (::GetTextMetricsW(screen, &text) && text.tmHeight > 0) m.text_height = text.tmHeight;
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return m;
  }();
  return metrics;
}

// The modal windows open now, the innermost last: the message loop hands their keys to them.
std::vector<HWND>& ModalWindows() {
  static std::vector<HWND> windows;
  return windows;
}

bool DialogMessage(HWND main, MSG& message) {
  if (!ModalWindows().empty()) return ::IsDialogMessageW(ModalWindows().back(), &message) != FALSE;
  return main != nullptr && ::IsDialogMessageW(main, &message) != FALSE;
}

}  // namespace

HFONT RegularFont() {
  static const HFONT font = MakeFont(FW_NORMAL);
  return font;
}

HFONT BoldFont() {
  static const HFONT font = MakeFont(FW_BOLD);
  return font;
}

int Scale(int length) {
  const Metrics& m = ScreenMetrics();
  // At 100 % every place stands as laid out, whatever height the substitute font measures.
  if (m.dpi == 96) return length;
  return ::MulDiv(length, m.text_height, 13);
}

RECT Place(const layout::Control& control, int dx, int dy) {
  const int left = Scale(control.left + dx);
  const int top = Scale(control.top + dy);
  return {left, top, left + Scale(control.width), top + Scale(control.height)};
}

void SetText(HWND window, const std::string& text) {
  ::SetWindowTextW(window, ShowText(text).c_str());
}

std::wstring JoinLines(const std::wstring_view* lines, std::size_t count) {
  std::wstring text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += L"\r\n";
    text += lines[i];
  }
  return text;
}

HWND MakeControl(HWND parent, const layout::Control& control, int dx, int dy, DWORD extra_style) {
  using layout::Kind;
  const wchar_t* window_class = WC_STATICW;
  DWORD style = WS_CHILD | WS_VISIBLE | extra_style;
  DWORD ex_style = 0;
  HFONT font = RegularFont();
  std::wstring text(control.text);
  RECT place = Place(control, dx, dy);
  switch (control.kind) {
    case Kind::label:
    case Kind::sized_label:
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case Kind::right_label:
      style |= SS_RIGHT | SS_NOPREFIX;
      break;
    case Kind::bold_label:
      style |= SS_LEFT | SS_NOPREFIX;
      font = BoldFont();
      break;
    case Kind::bevel:
      // The etched line lies along the bottom edge of its box.
      style |= SS_ETCHEDHORZ;
      place.top = place.bottom - 2;
      break;
    case Kind::group_box:
      window_class = WC_BUTTONW;
      style |= BS_GROUPBOX;
      break;
    case Kind::push_button:
      window_class = WC_BUTTONW;
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case Kind::radio_button:
      window_class = WC_BUTTONW;
      style |= BS_AUTORADIOBUTTON | WS_TABSTOP;
      break;
    case Kind::edit:
      window_class = WC_EDITW;
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case Kind::memo:
      window_class = WC_EDITW;
      style |= ES_MULTILINE | ES_READONLY;
      break;
    case Kind::selector:
    case Kind::gauge:
    case Kind::file_field:
      break;  // made by their own code
  }
  if (control.kind == Kind::sized_label || control.kind == Kind::bold_label) {
    HDC dc = ::GetDC(parent);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(parent, dc);
    if (place.left + size.cx > place.right) place.right = place.left + size.cx;
  }
  HWND window = ::CreateWindowExW(ex_style, window_class, text.c_str(), style, place.left,
                                  place.top, place.right - place.left, place.bottom - place.top,
                                  parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return window;
}

Window::~Window() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

void Window::CreateTopLevel(const wchar_t* class_name, const std::wstring& caption, DWORD style,
                            DWORD ex_style, int width, int height, HWND owner, HMENU menu,
                            int background) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  if (!::GetClassInfoExW(instance, class_name, &window_class)) {
    window_class = WNDCLASSEXW{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background));
    window_class.lpszClassName = class_name;
    ::RegisterClassExW(&window_class);
  }
  RECT frame{0, 0, Scale(width), Scale(height)};
  ::AdjustWindowRectEx(&frame, style, menu != nullptr, ex_style);
  window_ = ::CreateWindowExW(ex_style, class_name, caption.c_str(), style, CW_USEDEFAULT,
                              CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                              owner, menu, instance, this);
  if (menu != nullptr) {
    // A menu bar that wraps onto a second line takes room from the client area: give it back.
    RECT client;
    ::GetClientRect(window_, &client);
    if (client.bottom != Scale(height)) {
      RECT outer;
      ::GetWindowRect(window_, &outer);
      ::SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left,
                     outer.bottom - outer.top + Scale(height) - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

LRESULT Window::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

LRESULT CALLBACK Window::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return GuardedMessage([&] { return self->HandleMessage(message, wparam, lparam); });
}

void Window::ShowModal() {
  // Every other window of the program takes no input while this one is open.
  std::vector<HWND> disabled;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND other, LPARAM list) -> BOOL {
        if (::IsWindowVisible(other) && ::IsWindowEnabled(other)) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(other);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&disabled));
  for (HWND other : disabled) {
    if (other != window_) ::EnableWindow(other, FALSE);
  }
  ModalWindows().push_back(window_);
  modal_ = true;
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  MSG message;
  bool quit = false;
  int quit_code = 0;
  while (modal_ && ::IsWindowVisible(window_)) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      quit = got == 0;
      quit_code = static_cast<int>(message.wParam);
      break;
    }
    if (DialogMessage(nullptr, message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  modal_ = false;
  ModalWindows().pop_back();
  for (HWND other : disabled) {
    if (other != window_ && ::IsWindow(other)) ::EnableWindow(other, TRUE);
  }
  ::ShowWindow(window_, SW_HIDE);
  for (HWND other : disabled) {
    if (other != window_ && ::IsWindow(other)) {
      ::SetActiveWindow(other);
      break;
    }
  }
  // The loop that ended was not the program's own: the quit goes on to it.
  if (quit) ::PostQuitMessage(quit_code);
}

POINT DesktopCentre(SIZE frame) {
  const int width = ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  return {(width - frame.cx) / 2, (height - frame.cy) / 2};
}

POINT CentreOver(HWND over, SIZE frame) {
  RECT rect;
  ::GetWindowRect(over, &rect);
  return {rect.left + (rect.right - rect.left - frame.cx) / 2,
          rect.top + (rect.bottom - rect.top - frame.cy) / 2};
}

SIZE FrameSize(HWND window) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

int RunMessageLoop(HWND main, HACCEL accelerators) {
  MSG message;
  while (true) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    if (accelerators != nullptr && main != nullptr && ::IsWindowEnabled(main) &&
        ::TranslateAcceleratorW(main, accelerators, &message)) {
      continue;
    }
    if (DialogMessage(main, message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace velotrax::win32ui
