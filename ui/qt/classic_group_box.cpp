#include "ui/qt/classic_group_box.h"

#include <QFontMetrics>
#include <QPainter>

namespace velotrax {

void TClassicGroupBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QFontMetrics metrics(font());
  const int top = metrics.height() / 2;
  const QRect frame = rect().adjusted(0, top, -1, -1);
  p.setPen(palette().color(QPalette::Dark));
  p.drawRect(frame.adjusted(0, 0, -1, -1));
  p.setPen(palette().color(QPalette::Light));
  p.drawRect(frame.adjusted(1, 1, 0, 0));
  if (title().isEmpty()) return;
  const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
  p.fillRect(caption, palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(caption.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title());
}

}  // namespace velotrax
