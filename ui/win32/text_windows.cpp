#include "ui/win32/text_windows.h"

#include <commctrl.h>

#include "ui/win32/guard.h"

namespace velotrax::win32ui {

TForm3::TForm3() {
  CreateTopLevel(L"VelotraxDisclaimer", std::wstring(layout::kDisclaimerCaption),
                 WS_POPUP | WS_CAPTION, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
                 layout::kDisclaimerWidth, layout::kDisclaimerHeight, nullptr, nullptr);
  HWND memo = MakeControl(window_, layout::kDisclaimerMemo, 0, 0, WS_TABSTOP);
  ::SetWindowTextW(
      memo, JoinLines(layout::kDisclaimerLines.data(), layout::kDisclaimerLines.size()).c_str());
  MakeControl(window_, layout::kAgree);
}

void TForm3::ShowModal() {
  if (!placed_) {
    const POINT at = DesktopCentre(FrameSize(window_));
    ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
  }
  ::SetFocus(::GetDlgItem(window_, layout::kDisclaimerText));
  Window::ShowModal();
}

void TForm3::Button1Click() {
  EndModal();
}

LRESULT TForm3::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == layout::kAgreeButton && HIWORD(wparam) == BN_CLICKED) Button1Click();
      return 0;  // Enter and Escape (IDOK, IDCANCEL) do nothing
    case WM_CLOSE:
      Button1Click();  // there is no declining: any close agrees
      return 0;
    default:
      return Window::HandleMessage(message, wparam, lparam);
  }
}

TForm4::TForm4(HWND owner) : owner_(owner) {
  // No title bar and no border: a 5-pixel frame in the desktop's colour around the text.
  CreateTopLevel(L"VelotraxAbout", std::wstring(layout::kAboutCaption), WS_POPUP, 0,
                 layout::kAboutWidth + 2 * layout::kAboutFrame,
                 layout::kAboutHeight + 2 * layout::kAboutFrame, owner, nullptr,
                 COLOR_BACKGROUND + 1);
  const layout::Control text{layout::kAboutText,
                             layout::Kind::memo,
                             layout::kAboutFrame,
                             layout::kAboutFrame,
                             layout::kAboutWidth,
                             layout::kAboutHeight,
                             L""};
  memo_ = MakeControl(window_, text);
  ::SetWindowTextW(memo_,
                   JoinLines(layout::kAboutLines.data(), layout::kAboutLines.size()).c_str());
  ::SetWindowSubclass(memo_, MemoProc, 1, reinterpret_cast<DWORD_PTR>(this));
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
