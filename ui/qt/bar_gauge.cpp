#include "ui/qt/bar_gauge.h"

#include <QFont>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/errors.h"

namespace velotrax {

namespace {

QRgb ToRgb(TColor color) {
  return qRgb(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
              static_cast<int>((color >> 16) & 0xFF));
}

// Combines overlay into image pixel by pixel; the alpha byte of an RGB32 image stays 0xFF.
void XorInto(QImage& image, const QImage& overlay) {
  for (int y = 0; y < image.height(); ++y) {
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    const auto* source = reinterpret_cast<const QRgb*>(overlay.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      target[x] = ((target[x] ^ source[x]) & 0x00FFFFFFu) | 0xFF000000u;
    }
  }
}

// Fills the half-open rectangle [left, right) x [top, bottom), clipped to the image.
void FillColumns(QImage& image, int left, int top, int right, int bottom, QRgb color) {
  QRect area(QPoint(left, top), QPoint(right - 1, bottom - 1));
  area = area.intersected(image.rect());
  if (area.isEmpty()) return;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = area.left(); x <= area.right(); ++x) line[x] = color;
  }
}

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  resize(100, 100);
}

void TGauge::SetMinValue(int32_t v) {
  if (values_.SetMinValue(v)) RepaintNow();
}

void TGauge::SetMaxValue(int32_t v) {
  if (values_.SetMaxValue(v)) RepaintNow();
}

void TGauge::SetProgress(int32_t v) {
  if (values_.SetProgress(v)) RepaintNow();
}

void TGauge::SetKind(TGaugeKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  RepaintNow();
}

void TGauge::SetShowText(bool show) {
  if (show == show_text_) return;
  show_text_ = show;
  RepaintNow();
}

void TGauge::SetBorderStyle(TGaugeBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  RepaintNow();
}

void TGauge::SetForeColor(TColor color) {
  if (color == fore_color_) return;
  fore_color_ = color;
  RepaintNow();
}

void TGauge::SetBackColor(TColor color) {
  if (color == back_color_) return;
  back_color_ = color;
  RepaintNow();
}

int TGauge::PercentFilled() const {
  return values_.PercentFilled();
}

QImage TGauge::RenderPicture() const {
  const int w = width();
  const int h = height();
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  if (w <= 0 || h <= 0) return image;

  int left = 0, top = 0, right = w, bottom = h;
  if (border_style_ == TGaugeBorderStyle::bsSingle) {
    ++left, ++top, --right, --bottom;
  }

  QImage overlay(w, h, QImage::Format_RGB32);
  overlay.fill(Qt::black);
  const QRgb back = ToRgb(back_color_);
  const QRgb fore = ToRgb(fore_color_);
  const int percent = PercentFilled();

  switch (kind_) {
    case TGaugeKind::gkText:
      FillColumns(overlay, left, top, right, bottom, back);
      break;
    case TGaugeKind::gkHorizontalBar: {
      FillColumns(overlay, left, top, right, bottom, back);
      const int bar_w = right - left + 1;
      const int bar_h = bottom - top + 1;
      // The extent is an absolute column: the fill ends there, wherever the bar starts.
      const int extent = std::min(GaugeValues::BarExtent(bar_w, percent), bar_w);
      if (extent >= 1) FillColumns(overlay, left, top, extent, std::min(bar_h, bottom), fore);
      break;
    }
    case TGaugeKind::gkVerticalBar: {
      FillColumns(overlay, left, top, right, bottom, back);
      const int extent = std::min(GaugeValues::BarExtent(bottom - top, percent), bottom - top);
      if (extent >= 1) FillColumns(overlay, left, bottom - extent, right, bottom, fore);
      break;
    }
    case TGaugeKind::gkPie:
    case TGaugeKind::gkNeedle: {
      FillColumns(overlay, left, top, right, bottom, back);
      QPainter painter(&overlay);
      painter.setRenderHint(QPainter::Antialiasing, false);
      painter.setClipRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
      painter.setPen(QColor(fore));
      if (kind_ == TGaugeKind::gkPie) {
        const QRectF dial(left, top, right - left - 1, bottom - top - 1);
        painter.setBrush(QColor(back));
        painter.drawEllipse(dial);
        painter.setBrush(QColor(fore));
        // Clockwise from twelve o'clock, a full turn at 100 %.
        if (percent > 0) painter.drawPie(dial, 90 * 16, -percent * 360 * 16 / 100);
      } else {
        // A half dial standing on the bottom edge; the needle sweeps from left to right.
        const QRectF dial(left, top, right - left - 1, 2 * (bottom - top - 1));
        painter.setBrush(QColor(back));
        painter.drawPie(dial, 0, 180 * 16);
        const QPointF centre(dial.center().x(), bottom - 1);
        const double angle = std::numbers::pi * (1.0 - percent / 100.0);
        const double rx = dial.width() / 2.0, ry = dial.height() / 2.0;
        painter.drawLine(
            centre, QPointF(centre.x() + rx * std::cos(angle), centre.y() - ry * std::sin(angle)));
      }
      break;
    }
  }

  XorInto(image, overlay);

  if (show_text_) {
    QImage text_image(w, h, QImage::Format_RGB32);
    text_image.fill(Qt::black);
    const QString text = QStringLiteral("%1%").arg(percent);
    QFont text_font = font();
    text_font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(text_font);
    const int x = (right - left + 1 - metrics.horizontalAdvance(text)) / 2;
    const int y = (bottom - top + 1 - metrics.height()) / 2;
    QPainter painter(&text_image);
    painter.setFont(text_font);
    painter.setPen(Qt::white);
    painter.setClipRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
    painter.drawText(x, y + metrics.ascent(), text);
    painter.end();
    XorInto(image, text_image);
  }
  return image;
}

void TGauge::RepaintNow() {
  picture_ = RenderPicture();
  picture_font_ = font();
  ++repaint_count_;
  // Shown before the write returns; a hidden gauge gets its picture when it is shown.
  if (isVisible()) repaint();
}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
  if (picture_.size() != size() || picture_font_ != font()) {
    picture_ = RenderPicture();
  }
  picture_font_ = font();
  QPainter painter(this);
  painter.drawImage(0, 0, picture_);
}

}  // namespace velotrax
