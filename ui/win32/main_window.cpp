#include "ui/win32/main_window.h"

#include <algorithm>
#include <cwctype>

#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "ui/win32/forms.h"
#include "ui/win32/guard.h"
#include "ui/win32/pictures.h"
#include "ui/win32/preferences_dialog.h"
#include "ui/win32/text_windows.h"

namespace velotrax::win32ui {

namespace {

// Asked after the error box of a close that could not save.
constexpr const char* kCloseWithoutSavingQuestion =
    "Not everything could be saved (see the previous message).\n\n"
    "Close Velotrax without saving? What was not saved is lost.";

// Selector items are 13 pixels high.
constexpr int kItemHeight = 13;

HWND MakeSelector(HWND parent, int id, RECT place, int visible_items) {
  // The height given is the box with its list dropped down.
  HWND combo = ::CreateWindowExW(
      0, WC_COMBOBOXW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
      place.left, place.top, place.right - place.left,
      place.bottom - place.top + Scale(kItemHeight) * visible_items + 2, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(RegularFont()), FALSE);
  ::SendMessageW(combo, CB_SETITEMHEIGHT, 0, Scale(kItemHeight));
  ::SendMessageW(combo, CB_SETMINVISIBLE, visible_items, 0);
  return combo;
}

}  // namespace

std::vector<std::wstring> AssignAccelerators(const std::vector<std::wstring>& captions) {
  std::vector<std::wstring> marked;
  std::wstring taken;
  for (const std::wstring& caption : captions) {
    std::wstring text;
    for (wchar_t c : caption) {
      text += c;
      if (c == L'&') text += L'&';
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
      const wchar_t c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(text[i])));
      if (!std::iswalnum(static_cast<wint_t>(c)) || taken.find(c) != std::wstring::npos) continue;
      taken += c;
      text.insert(i, 1, L'&');
      break;
    }
    marked.push_back(text);
  }
  return marked;
}

TForm1::TForm1() {
  ui_thread_ = std::make_unique<MessageLoopUiThread>();
  mame_ = std::make_unique<TJvCreateProcess>(*ui_thread_);
  // Fixed single border: minimise and close, no maximise, no sizing.
  CreateTopLevel(L"VelotraxMain", std::wstring(layout::kMainCaption),
                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                 WS_EX_CONTROLPARENT, layout::kMainWidth, layout::kMainHeight, nullptr,
                 BuildMenu());
  icon_ = MakeMainIcon(::GetSystemMetrics(SM_CXICON));
  small_icon_ = MakeMainIcon(::GetSystemMetrics(SM_CXSMICON));
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  ACCEL f1{FVIRTKEY, VK_F1, layout::kStartBenchmark1};
  accelerators_ = ::CreateAcceleratorTableW(&f1, 1);
  BuildControls();
  SetUpRunner();
  RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  // No runner event may reach a window that is going away.
  mame_.reset();
  ui_thread_.reset();
  if (accelerators_ != nullptr) ::DestroyAcceleratorTable(accelerators_);
  gauges_ = {};
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
    window_ = nullptr;
  }
  if (images_ != nullptr) ::ImageList_Destroy(images_);
  if (icon_ != nullptr) ::DestroyIcon(icon_);
  if (small_icon_ != nullptr) ::DestroyIcon(small_icon_);
}

HMENU TForm1::BuildMenu() {
  HMENU bar = ::CreateMenu();
  std::vector<std::wstring> menu_captions;
  for (const layout::Menu& menu : layout::kMenus) menu_captions.emplace_back(menu.caption);
  const std::vector<std::wstring> menus = AssignAccelerators(menu_captions);
  for (std::size_t m = 0; m < layout::kMenus.size(); ++m) {
    HMENU popup = ::CreatePopupMenu();
    std::vector<std::wstring> captions;
    for (const layout::MenuItem& item : layout::kMenus[m].items) {
      if (item.command != 0) captions.emplace_back(item.caption);
    }
    const std::vector<std::wstring> items = AssignAccelerators(captions);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const layout::MenuItem& item = layout::kMenus[m].items[i];
      std::wstring text = items[i];
      if (!item.shortcut.empty()) text += L"\t" + std::wstring(item.shortcut);
      ::AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(item.command), text.c_str());
    }
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), menus[m].c_str());
  }
  return bar;
}

void TForm1::BuildControls() {
  // Tab order, which is the order of making: ref1, ref2, ref3, rom_selector; then the rest.
  const layout::Control& box = layout::kScoreBox;
  for (std::size_t k = 0; k < refs_.size(); ++k) {
    const layout::Control& ref = layout::kScoreBoxControls[k];
    refs_[k] = MakeSelector(window_, ref.id, Place(ref, box.left, box.top), 8);
    ::SendMessageW(refs_[k], CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Select reference"));
    ::SendMessageW(refs_[k], CB_SETCURSEL, 0, 0);
  }
  rom_selector_ = MakeSelector(window_, layout::kRomSelector, Place(layout::kRomSelectorBox), 35);
  for (int i = 0; i < game_count; ++i) {
    ::SendMessageW(rom_selector_, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(ShowText(GameSelectorItem(i)).c_str()));
  }
  ::SendMessageW(rom_selector_, CB_SETCURSEL, 0, 0);

  BuildToolBar();
  MakeControl(window_, layout::kSelectedRomLabel);
  for (std::size_t i = refs_.size(); i < layout::kScoreBoxControls.size(); ++i) {
    const layout::Control& control = layout::kScoreBoxControls[i];
    if (control.kind == layout::Kind::gauge) continue;
    MakeControl(window_, control, box.left, box.top);
  }
  for (int row = 0; row < 4; ++row) {
    for (int method = 0; method < 2; ++method) {
      const int id = layout::kScoreGauges[row][method];
      const auto* control =
          std::find_if(layout::kScoreBoxControls.begin(), layout::kScoreBoxControls.end(),
                       [id](const layout::Control& c) { return c.id == id; });
      auto gauge = std::make_unique<TGauge>(window_, id, Place(*control, box.left, box.top));
      const auto& colour = layout::kGaugeColours[row][method];
      gauge->SetShowText(false);
      gauge->SetForeColor(RGB(colour[0], colour[1], colour[2]));
      gauges_[static_cast<std::size_t>(row)][static_cast<std::size_t>(method)] = std::move(gauge);
    }
  }
  // The box beneath its contents, its caption in the bold font.
  rom_display_ = MakeControl(window_, box);
  ::SendMessageW(rom_display_, WM_SETFONT, reinterpret_cast<WPARAM>(BoldFont()), FALSE);

  // The pass log: never visible, no word wrap, no limit of its own.
  const RECT memo = Place(layout::kPassLog);
  memo_ = ::CreateWindowExW(0, WC_EDITW, L"",
                            WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY,
                            memo.left, memo.top, memo.right - memo.left, memo.bottom - memo.top,
                            window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout::kMemo1)),
                            ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(memo_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);

  const RECT status = Place(layout::kStatus);
  status_bar_ = ::CreateWindowExW(
      0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN,
      status.left, status.top, status.right - status.left, status.bottom - status.top, window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout::kStatusBar)),
      ::GetModuleHandleW(nullptr), nullptr);
  int parts[1] = {-1};  // one panel over the whole width
  ::SendMessageW(status_bar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  ::SendMessageW(status_bar_, SB_SETTEXTW, 0,
                 reinterpret_cast<LPARAM>(std::wstring(layout::kStatus.text).c_str()));
}

void TForm1::BuildToolBar() {
  const RECT place = Place(layout::kToolBar);
  tool_bar_ =
      ::CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE |
                            CCS_NOPARENTALIGN | CCS_NODIVIDER | CCS_ADJUSTABLE,
                        place.left, place.top, place.right - place.left, place.bottom - place.top,
                        window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout::kToolBar1)),
                        ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(tool_bar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  images_ = MakeToolBarImages();
  ::SendMessageW(tool_bar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  ::SendMessageW(tool_bar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(32, 32));
  ::SendMessageW(
      tool_bar_, TB_SETBUTTONSIZE, 0,
      MAKELPARAM(Scale(layout::kToolButtons[0].width), Scale(layout::kToolButtonHeight)));
  std::vector<TBBUTTON> buttons;
  for (const layout::ToolButton& button : layout::kToolButtons) {
    TBBUTTON b{};
    if (button.command == 0) {
      b.iBitmap = Scale(button.width);
      b.fsStyle = BTNS_SEP;
    } else {
      b.iBitmap = button.image;
      b.idCommand = button.command;
      b.fsState = TBSTATE_ENABLED;
      b.fsStyle = BTNS_BUTTON;
      b.iString = -1;
    }
    buttons.push_back(b);
  }
  ::SendMessageW(tool_bar_, TB_ADDBUTTONSW, buttons.size(),
                 reinterpret_cast<LPARAM>(buttons.data()));
  // Hints show half a second after the pointer rests, for two and a half seconds; moving onto
  // another button while one shows, its hint comes at once.
  HWND tips = reinterpret_cast<HWND>(::SendMessageW(tool_bar_, TB_GETTOOLTIPS, 0, 0));
  if (tips != nullptr) {
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 2500);
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_RESHOW, 0);
  }
}

void TForm1::SetUpRunner() {
  ConfigureEmulatorRunner(*mame_, {});
  mame_->OnRead = [this](TJvCreateProcess& Sender, std::string_view S, bool StartsOnNewLine) {
    RunGuarded([&] { mameRead(Sender, S, StartsOnNewLine); });
  };
  mame_->OnTerminate = [this](TJvCreateProcess& Sender, uint32_t ExitCode) {
    RunGuarded([&] { mameTerminate(Sender, ExitCode); });
  };
}

void TForm1::ShowFirstTime() {
  RunGuarded([this] { FormShow(); });
  const POINT at = DesktopCentre(FrameSize(window_));
  ::SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  ::SetFocus(refs_[0]);
}

void TForm1::FormCreate() {
  InitProgramState(state_);
}

void TForm1::FormShow() {
  LoadSettings(state_, *this);
  BuildCatalogue(state_);
  if (FileIsPresent(state_.base_dir + "mark.dat")) LoadScores(state_);
  LoadReferences(state_, [this](const std::string& name) {
    const std::wstring item = ShowText(name);
    for (HWND ref : refs_) {
      ::SendMessageW(ref, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
  });
  RefreshComparison();
  state_.current_game = 1;
  state_.pass_is_d3d = true;
  state_.d3d_options = std::string(D3DOptionString);
  state_.ddraw_options = std::string(DDrawOptionString);
  RefreshComparison();
}

void TForm1::FormCloseQuery(bool& CanClose) {
  SaveSettings(state_, *this);
  SaveScores(state_);
  CanClose = true;
}

void TForm1::rom_selectorChange() {
  ReloadChangedScores(state_);
  RefreshComparison();
}
void TForm1::ref1Change() {
  RefreshComparison();
}
void TForm1::ref2Change() {
  RefreshComparison();
}
void TForm1::ref3Change() {
  RefreshComparison();
}

void TForm1::ToolButton1Click() {
  const int index = SelectedGame();
  if (index < 1) return;
  SelectGame(index - 1);
  ReloadChangedScores(state_);
  RefreshComparison();
}

void TForm1::ToolButton2Click() {
  const int index = SelectedGame();
  if (index >= game_count - 1) return;
  SelectGame(index + 1);
  ReloadChangedScores(state_);
  RefreshComparison();
}

void TForm1::ToolButton4Click() {
  StartBenchmark1Click();
}

void TForm1::StartBenchmark1Click() {
  ShowingPassLog([this] { StartBenchmark(state_, *this); });
}

void TForm1::Exit2Click() {
  Close();
}

void TForm1::BenchmarkAll1Click() {
  if (Form2 == nullptr) return;
  Form2->ShowModal();
  RefreshComparison();
}

void TForm1::Info1Click() {
  if (Form4 != nullptr) Form4->ShowModal();
}

void TForm1::mameRead(TJvCreateProcess&, std::string_view S, bool StartsOnNewLine) {
  // Kept in the program state; Memo1 takes the log over at the start and the end of a pass.
  OnOutputLine(state_, S, StartsOnNewLine);
}

void TForm1::mameTerminate(TJvCreateProcess&, uint32_t ExitCode) {
  session_close_answered_ = false;  // new scores: a later close must save them
  ShowingPassLog([this, ExitCode] { OnPassEnd(state_, *this, ExitCode); });
}

void TForm1::ShowingPassLog(const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    ShowPassLog();
    // A refused start leaves nothing running: the status bar and the pointer say so again.
    if (!mame_->Watching() && WindowText(status_bar_) != kReadyText) {
      SetStatusText(kReadyText);
      RestoreCursors();
    }
    throw;
  }
  ShowPassLog();
}

void TForm1::ShowPassLog() {
  std::wstring text;
  for (const std::string& line : state_.pass_log) {
    if (!text.empty()) text += L"\r\n";
    text += ShowText(line);
  }
  ::SetWindowTextW(memo_, text.c_str());
}

int TForm1::SelectedGame() const {
  return std::max(0, static_cast<int>(::SendMessageW(rom_selector_, CB_GETCURSEL, 0, 0)));
}

int TForm1::SelectedReference(int k) const {
  if (k < 1 || k > 3) return 0;
  return std::max(0, static_cast<int>(::SendMessageW(refs_[static_cast<std::size_t>(k - 1)],
                                                     CB_GETCURSEL, 0, 0)));
}

void TForm1::SetGameCaption(const std::string& text) {
  SetText(rom_display_, text);
}

void TForm1::SetPcDescription(const std::string& text) {
  SetText(Control(layout::kCpuInfo), text);
}

void TForm1::SetScoreText(int row, ScoreMethod method, const std::string& text) {
  if (row < 0 || row > 3) return;
  SetText(Control(layout::kScoreLabels[row][method == ScoreMethod::d3d]), text);
}

void TForm1::SetReferenceName(int k, const std::string& text) {
  if (k >= 1 && k <= 3) SetText(Control(layout::kReferenceNames[k - 1]), text);
}

void TForm1::SetBarScale(int32_t maximum) {
  for (auto& row : gauges_) {
    for (auto& gauge : row) gauge->SetMaxValue(maximum);
  }
}

void TForm1::SetScoreBar(int row, ScoreMethod method, int32_t value) {
  if (row < 0 || row > 3) return;
  gauges_[static_cast<std::size_t>(row)][method == ScoreMethod::d3d]->SetProgress(value);
}

PassMode TForm1::CheckedPassMode() const {
  return Form2 != nullptr ? Form2->CheckedPassMode() : PassMode::none;
}

void TForm1::SetStatusText(const std::string& text) {
  ::SendMessageW(status_bar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(ShowText(text).c_str()));
}

void TForm1::ShowBusyCursors() {
  busy_ = true;
  if (Form2 != nullptr) Form2->SetBusy(true);
  POINT at;
  ::GetCursorPos(&at);
  ::SetCursorPos(at.x, at.y);  // the pointer takes its new shape where it rests
}

void TForm1::RestoreCursors() {
  busy_ = false;
  if (Form2 != nullptr) Form2->SetBusy(false);
  POINT at;
  ::GetCursorPos(&at);
  ::SetCursorPos(at.x, at.y);
}

void TForm1::RefreshComparison() {
  velotrax::RefreshComparison(state_, static_cast<ComparisonView&>(*this));
}

void TForm1::ShowDisclaimer() {
  if (Form3 != nullptr) Form3->ShowModal();
}

void TForm1::SelectGame(int index) {
  // The catalogue is indexed with the selection without further checks: keep it in range.
  ::SendMessageW(rom_selector_, CB_SETCURSEL, std::clamp(index, 0, game_count - 1), 0);
}

void TForm1::CheckPassMode(PassMode mode) {
  if (Form2 != nullptr) Form2->CheckPassMode(mode);
}

void TForm1::Close() {
  bool can_close = session_close_answered_;
  if (!can_close) {
    RunGuarded([&] { FormCloseQuery(can_close); });
    // The close is abandoned first, as always; but a file that can never be written would keep
    // the window open for good, so the user may still close without saving.
    if (!can_close) RunGuarded([&] { can_close = AskQuestion(kCloseWithoutSavingQuestion); });
  }
  if (!can_close) return;
  ::ShowWindow(window_, SW_HIDE);
  ::PostQuitMessage(0);
}

void TForm1::Command(int id) {
  switch (id) {
    case layout::kStartBenchmark1:
      StartBenchmark1Click();
      break;
    case layout::kExit2:
      Exit2Click();
      break;
    case layout::kBenchmarkAll1:
      BenchmarkAll1Click();
      break;
    case layout::kInfo1:
      Info1Click();
      break;
    case layout::kToolButton1:
      ToolButton1Click();
      break;
    case layout::kToolButton2:
      ToolButton2Click();
      break;
    default:
      break;
  }
}

LRESULT TForm1::Notify(const NMHDR& header) {
  if (header.hwndFrom == tool_bar_) {
    switch (header.code) {
      case NM_CUSTOMDRAW: {
        // Etched edges along the tool bar's left, top and bottom sides.
        const auto& draw = reinterpret_cast<const NMTBCUSTOMDRAW&>(header);
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYPOSTPAINT;
        if (draw.nmcd.dwDrawStage == CDDS_POSTPAINT) {
          RECT edge;
          ::GetClientRect(tool_bar_, &edge);
          ::DrawEdge(draw.nmcd.hdc, &edge, EDGE_ETCHED, BF_LEFT | BF_TOP | BF_BOTTOM);
        }
        return CDRF_DODEFAULT;
      }
      case TBN_QUERYINSERT:
      case TBN_QUERYDELETE:
        return TRUE;  // the user may remove and reorder every button
      case TBN_GETBUTTONINFOW: {
        auto& info = reinterpret_cast<NMTOOLBARW&>(const_cast<NMHDR&>(header));
        if (info.iItem < 0 || info.iItem >= static_cast<int>(layout::kToolButtons.size())) {
          return FALSE;
        }
        const layout::ToolButton& button =
            layout::kToolButtons[static_cast<std::size_t>(info.iItem)];
        info.tbButton = TBBUTTON{};
        if (button.command == 0) {
          info.tbButton.iBitmap = Scale(button.width);
          info.tbButton.fsStyle = BTNS_SEP;
        } else {
          info.tbButton.iBitmap = button.image;
          info.tbButton.idCommand = button.command;
          info.tbButton.fsState = TBSTATE_ENABLED;
          if (info.pszText != nullptr && info.cchText > 0) {
            lstrcpynW(info.pszText, std::wstring(button.hint).c_str(), info.cchText);
          }
        }
        return TRUE;
      }
      default:
        break;
    }
  }
  if (header.code == TTN_GETDISPINFOW) {
    auto& info = reinterpret_cast<NMTTDISPINFOW&>(const_cast<NMHDR&>(header));
    for (const layout::ToolButton& button : layout::kToolButtons) {
      if (button.command != 0 && static_cast<UINT_PTR>(button.command) == header.idFrom) {
        static std::wstring hint;
        hint = button.hint;
        info.lpszText = hint.data();
      }
    }
  }
  return 0;
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (lparam != 0 && code == CBN_SELCHANGE) {
        // Only the user's own pick raises it; the program's CB_SETCURSEL does not.
        if (id == layout::kRomSelector) rom_selectorChange();
        if (id == layout::kRef1) ref1Change();
        if (id == layout::kRef2) ref2Change();
        if (id == layout::kRef3) ref3Change();
        return 0;
      }
      if (lparam == 0 || reinterpret_cast<HWND>(lparam) == tool_bar_) Command(id);
      return 0;
    }
    case WM_NOTIFY:
      return Notify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_SETCURSOR:
      if (busy_ && LOWORD(lparam) == HTCLIENT) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_QUERYENDSESSION: {
      bool can_close = false;
      RunGuarded([&] { FormCloseQuery(can_close); });
      session_close_answered_ = can_close;
      return can_close ? TRUE : FALSE;
    }
    case WM_ENDSESSION:
      if (wparam == FALSE) session_close_answered_ = false;  // the log-off was cancelled
      return 0;
    default:
      break;
  }
  return Window::HandleMessage(message, wparam, lparam);
}

}  // namespace velotrax::win32ui
