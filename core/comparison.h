// The comparison display: this computer's two scores beside three chosen reference computers,
// as texts and as bars on one common scale. The main window implements ComparisonView.
#pragma once

#include <cstdint>
#include <string>

#include "core/state.h"

namespace velotrax {

// The pass a score comes from.
enum class ScoreMethod { ddraw, d3d };

// The rows of the display: this computer, then the chosen reference computers 1, 2 and 3.
inline constexpr int kThisComputer = 0;

// What the refresh reads from and writes to the main window, by meaning; the window maps each
// output to its control.
class ComparisonView {
 public:
  virtual ~ComparisonView() = default;
  // Index of the selected game (0 is "Select Rom").
  virtual int SelectedGame() const = 0;
  // Row of reference computer k (k = 1, 2, 3) in the reference table (0 is "Select reference").
  virtual int SelectedReference(int k) const = 0;
  // The selected game and its driver, above the scores.
  virtual void SetGameCaption(const std::string& text) = 0;
  // This computer's description.
  virtual void SetPcDescription(const std::string& text) = 0;
  // One score as text, of row kThisComputer or reference k (1, 2, 3).
  virtual void SetScoreText(int row, ScoreMethod method, const std::string& text) = 0;
  // The name of reference computer k (1, 2, 3).
  virtual void SetReferenceName(int k, const std::string& text) = 0;
  // The one scale of all eight bars, set before any bar; may throw EInvalidOperation.
  virtual void SetBarScale(int32_t maximum) = 0;
  // One score as a bar, of row kThisComputer or reference k (1, 2, 3).
  virtual void SetScoreBar(int row, ScoreMethod method, int32_t value) = 0;
};

// Entry g of this computer (row 0) or of reference row `row`; an empty, never measured entry for
// whatever the tables do not hold.
const Tgameinfo& ScoreEntry(const CatalogueState& state, int row, int g);

// "N/A" for 0, otherwise the decimal value.
std::string ScoreText(int32_t score);

// The largest of the eight scores shown for game g and reference rows r1, r2, r3.
int32_t ComputeGaugeScale(const CatalogueState& state, int g, int r1, int r2, int r3);

// Rewrites every output of the display from the selectors' indices; never reads outside the
// tables.
void RefreshComparison(const CatalogueState& state, ComparisonView& view);

}  // namespace velotrax
