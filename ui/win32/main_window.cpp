#include "ui/win32/main_window.h"

#include <commdlg.h>

#include <algorithm>
#include <cwctype>

#include "base/errors.h"
#include "base/win32_text.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "ui/win32/guard.h"
#include "ui/win32/pictures.h"
#include "ui/win32/preferences_dialog.h"
#include "ui/win32/text_windows.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax::win32ui {

namespace {

const layout::Window& Layout() {
  return layout::MainWindowLayout();
}

// The score labels and gauges of each row (this computer, references 1 to 3), DirectDraw first.
constexpr std::string_view kScoreLabels[4][2] = {{"edit2", "edit1"},
                                                 {"label_ref1_ddraw", "Label_ref1_d3d"},
                                                 {"label_ref2_ddraw", "Label_ref2_d3d"},
                                                 {"label_ref3_ddraw", "Label_ref3_d3d"}};
constexpr std::string_view kScoreGauges[4][2] = {{"Gauge_ddraw", "gauge_3d3"},
                                                 {"gauge_ref1ddraw", "Gauge_ref1d3d"},
                                                 {"Gauge_ref2ddraw", "Gauge_ref2d3d"},
                                                 {"Gauge_ref3ddraw", "Gauge_ref3d3d"}};
constexpr std::string_view kReferenceNames[3] = {"refname1", "refname2", "refname3"};
constexpr std::string_view kReferenceSelectors[3] = {"ref1", "ref2", "ref3"};

// Selector items are 13 pixels high.
constexpr int kItemHeight = 13;

TBBUTTON ToolBarButton(const layout::ToolButton& button) {
  TBBUTTON b{};
  if (button.Separator()) {
    b.iBitmap = Scale(button.width);
    b.fsStyle = BTNS_SEP;
  } else {
    b.iBitmap = button.image;
    b.idCommand = ToolButtonCommand(layout::MainWindowLayout(), button.name);
    b.fsState = TBSTATE_ENABLED;
    b.fsStyle = BTNS_BUTTON;
    b.iString = -1;
  }
  return b;
}

}  // namespace

TForm1::TForm1(ApplicationWindow& application) : application_(application) {
  ui_thread_ = std::make_unique<MessageLoopUiThread>();
  mame_ = std::make_unique<TJvCreateProcess>(*ui_thread_);
  identification_ = std::make_unique<EmulatorIdentification>(
      *ui_thread_,
      [this](std::chrono::milliseconds delay, std::function<void()> fn) {
        RunLater(delay, [fn = std::move(fn)] { RunGuarded(fn); });
      },
      [this](const std::function<void()>& step) { RunGuarded([&] { ShowingPassLog(step); }); });
  series_ = std::make_unique<results::SeriesBenchmark>(state_, *this, *this, results::SystemRoot());
  // Fixed single border: minimise and close, no maximise, no sizing. Owned by the application
  // window, it has no task-bar button of its own: the program's is the application window's.
  CreateTopLevel(L"VelotraxMain", Layout(), application_.Handle(), BuildMenu());
  application_.SetMainWindow(window_);
  // MAINICON, the program's icon resource, in the title bar.
  icon_ = LoadApplicationIcon(SM_CXICON);
  small_icon_ = LoadApplicationIcon(SM_CXSMICON);
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  ACCEL f1{FVIRTKEY, VK_F1, static_cast<WORD>(MenuCommand(Layout(), "StartBenchmark1"))};
  accelerators_ = ::CreateAcceleratorTableW(&f1, 1);
  BuildControls();
  SetUpRunner();
  RunGuarded([this] { FormCreate(); });
  // The main window's own windows, made after it in this order and hidden until asked for.
  preferences_ = std::make_unique<TForm2>(state_, window_);
  disclaimer_ = std::make_unique<TForm3>(application_.Handle());
  about_ = std::make_unique<TForm4>(window_);
}

TForm1::~TForm1() {
  // No runner event may reach a window that is going away; a probe still running is ended.
  identification_.reset();
  series_.reset();
  mame_.reset();
  ui_thread_.reset();
  // Its own windows go before it, the last made first.
  about_.reset();
  disclaimer_.reset();
  preferences_.reset();
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
  std::vector<std::string> menu_captions;
  for (const layout::Menu& menu : Layout().menus) menu_captions.emplace_back(menu.caption);
  const std::vector<std::string> menus = layout::AssignAccelerators(menu_captions);
  for (std::size_t m = 0; m < Layout().menus.size(); ++m) {
    HMENU popup = ::CreatePopupMenu();
    std::vector<const layout::MenuItem*> shown;
    std::vector<std::string> captions;
    for (const layout::MenuItem& item : Layout().menus[m].items) {
      shown.push_back(&item);
      captions.emplace_back(item.caption);
    }
    const std::vector<std::string> items = layout::AssignAccelerators(captions);
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::string text = items[i];
      if (!shown[i]->shortcut.empty()) text += "\t" + std::string(shown[i]->shortcut);
      ::AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(MenuCommand(Layout(), shown[i]->name)),
                    ShowText(text).c_str());
    }
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), ShowText(menus[m]).c_str());
  }
  return bar;
}

void TForm1::BuildControls() {
  controls_ = win32ui::BuildControls(
      window_, Layout(), [this](const layout::Control& control, HWND parent, RECT place, int id) {
        return MakeSpecial(control, parent, place, id);
      });
  for (std::size_t k = 0; k < refs_.size(); ++k) refs_[k] = Control(kReferenceSelectors[k]);
  rom_selector_ = Control("rom_selector");
  for (int i = 1; i < game_count; ++i) {
    ::SendMessageW(rom_selector_, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(ShowText(GameSelectorItem(i)).c_str()));
  }
  rom_display_ = Control("rom_display");
  memo_ = Control("Memo1");
  status_bar_ = Control("StatusBar");
  tool_bar_ = Control("ToolBar1");
  MakeStatusToolTip();
}

void TForm1::MakeStatusToolTip() {
  status_tool_tip_ =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                        nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (status_tool_tip_ == nullptr) return;
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(status_bar_);
  tool.lpszText = const_cast<wchar_t*>(L"");
  ::SendMessageW(status_tool_tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  // Its lines break where the text breaks them, as typed, however long: an emulator's output.
  ::SendMessageW(status_tool_tip_, TTM_SETMAXTIPWIDTH, 0, ::GetSystemMetrics(SM_CXVIRTUALSCREEN));
  // The timing of every hint of the program.
  ::SendMessageW(status_tool_tip_, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
  ::SendMessageW(status_tool_tip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 2500);
  ::SendMessageW(status_tool_tip_, TTM_SETDELAYTIME, TTDT_RESHOW, 0);
}

void TForm1::AddStatusToolTip(const std::string& text) {
  status_tip_.Add(text);
  ShowStatusToolTip();
}

void TForm1::ShowStatusToolTip() {
  if (status_tool_tip_ == nullptr) return;
  std::wstring text = ShowText(status_tip_.Text());
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(status_bar_);
  tool.lpszText = text.data();
  ::SendMessageW(status_tool_tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

HWND TForm1::Control(std::string_view name) const {
  const auto found = controls_.find(name);
  return found != controls_.end() ? found->second : nullptr;
}

HWND TForm1::MakeSpecial(const layout::Control& control, HWND parent, RECT place, int id) {
  HMENU menu_id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  switch (control.kind) {
    case layout::ControlKind::combo_box: {
      // The height given is the box with its list dropped down.
      HWND combo = ::CreateWindowExW(
          0, WC_COMBOBOXW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
          place.left, place.top, place.right - place.left,
          place.bottom - place.top + Scale(kItemHeight) * control.visible_items + 2, parent,
          menu_id, instance, nullptr);
      ::SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(RegularFont()), FALSE);
      ::SendMessageW(combo, CB_SETITEMHEIGHT, 0, Scale(kItemHeight));
      ::SendMessageW(combo, CB_SETMINVISIBLE, control.visible_items, 0);
      ::SendMessageW(combo, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(ShowText(std::string(control.text)).c_str()));
      ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
      return combo;
    }
    case layout::ControlKind::bar_gauge: {
      auto gauge = std::make_unique<TGauge>(parent, id, place);
      gauge->SetShowText(false);
      gauge->SetForeColor(static_cast<COLORREF>(control.colour));  // red in the lowest byte
      HWND window = gauge->Handle();
      for (std::size_t row = 0; row < gauges_.size(); ++row) {
        for (std::size_t method = 0; method < 2; ++method) {
          if (kScoreGauges[row][method] == control.name) gauges_[row][method] = std::move(gauge);
        }
      }
      return window;
    }
    case layout::ControlKind::tool_bar:
      return MakeToolBar(place, id);
    case layout::ControlKind::status_bar: {
      HWND status = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                                      WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN,
                                      place.left, place.top, place.right - place.left,
                                      place.bottom - place.top, parent, menu_id, instance, nullptr);
      int parts[1] = {-1};  // one panel over the whole width
      ::SendMessageW(status, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
      ::SendMessageW(status, SB_SETTEXTW, 0,
                     reinterpret_cast<LPARAM>(
                         ShowText(std::string(Layout().status_panels.at(0).text)).c_str()));
      return status;
    }
    default:
      return nullptr;
  }
}

HWND TForm1::MakeToolBar(RECT place, int id) {
  const layout::Window& w = Layout();
  HWND tool_bar = ::CreateWindowExW(
      0, TOOLBARCLASSNAMEW, L"",
      WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN |
          CCS_NODIVIDER | CCS_ADJUSTABLE,
      place.left, place.top, place.right - place.left, place.bottom - place.top, window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(tool_bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  images_ = MakeToolBarImages();
  ::SendMessageW(tool_bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  ::SendMessageW(tool_bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(w.tool_image_size, w.tool_image_size));
  ::SendMessageW(tool_bar, TB_SETBUTTONSIZE, 0,
                 MAKELPARAM(Scale(w.tool_buttons.at(0).width), Scale(w.tool_button_height)));
  std::vector<TBBUTTON> buttons;
  for (const layout::ToolButton& button : w.tool_buttons) buttons.push_back(ToolBarButton(button));
  ::SendMessageW(tool_bar, TB_ADDBUTTONSW, buttons.size(),
                 reinterpret_cast<LPARAM>(buttons.data()));
  // Hints show half a second after the pointer rests, for two and a half seconds; moving onto
  // another button while one shows, its hint comes at once.
  HWND tips = reinterpret_cast<HWND>(::SendMessageW(tool_bar, TB_GETTOOLTIPS, 0, 0));
  if (tips != nullptr) {
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_INITIAL, 500);
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 2500);
    ::SendMessageW(tips, TTM_SETDELAYTIME, TTDT_RESHOW, 0);
  }
  return tool_bar;
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
  RunShowSequence(state_, *this, *this);
}

void TForm1::FormCloseQuery(bool& CanClose) {
  RunCloseQuery(state_, *this, *this);
  CanClose = true;
}

void TForm1::AppendReferenceItems(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::wstring item = ShowText(name);
    for (HWND ref : refs_) {
      ::SendMessageW(ref, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
  }
}

void TForm1::rom_selectorChange() {
  ShowPickedGame(state_, *this);
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
  GoToGame(PreviousGameIndex(SelectedGame()));
}

void TForm1::ToolButton2Click() {
  GoToGame(NextGameIndex(SelectedGame()));
}

void TForm1::GoToGame(std::optional<int> index) {
  if (!index) return;
  SelectGame(*index);
  ShowPickedGame(state_, *this);
}

void TForm1::ToolButton4Click() {
  StartBenchmark1Click();
}

void TForm1::StartBenchmark1Click() {
  // The status bar's tool-tip tells about the passes of the latest benchmark only.
  status_tip_.BeginBenchmark(mame_->Watching() || identification_->Identifying());
  ShowStatusToolTip();
  series_->EndIfIdle();
  ShowingPassLog(
      [this] { StartBenchmarkOrSeries(state_, *this, *series_, CheckedRepeatOption()); });
}

void TForm1::Exit2Click() {
  Close();
}

void TForm1::BenchmarkAll1Click() {
  if (preferences_ == nullptr) return;
  preferences_->ShowModal();
  RefreshComparison();
}

void TForm1::Info1Click() {
  if (about_ != nullptr) about_->ShowModal();
}

void TForm1::Export1Click() {
  const std::wstring json = ShowText(std::string(texts::kExportJsonFilter));
  const std::wstring markdown = ShowText(std::string(texts::kExportMarkdownFilter));
  // "JSON (*.json)" and its pattern, "Markdown (*.md)" and its pattern.
  const auto pattern = [](const std::wstring& label) {
    return label.substr(label.find(L'(') + 1, label.find(L')') - label.find(L'(') - 1);
  };
  const std::wstring filter =
      json + L'\0' + pattern(json) + L'\0' + markdown + L'\0' + pattern(markdown) + L'\0' + L'\0';
  std::wstring file = ShowText(std::string(texts::kExportProposedName));
  file.resize(MAX_PATH, L'\0');
  const std::wstring initial_dir = ShowText(state_.base_dir);
  const std::wstring title = ShowText(std::string(texts::kExportTitle));
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = initial_dir.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = L"json";
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT;
  if (!::GetSaveFileNameW(&dialog)) return;
  std::wstring path = file.c_str();
  // A name typed without an extension takes the one of the chosen kind.
  if (dialog.nFileExtension == 0 || path[dialog.nFileExtension - 1] != L'.') {
    path += dialog.nFilterIndex == 2 ? L".md" : L".json";
  }
  results::ExportRecord(series_->SessionRecord(), win32::Utf8(path));
}

results::RepeatOption TForm1::CheckedRepeatOption() const {
  return preferences_ != nullptr ? preferences_->CheckedRepeatOption() : results::RepeatOption{};
}

void TForm1::SetRepeatOption(const results::RepeatOption& option) {
  if (preferences_ != nullptr) preferences_->SetRepeatOption(option);
}

void TForm1::ShowMachineWarning(const std::string& text) {
  const std::string line = MachineWarningLine(text);
  AddStatusToolTip(line);
  state_.pass_log.push_back(line);
}

void TForm1::ReportUnmeasuredPass(const UnmeasuredPass& pass) {
  // The display shows N/A and nothing else; what the emulator said waits on the status bar.
  AddStatusToolTip(UnmeasuredPassText(pass));
}

void TForm1::ShowMeasuredEmulator(const std::string& emulator) {
  // Once per benchmark: both passes of a combined one measure the same file.
  status_tip_.AddOnce(emulator);
  ShowStatusToolTip();
}

void TForm1::RunLater(std::chrono::milliseconds delay, std::function<void()> fn) {
  const UINT_PTR id = next_timer_++;
  timers_[id] = std::move(fn);
  ::SetTimer(window_, id, static_cast<UINT>(delay.count()), nullptr);
}

void TForm1::mameRead(TJvCreateProcess&, std::string_view S, bool StartsOnNewLine) {
  // Kept in the program state; Memo1 takes the log over at the start and the end of a pass.
  OnOutputLine(state_, S, StartsOnNewLine);
}

void TForm1::mameTerminate(TJvCreateProcess&, uint32_t ExitCode) {
  session_close_answered_ = false;  // new scores: a later close must save them
  ShowingPassLog([this, ExitCode] { EndPass(state_, *this, *series_, ExitCode); });
}

void TForm1::ShowingPassLog(const std::function<void()>& step) {
  try {
    try {
      step();
    } catch (const EOSError& e) {
      // The emulator could not be started. The error box keeps the system's own words; which
      // file it was goes beside them.
      AddStatusToolTip(RefusedStartHint(state_, e.ErrorCode()));
      throw;
    }
  } catch (...) {
    ShowPassLog();
    // A refused start leaves nothing running: the status bar and the pointer say so again.
    if (!mame_->Watching() && !identification_->Identifying() &&
        WindowText(status_bar_) != kReadyText) {
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
  SetText(Control("cpu_info"), text);
}

void TForm1::SetScoreText(int row, ScoreMethod method, const std::string& text) {
  if (row < 0 || row > 3) return;
  SetText(Control(kScoreLabels[row][method == ScoreMethod::d3d]), text);
}

void TForm1::SetReferenceName(int k, const std::string& text) {
  if (k >= 1 && k <= 3) SetText(Control(kReferenceNames[k - 1]), text);
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
  return preferences_ != nullptr ? preferences_->CheckedPassMode() : PassMode::none;
}

void TForm1::SetStatusText(const std::string& text) {
  ::SendMessageW(status_bar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(ShowText(text).c_str()));
}

void TForm1::ShowBusyCursors() {
  busy_ = true;
  if (preferences_ != nullptr) preferences_->SetBusy(true);
  POINT at;
  ::GetCursorPos(&at);
  ::SetCursorPos(at.x, at.y);  // the pointer takes its new shape where it rests
}

void TForm1::RestoreCursors() {
  busy_ = false;
  if (preferences_ != nullptr) preferences_->SetBusy(false);
  POINT at;
  ::GetCursorPos(&at);
  ::SetCursorPos(at.x, at.y);
}

void TForm1::RefreshComparison() {
  velotrax::RefreshComparison(state_, static_cast<ComparisonView&>(*this));
  // Beside this computer's scores: the interval of a score measured as a series.
  const int game = SelectedGame();
  SetText(Control("interval_ddraw"), SelectionIntervalText(state_, *series_, game, false));
  SetText(Control("interval_d3d"), SelectionIntervalText(state_, *series_, game, true));
}

void TForm1::ShowDisclaimer() {
  if (disclaimer_ != nullptr) disclaimer_->ShowModal();
}

void TForm1::SelectGame(int index) {
  // The catalogue is indexed with the selection without further checks: keep it in range.
  ::SendMessageW(rom_selector_, CB_SETCURSEL, std::clamp(index, 0, game_count - 1), 0);
}

void TForm1::CheckPassMode(PassMode mode) {
  if (preferences_ != nullptr) preferences_->CheckPassMode(mode);
}

void TForm1::Close() {
  bool can_close = session_close_answered_;
  if (!can_close) {
    RunGuarded([&] { FormCloseQuery(can_close); });
    // The close is abandoned first, as always; but a file that can never be written would keep
    // the window open for good, so the user may still close without saving.
    if (!can_close) {
      RunGuarded([&] { can_close = AskQuestion(std::string(texts::kCloseWithoutSavingQuestion)); });
    }
  }
  if (!can_close) return;
  ::ShowWindow(window_, SW_HIDE);
  ::ShowWindow(application_.Handle(), SW_HIDE);  // the task-bar button goes with it
  ::PostQuitMessage(0);
}

void TForm1::Command(int id) {
  const layout::Window& w = Layout();
  if (id == MenuCommand(w, "StartBenchmark1")) StartBenchmark1Click();
  if (id == ToolButtonCommand(w, "ToolButton4")) ToolButton4Click();
  if (id == MenuCommand(w, "Exit2")) Exit2Click();
  if (id == MenuCommand(w, "BenchmarkAll1")) BenchmarkAll1Click();
  if (id == MenuCommand(w, "Info1")) Info1Click();
  if (id == MenuCommand(w, "Export1")) Export1Click();
  if (id == ToolButtonCommand(w, "ToolButton1")) ToolButton1Click();
  if (id == ToolButtonCommand(w, "ToolButton2")) ToolButton2Click();
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
        const auto& buttons = Layout().tool_buttons;
        if (info.iItem < 0 || info.iItem >= static_cast<int>(buttons.size())) return FALSE;
        const layout::ToolButton& button = buttons[static_cast<std::size_t>(info.iItem)];
        info.tbButton = ToolBarButton(button);
        if (!button.Separator() && info.pszText != nullptr && info.cchText > 0) {
          lstrcpynW(info.pszText, ShowText(std::string(button.hint)).c_str(), info.cchText);
        }
        return TRUE;
      }
      default:
        break;
    }
  }
  if (header.code == TTN_GETDISPINFOW) {
    auto& info = reinterpret_cast<NMTTDISPINFOW&>(const_cast<NMHDR&>(header));
    for (const layout::ToolButton& button : Layout().tool_buttons) {
      if (!button.Separator() &&
          static_cast<UINT_PTR>(ToolButtonCommand(Layout(), button.name)) == header.idFrom) {
        static std::wstring hint;
        hint = ShowText(std::string(button.hint));
        info.lpszText = hint.data();
      }
    }
  }
  return 0;
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      if (lparam != 0 && HIWORD(wparam) == CBN_SELCHANGE) {
        // Only the user's own pick raises it; the program's CB_SETCURSEL does not.
        const HWND from = reinterpret_cast<HWND>(lparam);
        if (from == rom_selector_) rom_selectorChange();
        if (from == refs_[0]) ref1Change();
        if (from == refs_[1]) ref2Change();
        if (from == refs_[2]) ref3Change();
        return 0;
      }
      if (lparam == 0 || reinterpret_cast<HWND>(lparam) == tool_bar_) Command(LOWORD(wparam));
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
    case WM_TIMER: {
      const auto found = timers_.find(wparam);
      if (found == timers_.end()) break;
      ::KillTimer(window_, wparam);
      std::function<void()> fn = std::move(found->second);
      timers_.erase(found);
      fn();
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    case WM_SYSCOMMAND:
      // Minimising the main window minimises the whole program to its task-bar button.
      if ((wparam & 0xFFF0) == SC_MINIMIZE) {
        application_.Minimize();
        return 0;
      }
      break;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED) application_.Minimize();  // minimised by the system itself
      break;
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
