// TForm1, the main window: menu, tool bar, game and reference selectors, the comparison display
// and the status bar. Its handlers keep the program's names and call the shared handler logic
// (ui/window_actions.h); its controls are built from the layout (ui/window_layout.h).
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringList>
#include <QToolButton>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "core/comparison.h"
#include "core/identification.h"
#include "core/sequencer.h"
#include "core/state.h"
#include "process/create_process.h"
#include "results/series_benchmark.h"
#include "storage/settings.h"
#include "ui/qt/bar_gauge.h"
#include "ui/qt/qt_ui_thread.h"
#include "ui/qt/toolbar_customize.h"
#include "ui/window_actions.h"

class QSessionManager;

namespace velotrax {

class TForm2;
class TForm3;
class TForm4;

// Menu captions with "&" before each one's accelerator: the first letter or digit, from the left,
// that no earlier caption of the same menu has taken (case ignored); a "&" of the caption itself
// is doubled.
QStringList AssignAccelerators(const QStringList& captions);

class TForm1 : public QMainWindow,
               public ComparisonView,
               public SequencerHost,
               public SettingsHost,
               public results::SeriesView,
               public MainWindowHost {
  Q_OBJECT

 public:
  // Builds the window hidden, runs FormCreate, then creates its three dialogs, hidden.
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  ProgramState& State() { return state_; }

  // The dialogs the main window made and shows modally: Preferences, Disclaimer, About.
  TForm2* Preferences() const { return preferences_.get(); }
  TForm3* Disclaimer() const { return disclaimer_.get(); }
  TForm4* About() const { return about_.get(); }

  // The client area holding every control below.
  QWidget* client;
  TToolBar* ToolBar1;
  QToolButton *ToolButton4, *ToolButton1, *ToolButton2;
  QWidget *ToolButton5, *ToolButton3;  // separators
  QLabel* Label4;
  QComboBox* rom_selector;
  QPlainTextEdit* Memo1;
  QGroupBox* rom_display;
  QLabel *Label1, *cpu_info, *Label3, *edit2, *Label2, *edit1;
  // Beside this computer's scores: the interval of a score measured as a series, else empty.
  QLabel *interval_ddraw, *interval_d3d;
  TGauge *Gauge_ddraw, *gauge_3d3;
  QWidget* Bevel1;
  QLabel *Label5, *refname1, *label_ref1_ddraw, *Label_ref1_d3d;
  QLabel *Label6, *refname2, *label_ref2_ddraw, *Label_ref2_d3d;
  QLabel *Label7, *refname3, *label_ref3_ddraw, *Label_ref3_d3d;
  QComboBox *ref1, *ref2, *ref3;
  TGauge *gauge_ref1ddraw, *Gauge_ref1d3d, *Gauge_ref2ddraw, *Gauge_ref2d3d, *Gauge_ref3ddraw,
      *Gauge_ref3d3d;
  QStatusBar* StatusBar;
  QLabel* StatusPanel;  // the status bar's one panel
  QMenuBar* MainMenu;
  QMenu *File1, *Benchmark1, *About1;
  QAction *StartBenchmark1, *Exit2, *BenchmarkAll1, *Info1, *Export1;

  // The child process runner that runs the emulator.
  TJvCreateProcess& mame() { return *mame_; }

  // The benchmarks of series and what this session measured.
  results::SeriesBenchmark& Series() { return *series_; }

  // How many times the comparison display has been refreshed.
  int RefreshCount() const { return refresh_count_; }

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
  // Writes the session's results to path, JSON or Markdown by its extension.
  void ExportResults(const std::string& path);
  void mameRead(TJvCreateProcess& Sender, std::string_view S, bool StartsOnNewLine);
  void mameTerminate(TJvCreateProcess& Sender, uint32_t ExitCode);

  // ComparisonView, SequencerHost, SettingsHost, MainWindowHost.
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
  void ReportUnmeasuredPass(const UnmeasuredPass& pass) override;
  EmulatorIdentification* Identification() override { return identification_.get(); }
  void ShowMeasuredEmulator(const std::string& emulator) override;
  void ShowDisclaimer() override;
  void SelectGame(int index) override;
  void CheckPassMode(PassMode mode) override;
  void ShowMachineWarning(const std::string& text) override;
  void RunLater(std::chrono::milliseconds delay, std::function<void()> fn) override;
  results::RepeatOption CheckedRepeatOption() const override;
  void SetRepeatOption(const results::RepeatOption& option) override;
  void AppendReferenceItems(const std::vector<std::string>& names) override;

 signals:
  // The window has closed for good: the application ends.
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void BindEvents();
  void SetUpRunner();
  void CommitData(QSessionManager& manager);
  // Selects the game at index and shows it; none does nothing.
  void GoToGame(std::optional<int> index);
  void ShowPassLog();
  // Adds a paragraph to the status bar's tool-tip, which says why the latest benchmark measured
  // nothing; the panel's own text stays as the sequencer sets it.
  void AddStatusToolTip(const std::string& text);
  // Shows status_tip_ as the status bar's tool-tip.
  void ShowStatusToolTip();
  // After a failed start: when nothing runs, the status and the pointers say so again.
  void EndRefusedStart();
  // Runs a start or a pass end and shows the pass log after it; one that throws is a refused start.
  void ShowingPassLog(const std::function<void()>& step);
  QList<QWidget*> BusySet() const;

  ProgramState state_;
  std::unique_ptr<TForm2> preferences_;
  std::unique_ptr<TForm3> disclaimer_;
  std::unique_ptr<TForm4> about_;
  int refresh_count_ = 0;
  StatusToolTip status_tip_;
  // Set when a log-off has run the close query; the close that ends the session does not ask
  // again, but any later input (the log-off was cancelled) means the next close asks as usual.
  bool session_close_answered_ = false;
  // The UI thread goes after the runner, which may still be handing it events.
  std::unique_ptr<QtUiThread> ui_thread_;
  std::unique_ptr<TJvCreateProcess> mame_;
  // Asks a new emulator what it is before its first pass, with the window answering meanwhile.
  std::unique_ptr<EmulatorIdentification> identification_;
  std::unique_ptr<results::SeriesBenchmark> series_;
  // The score controls of each row of the display (this computer, references 1 to 3), the
  // DirectDraw one first.
  std::array<std::array<QLabel*, 2>, 4> score_labels_{};
  std::array<std::array<TGauge*, 2>, 4> gauges_{};
};

}  // namespace velotrax
