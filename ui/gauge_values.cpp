#include "ui/gauge_values.h"

#include <cmath>
#include <string>

#include "base/errors.h"

namespace velotrax {

namespace {

std::string RangeMessage(int64_t low, int64_t high) {
  return "Value must be between " + std::to_string(low) + " and " + std::to_string(high);
}

}  // namespace

bool GaugeValues::SetMinValue(int32_t v) {
  if (v == min_value_) return false;
  if (v > max_value_) throw EInvalidOperation(RangeMessage(-2147483647, int64_t{max_value_} - 1));
  min_value_ = v;
  if (progress_ < v) progress_ = v;
  return true;
}

bool GaugeValues::SetMaxValue(int32_t v) {
  if (v == max_value_) return false;
  if (v < min_value_) throw EInvalidOperation(RangeMessage(int64_t{min_value_} + 1, 2147483647));
  max_value_ = v;
  if (progress_ > v) progress_ = v;
  return true;
}

bool GaugeValues::SetProgress(int32_t v) {
  const int before = PercentFilled();
  if (v < min_value_) {
    v = min_value_;
  } else if (v > max_value_) {
    v = max_value_;
  }
  if (v == progress_) return false;
  progress_ = v;
  return PercentFilled() != before;
}

int GaugeValues::PercentFilled() const {
  if (max_value_ == min_value_) return 0;
  // Both differences can need 33 bits and the product 40: keep it all in 64 bits.
  const int64_t done = int64_t{progress_} - min_value_;
  const int64_t range = int64_t{max_value_} - min_value_;
  return static_cast<int>(done * 100 / range);
}

int GaugeValues::BarExtent(int length, int percent) {
  const long double extent =
      static_cast<long double>(length) * (static_cast<long double>(percent) * 0.01L);
  return static_cast<int>(std::trunc(extent));
}

}  // namespace velotrax
