#include "ui/Unit4.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>

#include "ui/application.h"
#include "ui/guard.h"
#include "ui/layout_widgets.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace velotrax {

QStringList TForm4::AboutLines() {
  QStringList lines;
  for (const std::string& line : texts::AboutLines()) lines << QString::fromStdString(line);
  return lines;
}

QColor TForm4::DesktopBackgroundColour() {
  return {0, 78, 152};
}

TForm4::TForm4(QWidget* main_window) : QDialog(nullptr), main_window_(main_window) {
  setObjectName("Form4");
  const layout::Window& window = layout::AboutLayout();
  setWindowTitle(QString::fromUtf8(window.caption.data(), window.caption.size()));
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setFont(WindowFont());
  // The plain frame is drawn by the window around its client area.
  const int frame = window.plain_frame;
  setFixedSize(window.client_width + 2 * frame, window.client_height + 2 * frame);

  const LaidOutWidgets w = BuildLayout(window, this, {}, QPoint(frame, frame));
  Memo1 = w.Get<QPlainTextEdit>("Memo1");
  // The lines were broken for a narrower font than the ones found here: close the letters up a
  // little so that each line of the text still fits on one line of the box.
  QFont text_font = WindowFont();
  text_font.setLetterSpacing(QFont::PercentageSpacing, 93);
  Memo1->setFont(text_font);
  Memo1->document()->setDocumentMargin(2);
  // Nothing to select: the first press closes the window.
  Memo1->setTextInteractionFlags(Qt::NoTextInteraction);
  Memo1->setContextMenuPolicy(Qt::NoContextMenu);
  Memo1->viewport()->installEventFilter(this);
}

void TForm4::Memo1MouseDown() {
  accept();
}

void TForm4::Memo1Click() {
  accept();
}

void TForm4::reject() {
  Memo1Click();
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo1->viewport()) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
      RunGuarded([this] { Memo1MouseDown(); });
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TForm4::closeEvent(QCloseEvent* event) {
  event->accept();
  Memo1Click();
}

void TForm4::keyPressEvent(QKeyEvent* event) {
  // No keyboard command closes the window (Escape included).
  event->accept();
}

void TForm4::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), DesktopBackgroundColour());
}

void TForm4::showEvent(QShowEvent* event) {
  if (!shown_before_) {
    shown_before_ = true;
    // Centred over the main window the first time; it cannot be moved, so later showings keep
    // this place.
    if (main_window_) {
      const QRect over = main_window_->frameGeometry();
      move(over.x() + (over.width() - width()) / 2, over.y() + (over.height() - height()) / 2);
    } else {
      move(DesktopCentre(size()));
    }
  }
  QDialog::showEvent(event);
}

}  // namespace velotrax
