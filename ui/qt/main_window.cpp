#include "ui/qt/main_window.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QRadioButton>
#include <QSessionManager>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

#include "base/errors.h"
#include "emulator/emulator_dialect.h"
#include "ui/qt/about_window.h"
#include "ui/qt/application.h"
#include "ui/qt/disclaimer_window.h"
#include "ui/qt/guard.h"
#include "ui/qt/icons.h"
#include "ui/qt/layout_widgets.h"
#include "ui/qt/preferences_dialog.h"
#include "ui/qt/text_codec.h"
#include "ui/qt/window_frame.h"
#include "ui/window_actions.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax {

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QStringList AssignAccelerators(const QStringList& captions) {
  std::vector<std::string> plain;
  for (const QString& caption : captions) plain.push_back(caption.toStdString());
  QStringList marked;
  for (const std::string& text : layout::AssignAccelerators(plain)) {
    marked.append(QString::fromStdString(text));
  }
  return marked;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle(Text(layout::MainWindowLayout().caption));
  // Fixed single border: minimise and close only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  ui_thread_ = std::make_unique<QtUiThread>();
  mame_ = std::make_unique<TJvCreateProcess>(*ui_thread_);
  identification_ = std::make_unique<EmulatorIdentification>(
      *ui_thread_,
      [this](std::chrono::milliseconds delay, std::function<void()> fn) {
        QTimer::singleShot(delay, this, [fn = std::move(fn)] { RunGuarded(fn); });
      },
      [this](const std::function<void()>& step) { RunGuarded([&] { ShowingPassLog(step); }); });
  series_ = std::make_unique<results::SeriesBenchmark>(state_, *this, *this, results::SystemRoot());
  BuildControls();
  BuildMenu();
  SetUpRunner();
  BindEvents();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  RunGuarded([this] { FormCreate(); });
  // The dialogs come after the main window, in this order; each is shown modally only.
  preferences_ = std::make_unique<TForm2>(state_, this);
  disclaimer_ = std::make_unique<TForm3>();
  about_ = std::make_unique<TForm4>(this);
}

TForm1::~TForm1() {
  // The dialogs go first, the last created first.
  about_.reset();
  disclaimer_.reset();
  preferences_.reset();
  // No runner event may reach a window that is going away; a probe still running is ended.
  identification_.reset();
  series_.reset();
  mame_.reset();
  ui_thread_.reset();
}

void TForm1::BuildControls() {
  const layout::Window& window = layout::MainWindowLayout();
  client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(window.client_width, window.client_height);
  setCentralWidget(client);

  const LaidOutWidgets w =
      BuildLayout(window, client, {NextRomImage(), PreviousRomImage(), StartBenchmarkImage()});
  ToolBar1 = w.Get<TToolBar>("ToolBar1");
  ToolButton4 = w.Get<QToolButton>("ToolButton4");
  ToolButton5 = w.Get<QWidget>("ToolButton5");
  ToolButton1 = w.Get<QToolButton>("ToolButton1");
  ToolButton2 = w.Get<QToolButton>("ToolButton2");
  ToolButton3 = w.Get<QWidget>("ToolButton3");
  Label4 = w.Get<QLabel>("Label4");
  rom_selector = w.Get<QComboBox>("rom_selector");
  // The placeholder is the layout's; the games follow in catalogue order.
  for (int i = 1; i < game_count; ++i) rom_selector->addItem(ShowText(GameSelectorItem(i)));
  rom_selector->setCurrentIndex(0);
  Memo1 = w.Get<QPlainTextEdit>("Memo1");
  rom_display = w.Get<QGroupBox>("rom_display");
  Label1 = w.Get<QLabel>("Label1");
  cpu_info = w.Get<QLabel>("cpu_info");
  Label3 = w.Get<QLabel>("Label3");
  edit2 = w.Get<QLabel>("edit2");
  Gauge_ddraw = w.Get<TGauge>("Gauge_ddraw");
  Label2 = w.Get<QLabel>("Label2");
  edit1 = w.Get<QLabel>("edit1");
  gauge_3d3 = w.Get<TGauge>("gauge_3d3");
  interval_ddraw = w.Get<QLabel>("interval_ddraw");
  interval_d3d = w.Get<QLabel>("interval_d3d");
  Bevel1 = w.Get<QWidget>("Bevel1");
  Label5 = w.Get<QLabel>("Label5");
  refname1 = w.Get<QLabel>("refname1");
  ref1 = w.Get<QComboBox>("ref1");
  label_ref1_ddraw = w.Get<QLabel>("label_ref1_ddraw");
  gauge_ref1ddraw = w.Get<TGauge>("gauge_ref1ddraw");
  Label_ref1_d3d = w.Get<QLabel>("Label_ref1_d3d");
  Gauge_ref1d3d = w.Get<TGauge>("Gauge_ref1d3d");
  Label6 = w.Get<QLabel>("Label6");
  refname2 = w.Get<QLabel>("refname2");
  ref2 = w.Get<QComboBox>("ref2");
  label_ref2_ddraw = w.Get<QLabel>("label_ref2_ddraw");
  Gauge_ref2ddraw = w.Get<TGauge>("Gauge_ref2ddraw");
  Label_ref2_d3d = w.Get<QLabel>("Label_ref2_d3d");
  Gauge_ref2d3d = w.Get<TGauge>("Gauge_ref2d3d");
  Label7 = w.Get<QLabel>("Label7");
  refname3 = w.Get<QLabel>("refname3");
  ref3 = w.Get<QComboBox>("ref3");
  label_ref3_ddraw = w.Get<QLabel>("label_ref3_ddraw");
  Gauge_ref3ddraw = w.Get<TGauge>("Gauge_ref3ddraw");
  Label_ref3_d3d = w.Get<QLabel>("Label_ref3_d3d");
  Gauge_ref3d3d = w.Get<TGauge>("Gauge_ref3d3d");
  StatusBar = w.Get<QStatusBar>("StatusBar");
  StatusPanel = w.Get<QLabel>("StatusPanel");

  score_labels_ = {{{edit2, edit1},
                    {label_ref1_ddraw, Label_ref1_d3d},
                    {label_ref2_ddraw, Label_ref2_d3d},
                    {label_ref3_ddraw, Label_ref3_d3d}}};
  gauges_ = {{{Gauge_ddraw, gauge_3d3},
              {gauge_ref1ddraw, Gauge_ref1d3d},
              {Gauge_ref2ddraw, Gauge_ref2d3d},
              {Gauge_ref3ddraw, Gauge_ref3d3d}}};
  ApplyTabOrder(window, w);
}

void TForm1::BuildMenu() {
  MainMenu = new QMenuBar(this);
  MainMenu->setObjectName("MainMenu");
  setMenuBar(MainMenu);
  const std::vector<layout::Menu>& menus = layout::MainWindowLayout().menus;
  std::vector<std::string> menu_captions;
  for (const layout::Menu& menu : menus) menu_captions.emplace_back(menu.caption);
  const std::vector<std::string> marked_menus = layout::AssignAccelerators(menu_captions);
  QHash<QString, QObject*> made;
  for (std::size_t m = 0; m < menus.size(); ++m) {
    QMenu* menu = MainMenu->addMenu(QString::fromStdString(marked_menus[m]));
    menu->setObjectName(Text(menus[m].name));
    made.insert(menu->objectName(), menu);
    std::vector<std::string> captions;
    for (const layout::MenuItem& item : menus[m].items) captions.emplace_back(item.caption);
    const std::vector<std::string> marked = layout::AssignAccelerators(captions);
    for (std::size_t i = 0; i < marked.size(); ++i) {
      QAction* action = menu->addAction(QString::fromStdString(marked[i]));
      action->setObjectName(Text(menus[m].items[i].name));
      if (!menus[m].items[i].shortcut.empty()) {
        action->setShortcut(QKeySequence::fromString(Text(menus[m].items[i].shortcut)));
        // The shortcut acts wherever the focus lies in the window.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
      }
      made.insert(action->objectName(), action);
    }
  }
  File1 = qobject_cast<QMenu*>(made.value("File1"));
  Benchmark1 = qobject_cast<QMenu*>(made.value("Benchmark1"));
  About1 = qobject_cast<QMenu*>(made.value("About1"));
  StartBenchmark1 = qobject_cast<QAction*>(made.value("StartBenchmark1"));
  Exit2 = qobject_cast<QAction*>(made.value("Exit2"));
  Export1 = qobject_cast<QAction*>(made.value("Export1"));
  BenchmarkAll1 = qobject_cast<QAction*>(made.value("BenchmarkAll1"));
  Info1 = qobject_cast<QAction*>(made.value("Info1"));

  // Alt+F4 closes the window also where no window manager does it.
  auto* alt_f4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
  connect(alt_f4, &QShortcut::activated, this, [this] { close(); });
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

void TForm1::BindEvents() {
  auto bind = [this](auto* source, auto signal, void (TForm1::*handler)()) {
    connect(source, signal, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
  };
  // activated, not currentIndexChanged: only the user's own pick counts as a change.
  bind(rom_selector, &QComboBox::activated, &TForm1::rom_selectorChange);
  bind(ref1, &QComboBox::activated, &TForm1::ref1Change);
  bind(ref2, &QComboBox::activated, &TForm1::ref2Change);
  bind(ref3, &QComboBox::activated, &TForm1::ref3Change);
  bind(ToolButton4, &QToolButton::clicked, &TForm1::ToolButton4Click);
  bind(ToolButton1, &QToolButton::clicked, &TForm1::ToolButton1Click);
  bind(ToolButton2, &QToolButton::clicked, &TForm1::ToolButton2Click);
  bind(StartBenchmark1, &QAction::triggered, &TForm1::StartBenchmark1Click);
  bind(Exit2, &QAction::triggered, &TForm1::Exit2Click);
  bind(BenchmarkAll1, &QAction::triggered, &TForm1::BenchmarkAll1Click);
  bind(Info1, &QAction::triggered, &TForm1::Info1Click);
  bind(Export1, &QAction::triggered, &TForm1::Export1Click);
  connect(qApp, &QGuiApplication::commitDataRequest, this, &TForm1::CommitData,
          Qt::DirectConnection);
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
  GoToGame(PreviousGameIndex(rom_selector->currentIndex()));
}

void TForm1::ToolButton2Click() {
  GoToGame(NextGameIndex(rom_selector->currentIndex()));
}

void TForm1::GoToGame(std::optional<int> index) {
  if (!index) return;
  rom_selector->setCurrentIndex(*index);
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
  // Whatever the start did to the pass log shows in Memo1, also when the runner refused.
  ShowingPassLog(
      [this] { StartBenchmarkOrSeries(state_, *this, *series_, CheckedRepeatOption()); });
}

void TForm1::Exit2Click() {
  close();
}

void TForm1::BenchmarkAll1Click() {
  preferences_->exec();
  RefreshComparison();
}

void TForm1::Info1Click() {
  about_->exec();
}

void TForm1::Export1Click() {
  const QString json = Text(texts::kExportJsonFilter);
  const QString markdown = Text(texts::kExportMarkdownFilter);
  QString chosen_filter = json;
  QString path = QFileDialog::getSaveFileName(
      this, Text(texts::kExportTitle), ShowText(state_.base_dir) + Text(texts::kExportProposedName),
      json + QStringLiteral(";;") + markdown, &chosen_filter);
  if (path.isEmpty()) return;
  // A name typed without an extension takes the one of the chosen kind.
  if (QFileInfo(path).suffix().isEmpty()) {
    path += chosen_filter == markdown ? QStringLiteral(".md") : QStringLiteral(".json");
  }
  ExportResults(QFile::encodeName(path).toStdString());
}

void TForm1::ExportResults(const std::string& path) {
  results::ExportRecord(series_->SessionRecord(), path);
}

void TForm1::mameRead(TJvCreateProcess&, std::string_view S, bool StartsOnNewLine) {
  // The pass log is kept bounded in the program state; the hidden Memo1 takes it over at the
  // start and the end of a pass, so a flooding emulator cannot grow it line by line.
  OnOutputLine(state_, S, StartsOnNewLine);
}

void TForm1::mameTerminate(TJvCreateProcess&, uint32_t ExitCode) {
  session_close_answered_ = false;  // new scores: a later close must save them
  ShowingPassLog([this, ExitCode] { EndPass(state_, *this, *series_, ExitCode); });
}

void TForm1::ShowMachineWarning(const std::string& text) {
  const std::string line = MachineWarningLine(text);
  AddStatusToolTip(line);
  state_.pass_log.push_back(line);
}

void TForm1::RunLater(std::chrono::milliseconds delay, std::function<void()> fn) {
  QTimer::singleShot(delay, this, [fn = std::move(fn)] { RunGuarded(fn); });
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

void TForm1::AddStatusToolTip(const std::string& text) {
  status_tip_.Add(text);
  ShowStatusToolTip();
}

void TForm1::ShowStatusToolTip() {
  const std::string tip = status_tip_.Text();
  // Kept as plain text: the emulator's words are not markup.
  StatusPanel->setToolTip(tip.empty() ? QString()
                                      : QStringLiteral("<pre>") + ShowText(tip).toHtmlEscaped() +
                                            QStringLiteral("</pre>"));
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
    EndRefusedStart();
    throw;
  }
  ShowPassLog();
}

void TForm1::EndRefusedStart() {
  // The runner refused to start the emulator and nothing runs, yet the status bar would go on
  // saying that a benchmark does, under an hourglass, until the next benchmark ends. A refused
  // start beside a running pass leaves that pass's status alone; a pass end that failed before
  // any start has already said "Ready" and keeps its cursors until the next benchmark.
  if (mame_->Watching() || identification_->Identifying() ||
      StatusPanel->text() == QLatin1String(kReadyText)) {
    return;
  }
  SetStatusText(kReadyText);
  RestoreCursors();
}

void TForm1::ShowPassLog() {
  QStringList lines;
  for (const std::string& line : state_.pass_log) lines.append(ShowText(line));
  Memo1->setPlainText(lines.join('\n'));
}

int TForm1::SelectedGame() const {
  return std::max(0, rom_selector->currentIndex());
}

int TForm1::SelectedReference(int k) const {
  const QComboBox* refs[] = {ref1, ref2, ref3};
  if (k < 1 || k > 3) return 0;
  return std::max(0, refs[k - 1]->currentIndex());
}

void TForm1::SetGameCaption(const std::string& text) {
  rom_display->setTitle(ShowText(text));
}

void TForm1::SetPcDescription(const std::string& text) {
  cpu_info->setText(ShowText(text));
}

void TForm1::SetScoreText(int row, ScoreMethod method, const std::string& text) {
  if (row < 0 || row >= static_cast<int>(score_labels_.size())) return;
  score_labels_[static_cast<std::size_t>(row)][method == ScoreMethod::d3d]->setText(ShowText(text));
}

void TForm1::SetReferenceName(int k, const std::string& text) {
  QLabel* const names[] = {refname1, refname2, refname3};
  if (k >= 1 && k <= 3) names[k - 1]->setText(ShowText(text));
}

void TForm1::SetBarScale(int32_t maximum) {
  for (const auto& row : gauges_) {
    for (TGauge* gauge : row) gauge->SetMaxValue(maximum);
  }
}

void TForm1::SetScoreBar(int row, ScoreMethod method, int32_t value) {
  if (row < 0 || row >= static_cast<int>(gauges_.size())) return;
  gauges_[static_cast<std::size_t>(row)][method == ScoreMethod::d3d]->SetProgress(value);
}

PassMode TForm1::CheckedPassMode() const {
  return preferences_->CheckedPassMode();
}

void TForm1::SetStatusText(const std::string& text) {
  StatusPanel->setText(ShowText(text));
}

QList<QWidget*> TForm1::BusySet() const {
  QList<QWidget*> set = {const_cast<TForm1*>(this),
                         rom_display,
                         rom_selector,
                         ToolBar1,
                         ToolButton1,
                         ToolButton2,
                         ToolButton3,
                         ToolButton4,
                         ToolButton5,
                         ref1,
                         ref2,
                         ref3};
  set << preferences_->use_ddraw << preferences_->use_d3d;
  return set;
}

void TForm1::ShowBusyCursors() {
  for (QWidget* widget : BusySet()) widget->setCursor(Qt::WaitCursor);
}

void TForm1::RestoreCursors() {
  QList<QWidget*> set = BusySet();
  set << preferences_->use_both;
  for (QWidget* widget : set) widget->unsetCursor();
}

void TForm1::RefreshComparison() {
  ++refresh_count_;
  velotrax::RefreshComparison(state_, static_cast<ComparisonView&>(*this));
  for (const bool is_d3d : {false, true}) {
    const std::string text = SelectionIntervalText(state_, *series_, SelectedGame(), is_d3d);
    (is_d3d ? interval_d3d : interval_ddraw)->setText(QString::fromStdString(text));
  }
}

void TForm1::ShowDisclaimer() {
  disclaimer_->exec();
}

void TForm1::SelectGame(int index) {
  // The catalogue is indexed with the selection without further checks: keep it in range.
  rom_selector->setCurrentIndex(std::clamp(index, 0, rom_selector->count() - 1));
}

void TForm1::CheckPassMode(PassMode mode) {
  preferences_->CheckPassMode(mode);
}

results::RepeatOption TForm1::CheckedRepeatOption() const {
  return preferences_->CheckedRepeatOption();
}

void TForm1::SetRepeatOption(const results::RepeatOption& option) {
  preferences_->SetRepeatOption(option);
}

void TForm1::AppendReferenceItems(const std::vector<std::string>& names) {
  // One batch: one item at a time, each addition measured every item again, which made a long
  // reference file slow to start.
  QStringList items;
  for (const std::string& name : names) items.append(ShowText(name));
  if (items.isEmpty()) return;
  for (QComboBox* ref : {ref1, ref2, ref3}) ref->addItems(items);
  // The list drops down as wide as its longest name, so that names are not cut short; the three
  // lists hold the same names in the same font, so one measure serves all.
  const int width = ref1->view()->sizeHintForColumn(0) + 8;
  for (QComboBox* ref : {ref1, ref2, ref3}) ref->view()->setMinimumWidth(width);
}

void TForm1::showEvent(QShowEvent* event) {
  ApplyFrameHints(this);
  QMainWindow::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool can_close = session_close_answered_;
  if (!can_close) {
    RunGuarded([&] { FormCloseQuery(can_close); });
    // The close is abandoned first, as always; but a file that can never be written would keep
    // the window open for good, so the user may still close without saving.
    if (!can_close)
      RunGuarded([&] { can_close = AskQuestion(std::string(texts::kCloseWithoutSavingQuestion)); });
  }
  if (!can_close) {
    event->ignore();
    return;
  }
  event->accept();
  emit Closed();
}

void TForm1::CommitData(QSessionManager& manager) {
  bool can_close = false;
  RunGuarded([&] { FormCloseQuery(can_close); });
  if (!can_close) {
    manager.cancel();
    return;
  }
  session_close_answered_ = true;
  qApp->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
      // The log-off was cancelled and the user works on: the next close asks again.
      session_close_answered_ = false;
      qApp->removeEventFilter(this);
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace velotrax
