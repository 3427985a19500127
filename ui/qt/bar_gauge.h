// TGauge: one score as a framed horizontal bar (text, vertical, pie and needle kinds too), painted
// off screen and shown in one copy; repaints only when the whole percentage changes.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "ui/gauge_values.h"

namespace velotrax {

enum class TGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TGaugeBorderStyle : uint8_t { bsNone, bsSingle };

// A colour as the layout stores it: red in the lowest byte, then green, then blue.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  int32_t MinValue() const { return values_.MinValue(); }
  int32_t MaxValue() const { return values_.MaxValue(); }
  int32_t Progress() const { return values_.Progress(); }
  TGaugeKind Kind() const { return kind_; }
  bool ShowText() const { return show_text_; }
  TGaugeBorderStyle BorderStyle() const { return border_style_; }
  TColor ForeColor() const { return fore_color_; }
  TColor BackColor() const { return back_color_; }

  // Throws EInvalidOperation "Value must be between %d and %d" when v > MaxValue.
  void SetMinValue(int32_t v);
  // Throws EInvalidOperation "Value must be between %d and %d" when v < MinValue.
  void SetMaxValue(int32_t v);
  // Clamped into MinValue..MaxValue; repaints only when PercentFilled changes.
  void SetProgress(int32_t v);
  void SetKind(TGaugeKind kind);
  void SetShowText(bool show);
  void SetBorderStyle(TGaugeBorderStyle style);
  void SetForeColor(TColor color);
  void SetBackColor(TColor color);

  // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 for an empty range.
  int PercentFilled() const;

  // The picture as the paint operation composes it, for tests and screenshots.
  QImage RenderPicture() const;
  // How many times the picture has been composed and shown.
  int RepaintCount() const { return repaint_count_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void RepaintNow();

  GaugeValues values_;
  TGaugeKind kind_ = TGaugeKind::gkHorizontalBar;
  bool show_text_ = true;
  TGaugeBorderStyle border_style_ = TGaugeBorderStyle::bsSingle;
  TColor fore_color_ = clBlack;
  TColor back_color_ = clWhite;
  int repaint_count_ = 0;
  QImage picture_;      // the last composed picture, shown again on exposure
  QFont picture_font_;  // the font picture_ was composed with
};

}  // namespace velotrax
