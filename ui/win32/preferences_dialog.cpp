#include "ui/win32/preferences_dialog.h"

#include <commctrl.h>

#include "ui/win32/guard.h"

namespace velotrax::win32ui {

namespace {

constexpr wchar_t kPageClass[] = L"VelotraxPage";

// A tab's page: a plain child that hands its controls' notifications to the dialog.
LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_SETCURSOR:
      return ::SendMessageW(::GetParent(page), message, wparam, lparam);
    default:
      return ::DefWindowProcW(page, message, wparam, lparam);
  }
}

HWND MakePage(HWND parent, RECT place) {
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
  return ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS,
                           place.left, place.top, place.right - place.left,
                           place.bottom - place.top, parent, nullptr, ::GetModuleHandleW(nullptr),
                           nullptr);
}

}  // namespace

TForm2::TForm2(ProgramState& state, HWND owner) : state_(state), owner_(owner) {
  // A dialog frame with a title bar and nothing in it: no window menu, no buttons.
  CreateTopLevel(L"VelotraxPreferences", std::wstring(layout::kPreferencesCaption),
                 WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
                 layout::kPreferencesWidth, layout::kPreferencesHeight, owner, nullptr);
  MakeControl(window_, layout::kOk);
  MakeControl(window_, layout::kCancel);
  const RECT pages_place = Place(layout::kPages);
  pages_ = ::CreateWindowExW(0, WC_TABCONTROLW, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, pages_place.left,
                             pages_place.top, pages_place.right - pages_place.left,
                             pages_place.bottom - pages_place.top, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout::kPageControl)),
                             ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(pages_, WM_SETFONT, reinterpret_cast<WPARAM>(RegularFont()), FALSE);
  for (int i = 0; i < static_cast<int>(layout::kPageTabs.size()); ++i) {
    std::wstring tab(layout::kPageTabs[static_cast<std::size_t>(i)]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = tab.data();
    ::SendMessageW(pages_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  // The pages lie over the tab control's display area, as its siblings.
  RECT display = pages_place;
  ::SendMessageW(pages_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  options_page_ = MakePage(window_, display);
  information_page_ = MakePage(window_, display);

  // The Options page: the group boxes' contents first, in tab order, then the boxes beneath.
  const layout::Control& options = layout::kOptionsBox;
  for (const layout::Control& control : layout::kOptionsBoxControls) {
    if (control.kind == layout::Kind::file_field) {
      mamefile_selector_ = std::make_unique<TJvFilenameEdit>(
          options_page_, control.id, Place(control, options.left, options.top), RegularFont());
      mamefile_selector_->SetFilter(std::wstring(layout::kMameFileFilter),
                                    std::wstring(layout::kMameFilePattern));
      mamefile_selector_->SetDialogTitle(std::wstring(layout::kMameFileDialogTitle));
    } else {
      HWND made = MakeControl(options_page_, control, options.left, options.top);
      if (control.id == layout::kPcDescription) pc_description_ = made;
    }
  }
  const layout::Control& method = layout::kMethodBox;
  HWND* radios[] = {&use_ddraw_, &use_d3d_, &use_both_};
  for (std::size_t i = 0; i < layout::kMethodBoxControls.size(); ++i) {
    *radios[i] = MakeControl(options_page_, layout::kMethodBoxControls[i], method.left, method.top,
                             i == 0 ? WS_GROUP : 0);
  }
  // What follows the radio buttons starts a group of its own.
  MakeControl(options_page_, options, 0, 0, WS_GROUP);
  MakeControl(options_page_, method);
  ::SendMessageW(use_ddraw_, BM_SETCHECK, BST_CHECKED, 0);

  const layout::Control& information = layout::kInformationBox;
  HWND text = MakeControl(information_page_, layout::kInformation, information.left,
                          information.top, WS_VSCROLL | WS_TABSTOP | WS_BORDER);
  ::SetWindowTextW(
      text, JoinLines(layout::kInformationLines.data(), layout::kInformationLines.size()).c_str());
  MakeControl(information_page_, information);
  ShowPage(0);
}

void TForm2::ShowPage(int index) {
  ::ShowWindow(options_page_, index == 0 ? SW_SHOW : SW_HIDE);
  ::ShowWindow(information_page_, index == 1 ? SW_SHOW : SW_HIDE);
}

void TForm2::ShowModal() {
  RunGuarded([this] { FormShow(); });
  if (!placed_) {
    // Centred over the main window the first time; later where the user left it.
    const POINT at = CentreOver(owner_, FrameSize(window_));
    ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
    ::SetFocus(::GetDlgItem(window_, layout::kOkButton));
  }
  Window::ShowModal();
}

void TForm2::FormShow() {
  shown_description_ = state_.games.empty() ? std::string() : state_.games[0].cpu;
  SetText(pc_description_, shown_description_);
  mamefile_selector_->SetText(state_.base_dir + state_.mame_file);
}

void TForm2::ok_buttonClick() {
  state_.mame_file = mamefile_selector_->ShortFileName();
  if (!state_.games.empty()) {
    const std::wstring shown = ShowText(shown_description_);
    const std::string now = WindowText(pc_description_);
    // Unedited, the description keeps its own bytes (a Windows-1252 one stays so).
    state_.games[0].cpu = ShowText(now) == shown ? shown_description_ : now;
  }
  EndModal();
}

void TForm2::cancel_buttonClick() {
  EndModal();
}

PassMode TForm2::CheckedPassMode() const {
  if (::SendMessageW(use_both_, BM_GETCHECK, 0, 0) == BST_CHECKED) return PassMode::both;
  if (::SendMessageW(use_d3d_, BM_GETCHECK, 0, 0) == BST_CHECKED) return PassMode::d3d;
  if (::SendMessageW(use_ddraw_, BM_GETCHECK, 0, 0) == BST_CHECKED) return PassMode::ddraw;
  return PassMode::none;
}

void TForm2::CheckPassMode(PassMode mode) {
  if (mode == PassMode::none) return;
  ::SendMessageW(use_ddraw_, BM_SETCHECK, mode == PassMode::ddraw ? BST_CHECKED : BST_UNCHECKED, 0);
  ::SendMessageW(use_d3d_, BM_SETCHECK, mode == PassMode::d3d ? BST_CHECKED : BST_UNCHECKED, 0);
  ::SendMessageW(use_both_, BM_SETCHECK, mode == PassMode::both ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT TForm2::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        if (LOWORD(wparam) == layout::kOkButton) {
          ok_buttonClick();
          return 0;
        }
        if (LOWORD(wparam) == layout::kCancelButton) {
          cancel_buttonClick();
          return 0;
        }
      }
      // Enter and Escape reach the dialog as IDOK and IDCANCEL: it has no default or cancel
      // button, so they do nothing.
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom == pages_ && header->code == TCN_SELCHANGE) {
        ShowPage(static_cast<int>(::SendMessageW(pages_, TCM_GETCURSEL, 0, 0)));
      }
      return 0;
    }
    case WM_SETCURSOR: {
      const HWND over = reinterpret_cast<HWND>(wparam);
      if (busy_ && (over == use_ddraw_ || over == use_d3d_)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    }
    case WM_CLOSE:
      cancel_buttonClick();  // a close request acts like Cancel
      return 0;
    default:
      break;
  }
  return Window::HandleMessage(message, wparam, lparam);
}

}  // namespace velotrax::win32ui
