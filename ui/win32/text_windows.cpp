#include "ui/win32/text_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/win32/guard.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax::win32ui {

TForm3::TForm3(HWND owner) {
  CreateTopLevel(L"VelotraxDisclaimer", layout::DisclaimerLayout(), owner, nullptr);
  const auto controls = BuildControls(window_, layout::DisclaimerLayout(), nullptr);
  memo_ = controls.at("Memo1");
  button_ = controls.at("Button1");
}

void TForm3::ShowModal() {
  if (!placed_) {
    const POINT at = DesktopCentre(FrameSize(window_));
    ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
  }
  // The keyboard starts in the text, the first control in the tab order.
  Window::ShowModal(memo_);
}

void TForm3::Button1Click() {
  EndModal();
}

LRESULT TForm3::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && lparam != 0 &&
          reinterpret_cast<HWND>(lparam) == button_) {
        Button1Click();
      }
      return 0;  // Enter and Escape (IDOK, IDCANCEL) do nothing
    case WM_CLOSE:
      Button1Click();  // there is no declining: any close agrees
      return 0;
    default:
      return Window::HandleMessage(message, wparam, lparam);
  }
}

TForm4::TForm4(HWND owner) : owner_(owner) {
  // No title bar and no border: a plain frame in the desktop's colour around the text.
  const layout::Window& about = layout::AboutLayout();
  CreateTopLevel(L"VelotraxAbout", about, owner, nullptr, COLOR_BACKGROUND + 1);
  const layout::Control& text = layout::ControlNamed(about, "Memo1");
  memo_ = MakeControl(window_, text, ControlId(about, text.name),
                      Place(text.place, {about.plain_frame, about.plain_frame}));
  ::SetWindowSubclass(memo_, MemoProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TForm4::PaintText(HDC dc) const {
  RECT client;
  ::GetClientRect(memo_, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(memo_, WM_GETFONT, 0, 0)));
  ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  ::SetBkMode(dc, TRANSPARENT);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  // Where each character of each line ends, from the line's start.
  std::vector<std::wstring> lines;
  std::vector<std::vector<int>> ends;
  int widest = 0;
  for (const std::string& line : texts::AboutLines()) {
    lines.push_back(ShowText(line));
    const std::wstring& text = lines.back();
    ends.emplace_back(text.size(), 0);
    SIZE size{};
    ::GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr,
                            ends.back().data(), &size);
    // Blanks at a line's end need no room: the box would not break a line for them.
    const std::size_t shown = text.find_last_not_of(L' ');
    if (shown != std::wstring::npos) widest = std::max(widest, ends.back()[shown]);
  }
  const int margin = Scale(2);  // the Qt window's
  const int room = client.right - client.left - 2 * margin;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // Each character's advance, closed up as the room asks (never widened).
    std::vector<int> advances(lines[i].size());
    int at = 0;
    for (std::size_t c = 0; c < advances.size(); ++c) {
      const int end = widest > room ? ::MulDiv(ends[i][c], room, widest) : ends[i][c];
      advances[c] = end - at;
      at = end;
    }
    ::ExtTextOutW(dc, margin, margin + static_cast<int>(i) * metrics.tmHeight, ETO_CLIPPED, &client,
                  lines[i].c_str(), static_cast<UINT>(lines[i].size()), advances.data());
  }
  ::SelectObject(dc, old);
}

void TForm4::ShowModal() {
  if (!placed_) {
    const POINT at = CentreOver(owner_, FrameSize(window_));
    ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
  }
  Window::ShowModal();
}

void TForm4::Memo1MouseDown() {
  EndModal();
}

void TForm4::Memo1Click() {
  EndModal();
}

LRESULT TForm4::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:  // the read-only text in the window colours
      ::SetTextColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    case WM_CLOSE:
      Memo1Click();  // a close request acts like a click
      return 0;
    default:
      return Window::HandleMessage(message, wparam, lparam);
  }
}

LRESULT CALLBACK TForm4::MemoProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                  DWORD_PTR self) {
  auto* about = reinterpret_cast<TForm4*>(self);
  return GuardedMessage([&]() -> LRESULT {
    switch (message) {
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
      case WM_LBUTTONDBLCLK:
        // Closed on the press: the text is never selected.
        about->Memo1MouseDown();
        return 0;
      case WM_LBUTTONUP:
        about->Memo1Click();
        return 0;
      case WM_SETFOCUS:
        ::HideCaret(window);
        break;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        about->PaintText(dc);
        ::EndPaint(window, &paint);
        return 0;
      }
      case WM_ERASEBKGND:
        return 1;  // the painting fills it
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, MemoProc, 1);
        break;
      default:
        break;
    }
    return ::DefSubclassProc(window, message, wparam, lparam);
  });
}

}  // namespace velotrax::win32ui
