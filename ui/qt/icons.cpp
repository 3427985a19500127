#include "ui/qt/icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

namespace velotrax {

namespace {

constexpr int kSize = 32;

QImage BlankImage() {
  QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QPixmap ArrowButton(bool pointing_right) {
  QImage image = BlankImage();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // A soft shadow under the button, then the glossy body and its highlight.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawEllipse(QRectF(3, 4, 27, 27));
  QRadialGradient body(QPointF(13, 11), 18, QPointF(11, 8));
  body.setColorAt(0.0, QColor(150, 240, 120));
  body.setColorAt(0.55, QColor(40, 170, 40));
  body.setColorAt(1.0, QColor(0, 90, 0));
  p.setBrush(body);
  p.setPen(QPen(QColor(0, 70, 0), 1));
  p.drawEllipse(QRectF(1.5, 1.5, 27, 27));
  QLinearGradient gloss(QPointF(0, 3), QPointF(0, 15));
  gloss.setColorAt(0.0, QColor(255, 255, 255, 190));
  gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(gloss);
  p.drawEllipse(QRectF(6, 3, 17, 11));
  // The thick white arrow.
  QPolygonF arrow;
  arrow << QPointF(6, 12) << QPointF(15, 12) << QPointF(15, 6.5) << QPointF(24, 15)
        << QPointF(15, 23.5) << QPointF(15, 18) << QPointF(6, 18);
  if (!pointing_right) {
    for (QPointF& point : arrow) point.setX(30 - point.x());
  }
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(0, 80, 0, 120), 0.8));
  p.drawPolygon(arrow);
  p.end();
  return QPixmap::fromImage(image);
}

// One bar in pure colour with a darker shade along its lower and right edges and a thin grey
// shadow below and to the right.
void DrawBar(QPainter& p, int left, int top, int width, int height, QColor colour) {
  p.fillRect(left + 1, top + 1, width, height, QColor(128, 128, 128));
  p.fillRect(left, top, width, height, colour);
  const QColor dark = colour.darker(170);
  p.fillRect(left, top + height - 2, width, 2, dark);
  p.fillRect(left + width - 2, top, 2, height, dark);
}

void DrawThreeBars(QPainter& p, int top, int bar_height, int gap) {
  DrawBar(p, 2, top, 13, bar_height, QColor(0, 0, 255));
  DrawBar(p, 5, top + bar_height + gap, 19, bar_height, QColor(0, 255, 0));
  DrawBar(p, 8, top + 2 * (bar_height + gap), 22, bar_height, QColor(255, 0, 0));
}

}  // namespace

QPixmap NextRomImage() {
  return ArrowButton(true);
}

QPixmap PreviousRomImage() {
  return ArrowButton(false);
}

QPixmap StartBenchmarkImage() {
  QImage image = BlankImage();
  QPainter p(&image);
  DrawThreeBars(p, 4, 7, 2);
  p.end();
  return QPixmap::fromImage(image);
}

QIcon MainIcon() {
  QImage image = BlankImage();
  QPainter p(&image);
  DrawThreeBars(p, 1, 5, 2);
  // The saw-tooth along the bottom.
  p.setRenderHint(QPainter::Antialiasing);
  QPolygonF saw;
  saw << QPointF(1, 31);
  for (int x = 1; x < 31; x += 6) saw << QPointF(x + 6, 22) << QPointF(x + 6, 31);
  saw << QPointF(31, 31);
  p.setPen(QPen(QColor(0, 0, 120), 1));
  p.setBrush(QColor(0, 64, 255));
  p.drawPolygon(saw);
  p.end();
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace velotrax
