#include "ui/Unit3.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include "ui/application.h"
#include "ui/guard.h"
#include "ui/layout_widgets.h"
#include "ui/window_frame.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax {

QStringList TForm3::DisclaimerLines() {
  QStringList lines;
  for (const std::string& line : texts::DisclaimerLines()) lines << QString::fromStdString(line);
  return lines;
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName("Form3");
  const layout::Window& window = layout::DisclaimerLayout();
  setWindowTitle(QString::fromUtf8(window.caption.data(), window.caption.size()));
  // A title bar without system menu or buttons; the only way out is "I Agree".
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(WindowFont());
  setFixedSize(window.client_width, window.client_height);

  const LaidOutWidgets w = BuildLayout(window, this);
  Memo1 = w.Get<QPlainTextEdit>("Memo1");
  Button1 = w.Get<QPushButton>("Button1");
  ApplyTabOrder(window, w);
  connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });
}

void TForm3::Button1Click() {
  accept();
}

void TForm3::reject() {
  Button1Click();
}

void TForm3::closeEvent(QCloseEvent* event) {
  event->accept();
  Button1Click();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  // In the text box Enter and Escape do nothing; the button takes them when it has the focus.
  switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TForm3::showEvent(QShowEvent* event) {
  if (!shown_before_) {
    shown_before_ = true;
    PlaceFrame(this, DesktopCentre);
  }
  ApplyFrameHints(this);
  QDialog::showEvent(event);
}

}  // namespace velotrax
