#include "ui/win32/window_support.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "ui/win32/application_window.h"
#include "ui/win32/guard.h"
#include "ui/window_texts.h"

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

HFONT SmallFont() {
  static const HFONT font = [] {
    LOGFONTW face{};
    ::GetObjectW(RegularFont(), sizeof(face), &face);
    face.lfHeight = face.lfHeight * 7 / 8;
    return ::CreateFontIndirectW(&face);
  }();
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

RECT Place(const layout::Rect& rect, POINT offset) {
  const int left = Scale(rect.left + offset.x);
  const int top = Scale(rect.top + offset.y);
  return {left, top, left + Scale(rect.width), top + Scale(rect.height)};
}

int ControlId(const layout::Window& window, std::string_view name) {
  for (std::size_t i = 0; i < window.controls.size(); ++i) {
    if (window.controls[i].name == name) return 1000 + static_cast<int>(i);
  }
  return 0;
}

int MenuCommand(const layout::Window& window, std::string_view name) {
  for (std::size_t m = 0; m < window.menus.size(); ++m) {
    for (std::size_t i = 0; i < window.menus[m].items.size(); ++i) {
      if (window.menus[m].items[i].name == name) return static_cast<int>(100 + 10 * m + i);
    }
  }
  return 0;
}

int ToolButtonCommand(const layout::Window& window, std::string_view name) {
  for (std::size_t i = 0; i < window.tool_buttons.size(); ++i) {
    if (window.tool_buttons[i].name == name) return 200 + static_cast<int>(i);
  }
  return 0;
}

void SetText(HWND window, const std::string& text) {
  ::SetWindowTextW(window, ShowText(text).c_str());
}

namespace {

// A multi-line text box keeps Tab and Shift+Tab for the dialog: without this the edit control
// takes every key, and the keyboard could never leave the Disclaimer's text for "I Agree".
LRESULT CALLBACK TabLeavesProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                               DWORD_PTR) {
  if (message == WM_GETDLGCODE) {
    return ::DefSubclassProc(window, message, wparam, lparam) & ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
  }
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(window, TabLeavesProc, 0);
  return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace

HWND MakeControl(HWND parent, const layout::Control& control, int id, RECT place) {
  using layout::ControlKind;
  const wchar_t* window_class = WC_STATICW;
  DWORD style = WS_CHILD;
  DWORD ex_style = 0;
  const uint32_t flags = control.style;
  HFONT font = (flags & layout::kBold)        ? BoldFont()
               : (flags & layout::kSmallFont) ? SmallFont()
                                              : RegularFont();
  std::wstring text = ShowText(std::string(control.text));
  switch (control.kind) {
    case ControlKind::label:
      style |= SS_NOPREFIX | ((flags & layout::kRightAligned) ? SS_RIGHT : SS_LEFT);
      break;
    case ControlKind::bevel:
      // The etched line lies along the bottom edge of its box.
      style |= SS_ETCHEDHORZ;
      place.top = place.bottom - 2;
      break;
    case ControlKind::group_box:
      window_class = WC_BUTTONW;
      // Beneath its contents, it must not paint over them (the browse button of the file-name
      // field was lost under the Options box).
      style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
      break;
    case ControlKind::push_button:
      window_class = WC_BUTTONW;
      style |= BS_PUSHBUTTON;
      break;
    case ControlKind::radio_button:
      window_class = WC_BUTTONW;
      style |= BS_AUTORADIOBUTTON;
      break;
    case ControlKind::check_box:
      window_class = WC_BUTTONW;
      style |= BS_AUTOCHECKBOX;
      break;
    case ControlKind::edit_box:
      window_class = WC_EDITW;
      style |= ES_AUTOHSCROLL;
      ex_style = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::multi_line_text:
      window_class = WC_EDITW;
      style |= ES_MULTILINE;
      if (flags & layout::kReadOnly) style |= ES_READONLY;
      // Without word wrap each line stays one line of the control, however long.
      if (!(flags & layout::kWordWrap)) style |= ES_AUTOHSCROLL;
      if (flags & layout::kVerticalScrollBar) style |= WS_VSCROLL;
      if (!(flags & layout::kNoBorder)) ex_style = WS_EX_CLIENTEDGE;
      if (control.lines != nullptr) text = ShowText(texts::JoinLines(*control.lines, "\r\n"));
      break;
    default:
      break;
  }
  if (control.tab_order >= 0 && layout::TakesFocus(control.kind)) style |= WS_TABSTOP;
  if (!(flags & layout::kHidden)) style |= WS_VISIBLE;
  if (flags & layout::kSizedToText) {
    HDC dc = ::GetDC(parent);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(parent, dc);
    // Sized to its text: where the font needs more than the width given, the label grows.
    if (place.left + size.cx > place.right) place.right = place.left + size.cx;
  }
  HWND window = ::CreateWindowExW(ex_style, window_class, text.c_str(), style, place.left,
                                  place.top, place.right - place.left, place.bottom - place.top,
                                  parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (control.kind == ControlKind::multi_line_text) {
    ::SendMessageW(window, EM_SETLIMITTEXT, 0, 0);
    ::SetWindowSubclass(window, TabLeavesProc, 0, 0);
  }
  if (flags & layout::kChecked) ::SendMessageW(window, BM_SETCHECK, BST_CHECKED, 0);
  return window;
}

namespace {

constexpr wchar_t kPageClass[] = L"VelotraxPage";

// A tab page: a plain child that hands its controls' notifications to its window.
LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_DRAWITEM:
    case WM_SETCURSOR:
      return ::SendMessageW(::GetAncestor(page, GA_ROOT), message, wparam, lparam);
    default:
      return ::DefWindowProcW(page, message, wparam, lparam);
  }
}

HWND MakePage(HWND parent, RECT place, bool visible) {
  static const ATOM registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = PageProc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kPageClass;
    return ::RegisterClassExW(&window_class);
  }();
  (void)registered;
  return ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                           WS_CHILD | (visible ? WS_VISIBLE : 0), place.left, place.top,
                           place.right - place.left, place.bottom - place.top, parent, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

struct Placed {
  const layout::Control* control;
  POINT offset;  // of its parent's client area within the host window, in layout pixels
};

// The controls that lie in the host window for parent: group boxes' contents beside them.
void Gather(const layout::Window& layout, std::string_view parent, POINT offset,
            std::vector<Placed>& placed) {
  for (const layout::Control* child : layout::ChildrenOf(layout, parent)) {
    placed.push_back({child, offset});
    if (child->kind == layout::ControlKind::group_box) {
      Gather(layout, child->name, {offset.x + child->place.left, offset.y + child->place.top},
             placed);
    }
  }
}

void Build(HWND host, const layout::Window& layout, std::string_view parent,
           const MakeSpecialControl& special, std::map<std::string_view, HWND>& made) {
  std::vector<Placed> placed;
  Gather(layout, parent, {0, 0}, placed);
  const std::vector<std::string_view> chain = layout::FocusChain(layout);
  auto rank = [&](const Placed& p) -> std::size_t {
    const auto found = std::find(chain.begin(), chain.end(), p.control->name);
    if (found != chain.end()) return static_cast<std::size_t>(found - chain.begin());
    // Then what takes no focus, in the order of the layout; group boxes beneath everything.
    return chain.size() + (p.control->kind == layout::ControlKind::group_box ? 1 : 0);
  };
  std::stable_sort(placed.begin(), placed.end(),
                   [&](const Placed& a, const Placed& b) { return rank(a) < rank(b); });
  bool in_radio_group = false;
  for (const Placed& p : placed) {
    const layout::Control& control = *p.control;
    const RECT place = Place(control.place, p.offset);
    const int id = ControlId(layout, control.name);
    HWND window = special ? special(control, host, place, id) : nullptr;
    if (window == nullptr) window = MakeControl(host, control, id, place);
    // Radio buttons in a row form one group; what follows them starts another.
    const bool radio = control.kind == layout::ControlKind::radio_button;
    if (radio != in_radio_group) {
      ::SetWindowLongPtrW(window, GWL_STYLE, ::GetWindowLongPtrW(window, GWL_STYLE) | WS_GROUP);
    }
    in_radio_group = radio;
    made[control.name] = window;
    if (control.kind == layout::ControlKind::page_control) {
      RECT area = place;
      ::SendMessageW(window, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
      for (const layout::Control* page : layout::ChildrenOf(layout, control.name)) {
        HWND page_window = MakePage(host, area, (page->style & layout::kSelected) != 0);
        made[page->name] = page_window;
        Build(page_window, layout, page->name, special, made);
      }
    }
  }
}

}  // namespace

std::map<std::string_view, HWND> BuildControls(HWND window, const layout::Window& layout,
                                               const MakeSpecialControl& special) {
  std::map<std::string_view, HWND> made;
  Build(window, layout, "", special, made);
  return made;
}

Window::~Window() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

void Window::CreateTopLevel(const wchar_t* class_name, const layout::Window& layout, HWND owner,
                            HMENU menu, int background) {
  DWORD style = WS_POPUP;
  DWORD ex_style = WS_EX_CONTROLPARENT;
  switch (layout.frame) {
    case layout::Frame::fixed_single:
      style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
      break;
    case layout::Frame::dialog:
      // A title bar and nothing in it: no window menu, no buttons.
      style = WS_POPUP | WS_CAPTION;
      ex_style |= WS_EX_DLGMODALFRAME;
      break;
    case layout::Frame::none:
      break;
  }
  const int width = layout.client_width + 2 * layout.plain_frame;
  const int height = layout.client_height + 2 * layout.plain_frame;
  const std::wstring caption = ShowText(std::string(layout.caption));
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
  if (message == WM_ACTIVATE) {
    // Coming back to the window, the keyboard goes back to the control that had it.
    if (LOWORD(wparam) == WA_INACTIVE) {
      HWND focused = ::GetFocus();
      if (focused != nullptr && ::IsChild(window_, focused)) last_focus_ = focused;
    } else if (last_focus_ != nullptr && ::IsWindow(last_focus_) &&
               ::IsWindowVisible(last_focus_)) {
      ::SetFocus(last_focus_);
      return 0;
    }
  }
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

namespace {

struct InputWindows {
  HWND except;
  bool visible_only;
  std::vector<HWND> found;
};

// Adds a window that takes input to the list: EnumThreadWindows's callback, which is a system
// call-back (stdcall on 32-bit Windows), so not a lambda.
BOOL CALLBACK CollectInputWindow(HWND other, LPARAM data) {
  auto* windows = reinterpret_cast<InputWindows*>(data);
  if (other != windows->except && ::IsWindowEnabled(other) &&
      (!windows->visible_only || ::IsWindowVisible(other))) {
    windows->found.push_back(other);
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> DisableThreadWindows(HWND except, bool visible_only) {
  InputWindows windows{except, visible_only, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), CollectInputWindow,
                      reinterpret_cast<LPARAM>(&windows));
  for (HWND other : windows.found) ::EnableWindow(other, FALSE);
  return windows.found;
}

void EnableAgain(const std::vector<HWND>& windows) {
  for (HWND other : windows) {
    if (::IsWindow(other)) ::EnableWindow(other, TRUE);
  }
}

void Window::ShowModal(HWND focus) {
  // Every other window of the program takes no input while this one is open.
  const std::vector<HWND> disabled = DisableThreadWindows(window_, true);
  ModalWindows().push_back(window_);
  modal_ = true;
  HWND focused_before = ::GetFocus();
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  if (focus != nullptr) ::SetFocus(focus);
  MSG message;
  bool quit = false;
  int quit_code = 0;
  // Hidden with the rest of the program while it is minimised, it stays open.
  while (modal_ && ::IsWindow(window_) && (::IsWindowVisible(window_) || ProgramMinimized())) {
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
  EnableAgain(disabled);
  ::ShowWindow(window_, SW_HIDE);
  // The window it was opened over is active again; the application window, never drawn, is not.
  for (HWND other : disabled) {
    if (::IsWindow(other) && ::IsWindowVisible(other) && other != ApplicationWindowHandle()) {
      ::SetActiveWindow(other);
      break;
    }
  }
  // The control that had the keyboard before has it again.
  if (focused_before != nullptr && ::IsWindow(focused_before)) ::SetFocus(focused_before);
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
