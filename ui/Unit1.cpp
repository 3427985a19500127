#include "ui/Unit1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QRadioButton>
#include <QSessionManager>
#include <QSet>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <tuple>

#include "base/errors.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/Unit4.h"
#include "ui/application.h"
#include "ui/classic_group_box.h"
#include "ui/forms.h"
#include "ui/guard.h"
#include "ui/icons.h"
#include "ui/text_codec.h"
#include "ui/window_frame.h"

namespace velotrax {

namespace {

// Asked after the error box of a close that could not save.
constexpr const char* kCloseWithoutSavingQuestion =
    "Not everything could be saved (see the previous message).\n\n"
    "Close Velotrax without saving? What was not saved is lost.";

constexpr int kClientWidth = 538;
constexpr int kClientHeight = 371;

// A sunken (etched) horizontal line along the bottom edge of its box.
class TBevel : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int bottom = height() - 1;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, bottom - 1, width() - 1, bottom - 1);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, bottom, width() - 1, bottom);
  }
};

// The gap between two groups of tool buttons, with an etched divider in its middle.
class TToolSeparator : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int x = width() / 2 - 1;
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(x, 2, x, height() - 3);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(x + 1, 2, x + 1, height() - 3);
  }
};

// Items of a selector's list, 13 pixels high.
class TSelectorItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), 13};
  }
};

QFont RegularFont() {
  return WindowFont();
}

QFont BoldFont() {
  QFont font = WindowFont();
  font.setBold(true);
  return font;
}

// Label kinds of the layout.
enum LabelStyle { kPlain = 0, kBold = 1, kRight = 2, kSizedToText = 4 };

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                  int style) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  // Names come from the files: "<b>" in a description is shown, not obeyed.
  label->setTextFormat(Qt::PlainText);
  label->setFont((style & kBold) ? BoldFont() : RegularFont());
  label->setAlignment(((style & kRight) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  if (style & kSizedToText) {
    // Sized to its text: the laid-out width is what the text needs in the original font; where
    // the fallback font is wider the label grows rather than cut its text.
    geometry.setWidth(std::max(geometry.width(), label->fontMetrics().horizontalAdvance(text)));
  }
  label->setGeometry(geometry);
  return label;
}

// A new child widget with its object name, the regular font and its place in the layout.
template <typename Widget>
Widget* MakeChild(QWidget* parent, const char* name, QRect geometry) {
  auto* widget = new Widget(parent);
  widget->setObjectName(name);
  widget->setFont(RegularFont());
  widget->setGeometry(geometry);
  return widget;
}

TGauge* MakeGauge(QWidget* parent, const char* name, QRect geometry, TColor colour) {
  auto* gauge = MakeChild<TGauge>(parent, name, geometry);
  gauge->SetShowText(false);
  gauge->SetForeColor(colour);
  return gauge;
}

QComboBox* MakeSelector(QWidget* parent, const char* name, QRect geometry, int visible_items) {
  auto* combo = MakeChild<QComboBox>(parent, name, geometry);
  // A list that drops down below the box with a fixed number of rows, rather than a menu
  // centred on the current item that fills the screen height.
  combo->setStyleSheet("QComboBox { combobox-popup: 0; }");
  combo->setItemDelegate(new TSelectorItemDelegate(combo));
  combo->setMaxVisibleItems(visible_items);
  // The list was set up before the style sheet took the menu away, without its scroll bar:
  // a longer list than fits shows one, so that the items beyond the last row can be found.
  combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  combo->setFocusPolicy(Qt::StrongFocus);
  return combo;
}

// The object names of the widgets of one reference block, as the layout has them.
struct ReferenceBlockNames {
  const char *title, *computer, *selector, *ddraw_score, *ddraw_gauge, *d3d_score, *d3d_gauge;
};

// One reference block of the score box: the title, the reference computer's name, its
// selector, and the DDraw and D3D scores with their gauges. `top` is the title's row; the
// selector sits on a row of its own.
std::tuple<QLabel*, QLabel*, QComboBox*, QLabel*, TGauge*, QLabel*, TGauge*> MakeReferenceBlock(
    QWidget* box, const QString& title, int top, int selector_top,
    const ReferenceBlockNames& names) {
  const TColor navy = RGBColor(0, 0, 128);
  const TColor maroon = RGBColor(128, 0, 0);
  QLabel* title_label = MakeLabel(box, names.title, title, {8, top, 75, 13}, kBold | kSizedToText);
  QLabel* computer = MakeLabel(box, names.computer, "", {168, top, 353, 13}, kPlain);
  QComboBox* selector = MakeSelector(box, names.selector, {8, selector_top, 113, 21}, 8);
  QLabel* ddraw_score = MakeLabel(box, names.ddraw_score, "N/A", {128, top + 16, 33, 13}, kPlain);
  TGauge* ddraw_gauge = MakeGauge(box, names.ddraw_gauge, {168, top + 18, 329, 9}, navy);
  QLabel* d3d_score = MakeLabel(box, names.d3d_score, "N/A", {128, top + 32, 33, 13}, kPlain);
  TGauge* d3d_gauge = MakeGauge(box, names.d3d_gauge, {168, top + 34, 329, 9}, maroon);
  return {title_label, computer, selector, ddraw_score, ddraw_gauge, d3d_score, d3d_gauge};
}

QToolButton* MakeToolButton(const char* name, const QPixmap& image, const QString& hint) {
  auto* button = new QToolButton;
  button->setObjectName(name);
  button->setIcon(QIcon(image));
  button->setIconSize(QSize(32, 32));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setToolTip(hint);
  button->resize(39, 38);
  return button;
}

QWidget* MakeSeparator(const char* name) {
  auto* separator = new TToolSeparator;
  separator->setObjectName(name);
  separator->resize(8, 38);
  return separator;
}

}  // namespace

QStringList AssignAccelerators(const QStringList& captions) {
  QStringList marked;
  QSet<QChar> taken;
  for (const QString& caption : captions) {
    QString text = caption;
    text.replace('&', "&&");
    for (qsizetype i = 0; i < text.size(); ++i) {
      const QChar c = text[i];
      if (!c.isLetterOrNumber() || taken.contains(c.toUpper())) continue;
      taken.insert(c.toUpper());
      text.insert(i, '&');
      break;
    }
    marked.append(text);
  }
  return marked;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName("Form1");
  setWindowTitle("Velotrax 1.0");
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
}

TForm1::~TForm1() {
  // No runner event may reach a window that is going away; a probe still running is ended.
  identification_.reset();
  series_.reset();
  mame_.reset();
  ui_thread_.reset();
}

void TForm1::BuildControls() {
  client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  ToolBar1 = new TToolBar(client);
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setGeometry(0, 0, kClientWidth, 44);
  ToolButton4 = MakeToolButton("ToolButton4", StartBenchmarkImage(), "Start Benchmark");
  ToolButton5 = MakeSeparator("ToolButton5");
  ToolButton1 = MakeToolButton("ToolButton1", PreviousRomImage(), "Previous Rom");
  ToolButton2 = MakeToolButton("ToolButton2", NextRomImage(), "Next Rom");
  ToolButton3 = MakeSeparator("ToolButton3");
  for (QWidget* item :
       {static_cast<QWidget*>(ToolButton4), ToolButton5, static_cast<QWidget*>(ToolButton1),
        static_cast<QWidget*>(ToolButton2), ToolButton3}) {
    ToolBar1->AddItem(item);
  }

  Label4 = MakeLabel(client, "Label4", "Selected Rom:", {8, 50, 70, 13}, kSizedToText);
  rom_selector = MakeSelector(client, "rom_selector", {89, 48, 88, 21}, 35);
  for (int i = 0; i < game_count; ++i) rom_selector->addItem(ShowText(GameSelectorItem(i)));
  rom_selector->setCurrentIndex(0);

  Memo1 = new QPlainTextEdit(client);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(448, 40, 33, 33);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVisible(false);

  rom_display = new TClassicGroupBox(client);
  rom_display->setObjectName("rom_display");
  rom_display->setFont(BoldFont());
  rom_display->setGeometry(0, 72, kClientWidth, 280);
  QWidget* box = rom_display;

  Label1 = MakeLabel(box, "Label1", "This Computer:", {8, 24, 86, 13}, kBold | kSizedToText);
  cpu_info = MakeLabel(box, "cpu_info", "", {168, 24, 337, 13}, kPlain);
  Label3 = MakeLabel(box, "Label3", "DDraw :", {64, 48, 57, 13}, kRight);
  edit2 = MakeLabel(box, "edit2", "N/A", {128, 48, 33, 13}, kPlain);
  Gauge_ddraw = MakeGauge(box, "Gauge_ddraw", {168, 50, 329, 9}, RGBColor(0, 0, 255));
  Label2 = MakeLabel(box, "Label2", " D3D :", {64, 64, 57, 13}, kRight);
  edit1 = MakeLabel(box, "edit1", "N/A", {128, 64, 33, 13}, kPlain);
  gauge_3d3 = MakeGauge(box, "gauge_3d3", {168, 66, 329, 9}, RGBColor(255, 0, 0));
  // Right of the bars, in a smaller font: the room there is narrow.
  interval_ddraw = MakeLabel(box, "interval_ddraw", "", {499, 48, 37, 13}, kPlain);
  interval_d3d = MakeLabel(box, "interval_d3d", "", {499, 64, 37, 13}, kPlain);
  for (QLabel* label : {interval_ddraw, interval_d3d}) {
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 7 / 8);
    label->setFont(font);
  }
  Bevel1 = new TBevel(box);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFont(RegularFont());
  Bevel1->setGeometry(8, 80, 521, 9);

  std::tie(Label5, refname1, ref1, label_ref1_ddraw, gauge_ref1ddraw, Label_ref1_d3d,
           Gauge_ref1d3d) =
      MakeReferenceBlock(box, "Reference 1:", 96, 116,
                         {"Label5", "refname1", "ref1", "label_ref1_ddraw", "gauge_ref1ddraw",
                          "Label_ref1_d3d", "Gauge_ref1d3d"});
  std::tie(Label6, refname2, ref2, label_ref2_ddraw, Gauge_ref2ddraw, Label_ref2_d3d,
           Gauge_ref2d3d) =
      MakeReferenceBlock(box, "Reference 2:", 160, 181,
                         {"Label6", "refname2", "ref2", "label_ref2_ddraw", "Gauge_ref2ddraw",
                          "Label_ref2_d3d", "Gauge_ref2d3d"});
  std::tie(Label7, refname3, ref3, label_ref3_ddraw, Gauge_ref3ddraw, Label_ref3_d3d,
           Gauge_ref3d3d) =
      MakeReferenceBlock(box, "Reference 3:", 224, 245,
                         {"Label7", "refname3", "ref3", "label_ref3_ddraw", "Gauge_ref3ddraw",
                          "Label_ref3_d3d", "Gauge_ref3d3d"});

  for (QComboBox* ref : {ref1, ref2, ref3}) ref->addItem("Select reference");
  score_labels_ = {{{edit2, edit1},
                    {label_ref1_ddraw, Label_ref1_d3d},
                    {label_ref2_ddraw, Label_ref2_d3d},
                    {label_ref3_ddraw, Label_ref3_d3d}}};
  gauges_ = {{{Gauge_ddraw, gauge_3d3},
              {gauge_ref1ddraw, Gauge_ref1d3d},
              {Gauge_ref2ddraw, Gauge_ref2d3d},
              {Gauge_ref3ddraw, Gauge_ref3d3d}}};

  StatusBar = new QStatusBar(client);
  StatusBar->setObjectName("StatusBar");
  StatusBar->setSizeGripEnabled(false);
  StatusBar->setGeometry(0, 352, kClientWidth, 19);
  StatusPanel = new QLabel("Status :");
  StatusPanel->setObjectName("StatusPanel");
  StatusPanel->setTextFormat(Qt::PlainText);
  StatusBar->addWidget(StatusPanel, 1);

  // Only the four selectors take the keyboard focus, in this order.
  setTabOrder(ref1, ref2);
  setTabOrder(ref2, ref3);
  setTabOrder(ref3, rom_selector);
}

void TForm1::BuildMenu() {
  MainMenu = new QMenuBar(this);
  MainMenu->setObjectName("MainMenu");
  setMenuBar(MainMenu);
  const QStringList menus = AssignAccelerators({"File", "Options", "About"});
  File1 = MainMenu->addMenu(menus[0]);
  File1->setObjectName("File1");
  Benchmark1 = MainMenu->addMenu(menus[1]);
  Benchmark1->setObjectName("Benchmark1");
  About1 = MainMenu->addMenu(menus[2]);
  About1->setObjectName("About1");

  const QStringList file_items =
      AssignAccelerators({"Start Benchmark", "Exit", "Export results..."});
  StartBenchmark1 = File1->addAction(file_items[0]);
  StartBenchmark1->setObjectName("StartBenchmark1");
  // F1 acts wherever the focus lies in the window.
  StartBenchmark1->setShortcut(QKeySequence(Qt::Key_F1));
  StartBenchmark1->setShortcutContext(Qt::WindowShortcut);
  addAction(StartBenchmark1);
  Exit2 = File1->addAction(file_items[1]);
  Exit2->setObjectName("Exit2");
  // After the described items, so that none of them moves.
  Export1 = File1->addAction(file_items[2]);
  Export1->setObjectName("Export1");
  BenchmarkAll1 = Benchmark1->addAction(AssignAccelerators({"Preferences"})[0]);
  BenchmarkAll1->setObjectName("BenchmarkAll1");
  Info1 = About1->addAction(AssignAccelerators({"Info"})[0]);
  Info1->setObjectName("Info1");

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
  LoadSettings(state_, *this);
  if (Form2 != nullptr) Form2->SetRepeatOption(results::ReadRepeatOption(*state_.settings));
  BuildCatalogue(state_);
  if (FileIsPresent(state_.base_dir + "mark.dat")) LoadScores(state_);
  LoadReferenceItems();
  RefreshComparison();
  state_.current_game = 1;
  state_.pass_is_d3d = true;
  state_.d3d_options = std::string(D3DOptionString);
  state_.ddraw_options = std::string(DDrawOptionString);
  RefreshComparison();
}

void TForm1::FormCloseQuery(bool& CanClose) {
  SaveSettings(state_, *this);
  if (Form2 != nullptr) results::WriteRepeatOption(*state_.settings, Form2->CheckedRepeatOption());
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
  const int index = rom_selector->currentIndex();
  if (index < 1) return;
  rom_selector->setCurrentIndex(index - 1);
  ReloadChangedScores(state_);
  RefreshComparison();
}

void TForm1::ToolButton2Click() {
  const int index = rom_selector->currentIndex();
  if (index >= game_count - 1) return;
  rom_selector->setCurrentIndex(index + 1);
  ReloadChangedScores(state_);
  RefreshComparison();
}

void TForm1::ToolButton4Click() {
  StartBenchmark1Click();
}

void TForm1::StartBenchmark1Click() {
  // The status bar's tool-tip tells about the passes of the latest benchmark only.
  if (!mame_->Watching() && !identification_->Identifying()) StatusPanel->setToolTip({});
  series_->EndIfIdle();
  // Whatever the start did to the pass log shows in Memo1, also when the runner refused.
  ShowingPassLog([this] {
    const results::RepeatOption option =
        Form2 != nullptr ? Form2->CheckedRepeatOption() : results::RepeatOption{};
    // A start beside a running series is refused by the series, which keeps its progress shown.
    if (option.on || series_->Running()) {
      series_->Start(option);
    } else {
      StartBenchmark(state_, *this);
    }
  });
}

void TForm1::Exit2Click() {
  close();
}

void TForm1::BenchmarkAll1Click() {
  if (Form2 == nullptr) return;
  Form2->exec();
  RefreshComparison();
}

void TForm1::Info1Click() {
  if (Form4 != nullptr) Form4->exec();
}

void TForm1::Export1Click() {
  const QString json = QStringLiteral("JSON (*.json)");
  const QString markdown = QStringLiteral("Markdown (*.md)");
  QString chosen_filter = json;
  QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Export results"),
      ShowText(state_.base_dir) + QStringLiteral("velotrax-results.json"),
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
  if (series_->Running()) {
    ShowingPassLog([this, ExitCode] { series_->PassEnded(ExitCode); });
    return;
  }
  // The pass's game and method, before a Direct3D pass due next takes their place.
  const int game = state_.current_game;
  const bool is_d3d = state_.pass_is_d3d;
  ShowingPassLog([this, ExitCode] { OnPassEnd(state_, *this, ExitCode); });
  if (game > 0 && static_cast<std::size_t>(game) < state_.games.size()) {
    const Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
    series_->KeepSinglePass(game, is_d3d, is_d3d ? entry.d3d : entry.ddraw);
  }
}

void TForm1::ShowMachineWarning(const std::string& text) {
  const std::string line = "Warning: " + text;
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
  if (!StatusPanel->toolTip().contains(ShowText(emulator).toHtmlEscaped())) {
    AddStatusToolTip(emulator);
  }
}

void TForm1::AddStatusToolTip(const std::string& text) {
  QString tip = StatusPanel->toolTip();
  if (!tip.isEmpty()) tip.chop(QStringLiteral("</pre>").size());
  // Kept as plain text: the emulator's words are not markup.
  tip = (tip.isEmpty() ? QStringLiteral("<pre>") : tip + QLatin1Char('\n')) +
        ShowText(text).toHtmlEscaped() + QStringLiteral("</pre>");
  StatusPanel->setToolTip(tip);
}

void TForm1::ShowingPassLog(const std::function<void()>& step) {
  try {
    try {
      step();
    } catch (const EOSError& e) {
      // The emulator could not be started. The error box keeps the system's own words; which
      // file it was goes beside them.
      AddStatusToolTip(EmulatorFileProblem(state_.base_dir + state_.mame_file, e.ErrorCode()) +
                       "; choose another in Options > Preferences.");
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
  return Form2 != nullptr ? Form2->CheckedPassMode() : PassMode::none;
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
  if (Form2 != nullptr) set << Form2->use_ddraw << Form2->use_d3d;
  return set;
}

void TForm1::ShowBusyCursors() {
  for (QWidget* widget : BusySet()) widget->setCursor(Qt::WaitCursor);
}

void TForm1::RestoreCursors() {
  QList<QWidget*> set = BusySet();
  if (Form2 != nullptr) set << Form2->use_both;
  for (QWidget* widget : set) widget->unsetCursor();
}

void TForm1::RefreshComparison() {
  ++refresh_count_;
  velotrax::RefreshComparison(state_, static_cast<ComparisonView&>(*this));
  const int game = SelectedGame();
  const bool is_game = game > 0 && static_cast<std::size_t>(game) < state_.games.size();
  for (const bool is_d3d : {false, true}) {
    std::string text;
    if (is_game) {
      const Tgameinfo& entry = state_.games[static_cast<std::size_t>(game)];
      text = series_->IntervalText(game, is_d3d, is_d3d ? entry.d3d : entry.ddraw);
    }
    (is_d3d ? interval_d3d : interval_ddraw)->setText(QString::fromStdString(text));
  }
}

void TForm1::ShowDisclaimer() {
  if (Form3 != nullptr) Form3->exec();
}

void TForm1::SelectGame(int index) {
  // The catalogue is indexed with the selection without further checks: keep it in range.
  rom_selector->setCurrentIndex(std::clamp(index, 0, rom_selector->count() - 1));
}

void TForm1::CheckPassMode(PassMode mode) {
  if (Form2 != nullptr) Form2->CheckPassMode(mode);
}

void TForm1::LoadReferenceItems() {
  // The selectors take the names in one batch once the file has been read, also when the read
  // breaks off part way: one item at a time, each addition measured every item again, which
  // made a long reference file slow to start.
  QStringList names;
  try {
    LoadReferences(state_, [&names](const std::string& name) { names.append(ShowText(name)); });
  } catch (...) {
    AppendReferenceItems(names);
    throw;
  }
  AppendReferenceItems(names);
}

void TForm1::AppendReferenceItems(const QStringList& names) {
  if (names.isEmpty()) return;
  for (QComboBox* ref : {ref1, ref2, ref3}) ref->addItems(names);
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
    if (!can_close) RunGuarded([&] { can_close = AskQuestion(kCloseWithoutSavingQuestion); });
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
