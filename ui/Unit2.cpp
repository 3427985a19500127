#include "ui/Unit2.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTextDocument>
#include <QWindow>
#include <algorithm>

#include "ui/application.h"
#include "ui/classic_group_box.h"
#include "ui/guard.h"
#include "ui/text_codec.h"
#include "ui/window_frame.h"

namespace velotrax {

namespace {

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  // Labels size themselves to their text; with a fallback font that can be a little wider.
  geometry.setWidth(std::max(geometry.width(), label->sizeHint().width()));
  label->setGeometry(geometry);
  return label;
}

QGroupBox* AddGroupBox(QWidget* parent, const char* name, const char* title, QRect geometry) {
  auto* box = new TClassicGroupBox(QString::fromLatin1(title), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(geometry);
  return box;
}

QRadioButton* AddRadioButton(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* button = new QRadioButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

// A push button that only Enter or Space while it has the focus, or a click, presses: the dialog
// has no default button.
QPushButton* AddPushButton(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// The lines were broken for a narrower font than the ones found here: the letters are closed
// up just enough that the widest line keeps to one line of a text box `width` pixels wide.
QFont FontFittingLines(QFont font, const QStringList& lines, qreal width) {
  for (int spacing = 100; spacing >= 80; --spacing) {
    font.setLetterSpacing(QFont::PercentageSpacing, spacing);
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    // A blank at the end of a line never moves to the next one.
    for (const QString& line : lines) {
      widest = std::max(widest, metrics.horizontalAdvance(line.trimmed()));
    }
    if (widest <= width) break;
  }
  return font;
}

}  // namespace

const std::vector<std::string>& TForm2::InformationLines() {
  static const std::vector<std::string> lines = {
      "Velotrax does not reinvent the wheel but uses the method of its ",
      "originator, who gets all the credit for the best way to benchmark MAME ",
      "roms.",
      "",
      "",
      "Methodology:",
      "",
      "There are two possible benchmark passes - D3D and DirectDraw ",
      "rendering.",
      "Each benchmark runs 5000 frames with the following mame options:",
      "",
      "DirectDraw:",
      "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -",
      "skip_gameinfo -screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -",
      "nomouse -nojoy -nogun -nosleep -rompath roms -nod3d",
      "",
      "D3D:",
      "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -",
      "skip_gameinfo -screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -",
      "nomouse -nojoy -nogun -nosleep -rompath roms -d3d -d3dfilter 0 -d3",
      "dtexmanage -d3dprescale none",
      "",
      "Because the originator's method is used as it stands, Velotrax ",
      "runs all games in 1280x1024x32bppx60Hz and 5:4 aspect ratio.",
      "Most LCD and CRT's should have no problem when running at this ",
      "resolution and frequency.",
      "",
      "Although these benchmarks are not indicative of in-game performance that ",
      "may be achieved when actually playing the game, it should give a good ",
      "indication for benchmarking.",
      "",
      "Chosen Games:",
      "",
      "The games chosen make use of the major drivers and presumably get ",
      "identical frames each and every time they run. (no random demo etc...)",
      "",
      "",
      "Disclaimer:",
      "",
      "Be aware that benchmarking puts a lot of strain on the CPU which can ",
      "overheat. Make sure proper cooling is applied.",
      "The used resolution and frequency can also damage monitors which do not ",
      "support this settings.",
      "The author of Velotrax cannot be held responsible for any damage ",
      "occured by using Velotrax. ",
      "",
  };
  return lines;
}

TForm2::TForm2(StoredState& state, QWidget* main_window)
    : QDialog(main_window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      state_(state) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Preferences"));
  setFont(WindowFont());
  setFixedSize(407, 321);
  BuildControls();
}

void TForm2::BuildControls() {
  ok_button = AddPushButton(this, "ok_button", "OK", QRect(328, 293, 75, 25));
  cancel_button = AddPushButton(this, "cancel_button", "Cancel", QRect(248, 293, 75, 25));

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(0, 0, 409, 289);
  auto* options_page = new QWidget;
  options_page->setObjectName(QStringLiteral("TabSheet1"));
  auto* information_page = new QWidget;
  information_page->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(options_page, QStringLiteral("Options"));
  PageControl1->addTab(information_page, QStringLiteral("Information"));
  PageControl1->setCurrentIndex(0);

  QGroupBox* options = AddGroupBox(options_page, "GroupBox1", "Options", QRect(4, 4, 390, 101));
  AddLabel(options, "Label1", "PC Desciption :", QRect(16, 26, 73, 13));
  AddLabel(options, "Label2", "Mame Binary :", QRect(16, 59, 67, 13));
  pc_description = new QLineEdit(options);
  pc_description->setObjectName(QStringLiteral("pc_description"));
  pc_description->setGeometry(96, 24, 289, 21);
  mamefile_selector = new TJvFilenameEdit(options);
  mamefile_selector->setObjectName(QStringLiteral("mamefile_selector"));
  mamefile_selector->setGeometry(96, 56, 289, 21);
  mamefile_selector->SetClipboardCommands({});
  mamefile_selector->SetAddQuotes(false);
  mamefile_selector->SetFilter(QStringLiteral("All files (*.exe)|*.exe"));
  mamefile_selector->SetDialogOptions({TOpenOption::ofHideReadOnly, TOpenOption::ofNoChangeDir});
  mamefile_selector->SetDialogTitle(QStringLiteral("Quillbox"));
  mamefile_selector->SetDirectInput(false);

  QGroupBox* method =
      AddGroupBox(options_page, "GroupBox2", "DirectX Method", QRect(4, 112, 161, 81));
  use_ddraw = AddRadioButton(method, "use_ddraw", "Use DDraw", QRect(16, 24, 113, 17));
  use_d3d = AddRadioButton(method, "use_d3d", "Use D3D", QRect(16, 40, 89, 17));
  use_both = AddRadioButton(method, "use_both", "Use DDraw + D3D", QRect(16, 56, 121, 17));
  use_ddraw->setChecked(true);

  // Below the described boxes, so that none of them moves.
  QGroupBox* repeat =
      AddGroupBox(options_page, "GroupBox4", "Repeated Passes", QRect(4, 198, 390, 58));
  repeat_passes =
      new QCheckBox(QStringLiteral("Repeat each pass until its result is known within ±"), repeat);
  repeat_passes->setObjectName(QStringLiteral("repeat_passes"));
  repeat_passes->setGeometry(16, 15, repeat_passes->sizeHint().width(), 17);
  repeat_percent = new QDoubleSpinBox(repeat);
  repeat_percent->setObjectName(QStringLiteral("repeat_percent"));
  repeat_percent->setRange(results::kLowestRepeatPercent, results::kHighestRepeatPercent);
  repeat_percent->setDecimals(1);
  repeat_percent->setSingleStep(0.5);
  repeat_percent->setGeometry(repeat_passes->geometry().right() + 2, 14, 52, 19);
  AddLabel(repeat, "Label4", "%", QRect(repeat_percent->geometry().right() + 4, 17, 12, 13));
  AddLabel(repeat, "Label5", "Most passes :", QRect(34, 38, 67, 13));
  repeat_most = new QSpinBox(repeat);
  repeat_most->setObjectName(QStringLiteral("repeat_most"));
  repeat_most->setRange(1, results::kMostRepeatPasses);
  repeat_most->setGeometry(repeat_percent->geometry().left(), 35, 52, 19);
  connect(repeat_passes, &QCheckBox::toggled, this, [this](bool on) {
    repeat_percent->setEnabled(on);
    repeat_most->setEnabled(on);
  });
  SetRepeatOption({});

  QGroupBox* information =
      AddGroupBox(information_page, "GroupBox3", "Benchmark Information", QRect(0, 4, 414, 249));
  Memo1 = new QPlainTextEdit(information);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(16, 24, 385, 217);
  Memo1->setReadOnly(true);
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QStringList lines;
  for (const std::string& line : InformationLines()) lines << QString::fromStdString(line);
  // Where the text wraps: the box less its frame, its scroll bar and the text's margins, and a
  // pixel for the cursor.
  const qreal text_width =
      Memo1->width() - 2 * Memo1->frameWidth() -
      Memo1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Memo1->verticalScrollBar()) -
      2 * Memo1->document()->documentMargin() - 1;
  Memo1->setFont(FontFittingLines(Memo1->font(), lines, text_width));
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));

  setTabOrder(ok_button, cancel_button);
  setTabOrder(cancel_button, PageControl1);
  setTabOrder(pc_description, mamefile_selector);
  setTabOrder(use_ddraw, use_d3d);
  setTabOrder(use_d3d, use_both);
  setTabOrder(use_both, repeat_passes);
  setTabOrder(repeat_passes, repeat_percent);
  setTabOrder(repeat_percent, repeat_most);
  // The first control in tab order has the focus when the dialog first becomes active.
  ok_button->setFocus();

  connect(ok_button, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { ok_buttonClick(); }); });
  connect(cancel_button, &QPushButton::clicked, this,
          [this] { RunGuarded([this] { cancel_buttonClick(); }); });
}

PassMode TForm2::CheckedPassMode() const {
  if (use_ddraw->isChecked()) return PassMode::ddraw;
  if (use_d3d->isChecked()) return PassMode::d3d;
  if (use_both->isChecked()) return PassMode::both;
  return PassMode::none;
}

void TForm2::CheckPassMode(PassMode mode) {
  // The buttons are exclusive within their group box: checking one unchecks the others. There
  // is always one checked, so "none" leaves them as they are.
  switch (mode) {
    case PassMode::ddraw:
      use_ddraw->setChecked(true);
      break;
    case PassMode::d3d:
      use_d3d->setChecked(true);
      break;
    case PassMode::both:
      use_both->setChecked(true);
      break;
    case PassMode::none:
      break;
  }
}

results::RepeatOption TForm2::CheckedRepeatOption() const {
  return {repeat_passes->isChecked(), repeat_percent->value(), repeat_most->value()};
}

void TForm2::SetRepeatOption(const results::RepeatOption& option) {
  repeat_passes->setChecked(option.on);
  repeat_percent->setValue(option.percent);
  repeat_most->setValue(option.most_passes);
  repeat_percent->setEnabled(option.on);
  repeat_most->setEnabled(option.on);
}

void TForm2::FormShow() {
  // Until the catalogue is built there is no description to show or to keep.
  shown_description_ = state_.games.empty() ? std::string() : state_.games[0].cpu;
  pc_description->setText(ShowText(shown_description_));
  mamefile_selector->SetText(state_.base_dir + state_.mame_file);
}

void TForm2::ok_buttonClick() {
  state_.mame_file = mamefile_selector->ShortFileName();
  if (!state_.games.empty()) {
    state_.games[0].cpu = TakeText(pc_description->text(), shown_description_);
  }
  done(QDialog::Rejected);
}

void TForm2::cancel_buttonClick() {
  done(QDialog::Rejected);
}

void TForm2::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    RunGuarded([this] { FormShow(); });
    if (left_at_) {
      // The window system is asked for the frame's place, not the client's: shown again, the
      // dialog would otherwise come up lower and to the right by the size of its frame.
      windowHandle()->setFramePosition(*left_at_);
    } else if (QWidget* main_window = parentWidget()) {
      PlaceFrame(this, [main_window](QSize frame) {
        const QWindow* handle = main_window->windowHandle();
        const QRect over = handle != nullptr ? handle->frameGeometry() : main_window->geometry();
        return QPoint(over.left() + (over.width() - frame.width()) / 2,
                      over.top() + (over.height() - frame.height()) / 2);
      });
    }
    ApplyFrameHints(this);
  }
  QDialog::showEvent(event);
}

void TForm2::done(int result) {
  // Taken while the dialog is still on the screen: once hidden, its frame is no longer known.
  if (isVisible() && windowHandle() != nullptr) left_at_ = windowHandle()->framePosition();
  QDialog::done(result);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // No cancel button: Escape does nothing.
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // No default button: Enter presses the focused button and nothing else.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
        button->click();
      }
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace velotrax
