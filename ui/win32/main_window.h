// TForm1, the main window: menu, tool bar, game and reference selectors, the comparison display
// and the status bar. Its handlers keep the program's names and call into core/ and storage/.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/comparison.h"
#include "core/identification.h"
#include "core/sequencer.h"
#include "core/state.h"
#include "process/create_process.h"
#include "results/series_benchmark.h"
#include "storage/settings.h"
#include "ui/win32/application_window.h"
#include "ui/win32/bar_gauge.h"
#include "ui/win32/message_loop_ui_thread.h"
#include "ui/win32/window_support.h"
#include "ui/window_actions.h"

namespace velotrax::win32ui {

class TForm2;
class TForm3;
class TForm4;

class TForm1 : public Window,
               public ComparisonView,
               public SequencerHost,
               public SettingsHost,
               public MainWindowHost,
               public results::SeriesView {
 public:
  // Builds the window hidden, owned by the application window, runs FormCreate, then makes its
  // Preferences, Disclaimer and About windows.
  explicit TForm1(ApplicationWindow& application);
  ~TForm1() override;

  ProgramState& State() { return state_; }
  // The accelerator table of the window's shortcuts (F1).
  HACCEL Accelerators() const { return accelerators_; }
  // The first showing: the show sequence, centring on the desktop, focus in ref1.
  void ShowFirstTime();

  // Handlers.
  void FormCreate();
  void FormShow();
  void FormCloseQuery(bool& CanClose);
  void rom_selectorChange();
  void ref1Change();
  void ref2Change();
  void ref3Change();
  void ToolButton1Click();
  void ToolButton2Click();
  void ToolButton4Click();
  void StartBenchmark1Click();
  void Exit2Click();
  void BenchmarkAll1Click();
  void Info1Click();
  // File > Export results...: asks for a file and exports the session's results to it.
  void Export1Click();
  void mameRead(TJvCreateProcess& Sender, std::string_view S, bool StartsOnNewLine);
  void mameTerminate(TJvCreateProcess& Sender, uint32_t ExitCode);

  // ComparisonView, SequencerHost, SettingsHost.
  int SelectedGame() const override;
  int SelectedReference(int k) const override;
  void SetGameCaption(const std::string& text) override;
  void SetPcDescription(const std::string& text) override;
  void SetScoreText(int row, ScoreMethod method, const std::string& text) override;
  void SetReferenceName(int k, const std::string& text) override;
  void SetBarScale(int32_t maximum) override;
  void SetScoreBar(int row, ScoreMethod method, int32_t value) override;
  PassMode CheckedPassMode() const override;
  void SetStatusText(const std::string& text) override;
  void ShowBusyCursors() override;
  void RestoreCursors() override;
  void RefreshComparison() override;
  TJvCreateProcess& Runner() override { return *mame_; }
  EmulatorIdentification* Identification() override { return identification_.get(); }
  void ShowDisclaimer() override;
  void SelectGame(int index) override;
  void CheckPassMode(PassMode mode) override;
  // MainWindowHost, SeriesView.
  results::RepeatOption CheckedRepeatOption() const override;
  void SetRepeatOption(const results::RepeatOption& option) override;
  void AppendReferenceItems(const std::vector<std::string>& names) override;
  void ShowMachineWarning(const std::string& text) override;
  void ReportUnmeasuredPass(const UnmeasuredPass& pass) override;
  void ShowMeasuredEmulator(const std::string& emulator) override;
  void RunLater(std::chrono::milliseconds delay, std::function<void()> fn) override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void BuildControls();
  HWND MakeSpecial(const layout::Control& control, HWND parent, RECT place, int id);
  HWND MakeToolBar(RECT place, int id);
  // The tool-tip over the status bar, empty (and so not shown) until a pass has something to say.
  void MakeStatusToolTip();
  // Adds a paragraph to the status bar's tool-tip; the panel's own text stays as it is.
  void AddStatusToolTip(const std::string& text);
  // Shows status_tip_ in the status bar's tool-tip.
  void ShowStatusToolTip();
  HMENU BuildMenu();
  void SetUpRunner();
  void Command(int id);
  LRESULT Notify(const NMHDR& header);
  // Runs a start or a pass end and shows the pass log after it; after a refused start, when
  // nothing runs, the status bar and the pointer say so again.
  void ShowingPassLog(const std::function<void()>& step);
  void ShowPassLog();
  void Close();
  // Selects the game at index and shows it; none does nothing.
  void GoToGame(std::optional<int> index);
  // The control of that name in the layout.
  HWND Control(std::string_view name) const;

  ApplicationWindow& application_;
  ProgramState state_;
  HACCEL accelerators_ = nullptr;
  HIMAGELIST images_ = nullptr;
  HICON icon_ = nullptr, small_icon_ = nullptr;
  HWND tool_bar_ = nullptr, status_bar_ = nullptr, rom_selector_ = nullptr, memo_ = nullptr;
  HWND rom_display_ = nullptr;
  HWND status_tool_tip_ = nullptr;
  StatusToolTip status_tip_;
  std::array<HWND, 3> refs_{};
  std::map<std::string_view, HWND> controls_;
  // What RunLater waits to run, by timer.
  std::map<UINT_PTR, std::function<void()>> timers_;
  UINT_PTR next_timer_ = 1;
  std::array<std::array<std::unique_ptr<TGauge>, 2>, 4> gauges_;
  bool busy_ = false;
  // Set when a log-off has run the close query: the end of the session does not ask again.
  bool session_close_answered_ = false;
  // The UI thread goes after the runner, which may still be handing it events.
  std::unique_ptr<MessageLoopUiThread> ui_thread_;
  std::unique_ptr<TJvCreateProcess> mame_;
  // Asks the emulator what it is before a pass without holding the window.
  std::unique_ptr<EmulatorIdentification> identification_;
  // The benchmarks of series and what this session measured.
  std::unique_ptr<results::SeriesBenchmark> series_;
  std::unique_ptr<TForm2> preferences_;
  std::unique_ptr<TForm3> disclaimer_;
  std::unique_ptr<TForm4> about_;
};

}  // namespace velotrax::win32ui
