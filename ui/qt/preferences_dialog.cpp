#include "ui/qt/preferences_dialog.h"

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

#include "ui/qt/application.h"
#include "ui/qt/guard.h"
#include "ui/qt/layout_widgets.h"
#include "ui/qt/text_codec.h"
#include "ui/qt/window_frame.h"
#include "ui/window_actions.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax {

namespace {

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
  return texts::InformationLines();
}

TForm2::TForm2(StoredState& state, QWidget* main_window)
    : QDialog(main_window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      state_(state) {
  setObjectName(QStringLiteral("Form2"));
  const layout::Window& window = layout::PreferencesLayout();
  setWindowTitle(QString::fromUtf8(window.caption.data(), window.caption.size()));
  setFont(WindowFont());
  setFixedSize(window.client_width, window.client_height);
  BuildControls();
}

void TForm2::BuildControls() {
  const layout::Window& window = layout::PreferencesLayout();
  const LaidOutWidgets w = BuildLayout(window, this);
  // No default button: only Enter or Space while a button has the focus, or a click, presses it.
  ok_button = w.Get<QPushButton>("ok_button");
  cancel_button = w.Get<QPushButton>("cancel_button");
  for (QPushButton* button : {ok_button, cancel_button}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  PageControl1 = w.Get<QTabWidget>("PageControl1");
  pc_description = w.Get<QLineEdit>("pc_description");
  mamefile_selector = w.Get<TJvFilenameEdit>("mamefile_selector");
  mamefile_selector->SetClipboardCommands({});
  mamefile_selector->SetAddQuotes(false);
  mamefile_selector->SetFilter(QString::fromUtf8(texts::kEmulatorFilter.data()));
  mamefile_selector->SetDialogOptions({TOpenOption::ofHideReadOnly, TOpenOption::ofNoChangeDir});
  mamefile_selector->SetDialogTitle(QString::fromUtf8(texts::kEmulatorDialogTitle.data()));
  mamefile_selector->SetDirectInput(false);
  use_ddraw = w.Get<QRadioButton>("use_ddraw");
  use_d3d = w.Get<QRadioButton>("use_d3d");
  use_both = w.Get<QRadioButton>("use_both");

  repeat_passes = w.Get<QCheckBox>("repeat_passes");
  repeat_percent = w.Get<QDoubleSpinBox>("repeat_percent");
  repeat_most = w.Get<QSpinBox>("repeat_most");
  repeat_steady = w.Get<QCheckBox>("repeat_steady");
  repeat_percent->setRange(results::kLowestRepeatPercent, results::kHighestRepeatPercent);
  repeat_percent->setDecimals(1);
  repeat_percent->setSingleStep(0.5);
  repeat_most->setRange(1, results::kMostRepeatPasses);
  // Where the check box's text needs more room than laid out, what follows it moves right.
  const int beyond = repeat_passes->geometry().right() + 2 - repeat_percent->x();
  if (beyond > 0) {
    for (QWidget* follower : {static_cast<QWidget*>(repeat_percent), w.Get<QWidget>("Label4"),
                              w.Get<QWidget>("Label5"), static_cast<QWidget*>(repeat_most)}) {
      follower->move(follower->x() + beyond, follower->y());
    }
  }
  connect(repeat_passes, &QCheckBox::toggled, this, [this](bool on) {
    repeat_percent->setEnabled(on);
    repeat_most->setEnabled(on);
    repeat_steady->setEnabled(on);
  });
  SetRepeatOption({});

  Memo1 = w.Get<QPlainTextEdit>("Memo1");
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  const QStringList lines = Memo1->toPlainText().split(QLatin1Char('\n'));
  // Where the text wraps: the box less its frame, its scroll bar and the text's margins, and a
  // pixel for the cursor.
  const qreal text_width =
      Memo1->width() - 2 * Memo1->frameWidth() -
      Memo1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Memo1->verticalScrollBar()) -
      2 * Memo1->document()->documentMargin() - 1;
  Memo1->setFont(FontFittingLines(Memo1->font(), lines, text_width));

  ApplyTabOrder(window, w);
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
  return {repeat_passes->isChecked(), repeat_percent->value(), repeat_most->value(),
          repeat_steady->isChecked()};
}

void TForm2::SetRepeatOption(const results::RepeatOption& option) {
  repeat_passes->setChecked(option.on);
  repeat_percent->setValue(option.percent);
  repeat_most->setValue(option.most_passes);
  repeat_steady->setChecked(option.steady);
  repeat_percent->setEnabled(option.on);
  repeat_most->setEnabled(option.on);
  repeat_steady->setEnabled(option.on);
}

void TForm2::FormShow() {
  // Until the catalogue is built there is no description to show or to keep.
  const PreferencesTexts shown = PreferencesOpening(state_);
  shown_description_ = shown.pc_description;
  pc_description->setText(ShowText(shown_description_));
  mamefile_selector->SetText(shown.emulator_path);
}

void TForm2::ok_buttonClick() {
  PreferencesOk(state_, mamefile_selector->ShortFileName(),
                TakeText(pc_description->text(), shown_description_));
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
