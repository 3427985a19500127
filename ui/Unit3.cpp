#include "ui/Unit3.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include "ui/application.h"
#include "ui/guard.h"
#include "ui/window_frame.h"

namespace velotrax {

QStringList TForm3::DisclaimerLines() {
  return {
      "",
      "Be aware that benchmarking puts a lot of strain on the CPU which can ",
      "overheat. Make sure proper cooling is applied.",
      "The used resolution and frequency (1280x1024x32 @60Hz) can also ",
      "damage monitors which do not support this settings.",
      "",
      "The author of Velotrax cannot be held responsible for any damage ",
      "occured by using Velotrax. ",
      "",
      "",
  };
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName("Form3");
  setWindowTitle("Disclaimer");
  // A title bar without system menu or buttons; the only way out is "I Agree".
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(WindowFont());
  setFixedSize(361, 165);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(0, 0, 361, 129);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setPlainText(DisclaimerLines().join('\n'));

  Button1 = new QPushButton("I Agree", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(280, 136, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });

  setTabOrder(Memo1, Button1);
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
