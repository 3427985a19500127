// TGauge for the Win32 window: one score as a framed horizontal bar, a child window painted with
// GDI off screen and shown in one copy; repaints only when the whole percentage changes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/gauge_values.h"

namespace velotrax::win32ui {

enum class TGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TGaugeBorderStyle : uint8_t { bsNone, bsSingle };

// Asked of a gauge window from outside (tests): its Progress, MaxValue and PercentFilled.
inline constexpr UINT kGaugeGetProgress = WM_APP + 40;
inline constexpr UINT kGaugeGetMaxValue = WM_APP + 41;
inline constexpr UINT kGaugeGetPercent = WM_APP + 42;

class TGauge {
 public:
  // Creates the gauge's window in parent at the given place, with the defaults of a new gauge.
  TGauge(HWND parent, int id, RECT place);
  ~TGauge();
  TGauge(const TGauge&) = delete;
  TGauge& operator=(const TGauge&) = delete;

  HWND Handle() const { return window_; }
  int32_t MinValue() const { return values_.MinValue(); }
  int32_t MaxValue() const { return values_.MaxValue(); }
  int32_t Progress() const { return values_.Progress(); }

  // Throws EInvalidOperation "Value must be between %d and %d" when v > MaxValue.
  void SetMinValue(int32_t v);
  // Throws EInvalidOperation "Value must be between %d and %d" when v < MinValue.
  void SetMaxValue(int32_t v);
  // Clamped into MinValue..MaxValue; repaints only when PercentFilled changes.
  void SetProgress(int32_t v);
  void SetShowText(bool show);
  void SetForeColor(COLORREF color);
  void SetBackColor(COLORREF color);
  void SetBorderStyle(TGaugeBorderStyle style);

  // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 for an empty range.
  int PercentFilled() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Repaint();
  void Paint(HDC target);

  HWND window_ = nullptr;
  GaugeValues values_;
  TGaugeKind kind_ = TGaugeKind::gkHorizontalBar;
  bool show_text_ = true;
  TGaugeBorderStyle border_style_ = TGaugeBorderStyle::bsSingle;
  COLORREF fore_color_ = RGB(0, 0, 0);
  COLORREF back_color_ = RGB(255, 255, 255);
};

}  // namespace velotrax::win32ui
