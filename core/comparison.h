// The comparison display: this computer's two scores beside three chosen reference computers,
// as texts and as bars on one common scale. The main window implements ComparisonView.
#pragma once

#include <cstdint>
#include <string>

#include "core/state.h"

namespace velotrax {

// The six score labels of the display, by their control names.
enum class ScoreLabel {
  edit1,  // this computer, Direct3D
  edit2,  // this computer, DirectDraw
  Label_ref1_d3d,
  label_ref1_ddraw,
  Label_ref2_d3d,
  label_ref2_ddraw,
  Label_ref3_d3d,
  label_ref3_ddraw,
};

// The eight bars of the display, by their control names.
enum class GaugeId {
  gauge_3d3,        // this computer, Direct3D, red
  Gauge_ddraw,      // this computer, DirectDraw, blue
  gauge_ref1ddraw,  // navy
  Gauge_ref1d3d,    // maroon
  Gauge_ref2ddraw,
  Gauge_ref2d3d,
  Gauge_ref3ddraw,
  Gauge_ref3d3d,
};

// What the refresh reads from and writes to the main window.
class ComparisonView {
 public:
  virtual ~ComparisonView() = default;
  // Item index of rom_selector.
  virtual int SelectedGame() const = 0;
  // Item index of ref1, ref2 or ref3 (k = 1, 2, 3).
  virtual int SelectedReference(int k) const = 0;
  // rom_display's caption.
  virtual void SetGameCaption(const std::string& text) = 0;
  // cpu_info's caption.
  virtual void SetPcDescription(const std::string& text) = 0;
  virtual void SetScoreLabel(ScoreLabel label, const std::string& text) = 0;
  // refname1, refname2 or refname3 (k = 1, 2, 3).
  virtual void SetReferenceName(int k, const std::string& text) = 0;
  // MaxValue of all eight bars, in the order of GaugeId; may throw EInvalidOperation.
  virtual void SetGaugeMaximum(int32_t maximum) = 0;
  virtual void SetGaugeProgress(GaugeId gauge, int32_t value) = 0;
};

// "N/A" for 0, otherwise the decimal value.
std::string ScoreText(int32_t score);

// The largest of the eight scores shown for game g and reference rows r1, r2, r3.
int32_t ComputeGaugeScale(const ProgramState& state, int g, int r1, int r2, int r3);

// Rewrites every output of the display from the selectors' indices; never reads outside the
// tables.
void RefreshComparison(const ProgramState& state, ComparisonView& view);

}  // namespace velotrax
