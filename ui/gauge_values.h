// The numbers of a bar gauge, the same in every front end: its range, its progress, how much of
// it is filled and how far the bar reaches. A front end's gauge keeps one and only draws it.
#pragma once

#include <cstdint>

namespace velotrax {

class GaugeValues {
 public:
  int32_t MinValue() const { return min_value_; }
  int32_t MaxValue() const { return max_value_; }
  int32_t Progress() const { return progress_; }

  // Throws EInvalidOperation "Value must be between %d and %d" when v > MaxValue; progress is
  // raised to v. True when the value changed (the gauge repaints).
  bool SetMinValue(int32_t v);
  // Throws EInvalidOperation "Value must be between %d and %d" when v < MinValue; progress is
  // lowered to v. True when the value changed.
  bool SetMaxValue(int32_t v);
  // Clamped into MinValue..MaxValue. True when the whole percentage changed: only then does the
  // picture change.
  bool SetProgress(int32_t v);

  // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 for an empty range.
  int PercentFilled() const;
  // How many of length pixels a bar at percent fills: the product in extended precision with
  // 0.01 rounded once, truncated, as the bar has always been measured (10 pixels at 10 % give 0).
  static int BarExtent(int length, int percent);

 private:
  int32_t min_value_ = 0;
  int32_t max_value_ = 100;
  int32_t progress_ = 0;
};

}  // namespace velotrax
