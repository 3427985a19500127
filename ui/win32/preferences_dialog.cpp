#include "ui/win32/preferences_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ui/win32/guard.h"
#include "ui/window_actions.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax::win32ui {

namespace {

const layout::Window& Layout() {
  return layout::PreferencesLayout();
}

}  // namespace

TForm2::TForm2(ProgramState& state, HWND owner) : state_(state), owner_(owner) {
  CreateTopLevel(L"VelotraxPreferences", Layout(), owner, nullptr);
  controls_ = BuildControls(
      window_, Layout(),
      [this](const layout::Control& control, HWND parent, RECT place, int id) -> HWND {
        if (control.kind == layout::ControlKind::page_control) {
          pages_ = ::CreateWindowExW(
              0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS,
              place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
              nullptr);
          ::SendMessageW(pages_, WM_SETFONT, reinterpret_cast<WPARAM>(RegularFont()), FALSE);
          int index = 0;
          for (const layout::Control* page : layout::ChildrenOf(Layout(), control.name)) {
            std::wstring tab = ShowText(std::string(page->text));
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = tab.data();
            ::SendMessageW(pages_, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
            if (page->style & layout::kSelected) ::SendMessageW(pages_, TCM_SETCURSEL, index, 0);
            ++index;
          }
          return pages_;
        }
        if (control.kind == layout::ControlKind::number_box) {
          return MakeNumberBox(control, parent, place, id);
        }
        if (control.kind == layout::ControlKind::file_name_field) {
          mamefile_selector_ = std::make_unique<TJvFilenameEdit>(parent, id, place, RegularFont());
          const std::string filter(texts::kEmulatorFilter);
          const std::size_t bar = filter.find('|');
          mamefile_selector_->SetFilter(ShowText(filter.substr(0, bar)),
                                        ShowText(filter.substr(bar + 1)));
          mamefile_selector_->SetDialogTitle(ShowText(std::string(texts::kEmulatorDialogTitle)));
          return mamefile_selector_->Handle();
        }
        return nullptr;
      });
  pc_description_ = Control("pc_description");
  use_ddraw_ = Control("use_ddraw");
  use_d3d_ = Control("use_d3d");
  use_both_ = Control("use_both");
  SetRepeatOption({});
}

HWND TForm2::MakeNumberBox(const layout::Control& control, HWND parent, RECT place, int id) {
  HWND box = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_EDITW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
      place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(RegularFont()), FALSE);
  // The arrows step the number; the box keeps the text, so a fraction stays one.
  HWND arrows = ::CreateWindowExW(0, UPDOWN_CLASSW, L"",
                                  WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0, 0, 0,
                                  0, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(box), 0);
  ::SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(-1000000), 1000000);
  arrows_[control.name] = arrows;
  return box;
}

double TForm2::NumberIn(std::string_view name, double lowest, double highest,
                        double fallback) const {
  const std::string text = WindowText(Control(name));
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return fallback;
  return std::clamp(value, lowest, highest);
}

results::RepeatOption TForm2::CheckedRepeatOption() const {
  const results::RepeatOption defaults;
  results::RepeatOption option;
  option.on = ::SendMessageW(Control("repeat_passes"), BM_GETCHECK, 0, 0) == BST_CHECKED;
  option.percent = NumberIn("repeat_percent", results::kLowestRepeatPercent,
                            results::kHighestRepeatPercent, defaults.percent);
  option.most_passes = static_cast<int>(
      NumberIn("repeat_most", 1, results::kMostRepeatPasses, defaults.most_passes));
  option.steady = ::SendMessageW(Control("repeat_steady"), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return option;
}

void TForm2::SetRepeatOption(const results::RepeatOption& option) {
  ::SendMessageW(Control("repeat_passes"), BM_SETCHECK, option.on ? BST_CHECKED : BST_UNCHECKED, 0);
  char percent[32];
  std::snprintf(percent, sizeof(percent), "%.1f", option.percent);
  SetText(Control("repeat_percent"), percent);
  SetText(Control("repeat_most"), std::to_string(option.most_passes));
  ::SendMessageW(Control("repeat_steady"), BM_SETCHECK, option.steady ? BST_CHECKED : BST_UNCHECKED,
                 0);
  EnableRepeatNumbers(option.on);
}

void TForm2::EnableRepeatNumbers(bool on) {
  for (std::string_view name : {"repeat_percent", "repeat_most", "repeat_steady"}) {
    ::EnableWindow(Control(name), on);
    const auto arrows = arrows_.find(name);
    if (arrows != arrows_.end()) ::EnableWindow(arrows->second, on);
  }
}

HWND TForm2::Control(std::string_view name) const {
  const auto found = controls_.find(name);
  return found != controls_.end() ? found->second : nullptr;
}

void TForm2::ShowPage(int index) {
  int i = 0;
  for (const layout::Control* page : layout::ChildrenOf(Layout(), "PageControl1")) {
    ::ShowWindow(Control(page->name), i++ == index ? SW_SHOW : SW_HIDE);
  }
}

void TForm2::ShowModal() {
  RunGuarded([this] { FormShow(); });
  if (!placed_) {
    // Centred over the main window the first time; later where the user left it.
    const POINT at = CentreOver(owner_, FrameSize(window_));
    ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = true;
    // The first time, the keyboard starts on OK, the first control in the tab order; later in the
    // control that had it when the dialog closed.
    Window::ShowModal(Control("ok_button"));
    return;
  }
  Window::ShowModal();
}

void TForm2::FormShow() {
  const PreferencesTexts texts = PreferencesOpening(state_);
  shown_description_ = texts.pc_description;
  SetText(pc_description_, shown_description_);
  mamefile_selector_->SetText(texts.emulator_path);
}

void TForm2::ok_buttonClick() {
  const std::string now = WindowText(pc_description_);
  // Unedited, the description keeps its own bytes (a Windows-1252 one stays so).
  const std::string description =
      ShowText(now) == ShowText(shown_description_) ? shown_description_ : now;
  PreferencesOk(state_, mamefile_selector_->ShortFileName(), description);
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
        const HWND from = reinterpret_cast<HWND>(lparam);
        if (from != nullptr && from == Control("repeat_passes")) {
          EnableRepeatNumbers(::SendMessageW(from, BM_GETCHECK, 0, 0) == BST_CHECKED);
        } else if (mamefile_selector_->ButtonClicked(from)) {
          // the field has browsed
        } else if (from != nullptr && from == Control("ok_button")) {
          ok_buttonClick();
        } else if (from != nullptr && from == Control("cancel_button")) {
          cancel_buttonClick();
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
      if (header->code == UDN_DELTAPOS) {
        // Half a percent or one pass a step, kept within the option's range.
        const auto* step = reinterpret_cast<const NMUPDOWN*>(lparam);
        const bool percent = header->hwndFrom == arrows_["repeat_percent"];
        const results::RepeatOption now = CheckedRepeatOption();
        if (percent) {
          const double value =
              std::clamp(now.percent + 0.5 * step->iDelta, results::kLowestRepeatPercent,
                         results::kHighestRepeatPercent);
          char text[32];
          std::snprintf(text, sizeof(text), "%.1f", value);
          SetText(Control("repeat_percent"), text);
        } else {
          SetText(Control("repeat_most"),
                  std::to_string(
                      std::clamp(now.most_passes + step->iDelta, 1, results::kMostRepeatPasses)));
        }
        return TRUE;  // the boxes' texts are set here, not by the arrows
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // The emulator's box is read-only but shows as a box to fill, in the window colours.
      if (reinterpret_cast<HWND>(lparam) == mamefile_selector_->Handle()) {
        ::SetTextColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_DRAWITEM:
      if (mamefile_selector_->DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam))) {
        return TRUE;
      }
      break;
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
