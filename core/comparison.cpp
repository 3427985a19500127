#include "core/comparison.h"

#include <algorithm>
#include <array>
#include <vector>

#include "storage/int_text.h"

namespace velotrax {

namespace {

// Stands in for every entry the tables do not hold: a catalogue that was never built, a
// selector index past the end, a reference row cut short by a failed load.
const Tgameinfo& EmptyEntry() {
  static const Tgameinfo empty;
  return empty;
}

const Tgameinfo& EntryAt(const std::vector<Tgameinfo>& row, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= row.size()) return EmptyEntry();
  return row[static_cast<std::size_t>(index)];
}

const Tgameinfo& GameEntry(const ProgramState& state, int g) {
  return EntryAt(state.games, g);
}

const Tgameinfo& ReferenceEntry(const ProgramState& state, int row, int g) {
  if (row < 0 || static_cast<std::size_t>(row) >= state.references.size()) return EmptyEntry();
  return EntryAt(state.references[static_cast<std::size_t>(row)], g);
}

struct ReferenceControls {
  ScoreLabel d3d_label;
  ScoreLabel ddraw_label;
  GaugeId ddraw_gauge;  // navy
  GaugeId d3d_gauge;    // maroon
};

constexpr std::array<ReferenceControls, 3> kReferenceControls = {{
    {ScoreLabel::Label_ref1_d3d, ScoreLabel::label_ref1_ddraw, GaugeId::gauge_ref1ddraw,
     GaugeId::Gauge_ref1d3d},
    {ScoreLabel::Label_ref2_d3d, ScoreLabel::label_ref2_ddraw, GaugeId::Gauge_ref2ddraw,
     GaugeId::Gauge_ref2d3d},
    {ScoreLabel::Label_ref3_d3d, ScoreLabel::label_ref3_ddraw, GaugeId::Gauge_ref3ddraw,
     GaugeId::Gauge_ref3d3d},
}};

}  // namespace

std::string ScoreText(int32_t score) {
  return score == 0 ? "N/A" : IntToText(score);
}

int32_t ComputeGaugeScale(const ProgramState& state, int g, int r1, int r2, int r3) {
  const Tgameinfo& own = GameEntry(state, g);
  int32_t scale = std::max(own.d3d, own.ddraw);
  for (int row : {r1, r2, r3}) {
    const Tgameinfo& reference = ReferenceEntry(state, row, g);
    scale = std::max({scale, reference.d3d, reference.ddraw});
  }
  return scale;
}

void RefreshComparison(const ProgramState& state, ComparisonView& view) {
  const int g = view.SelectedGame();
  const std::array<int, 3> rows = {view.SelectedReference(1), view.SelectedReference(2),
                                   view.SelectedReference(3)};

  const Tgameinfo& own = GameEntry(state, g);
  view.SetGameCaption(own.rom + " (driver: " + own.driver + ")");
  view.SetPcDescription(GameEntry(state, 0).cpu);
  view.SetScoreLabel(ScoreLabel::edit1, ScoreText(own.d3d));
  view.SetScoreLabel(ScoreLabel::edit2, ScoreText(own.ddraw));

  // One scale for all eight bars, set before any value so that no value ever lies above the
  // maximum in force.
  view.SetGaugeMaximum(ComputeGaugeScale(state, g, rows[0], rows[1], rows[2]));
  view.SetGaugeProgress(GaugeId::gauge_3d3, own.d3d);
  view.SetGaugeProgress(GaugeId::Gauge_ddraw, own.ddraw);

  for (int k = 1; k <= 3; ++k) {
    const int row = rows[static_cast<std::size_t>(k - 1)];
    const ReferenceControls& controls = kReferenceControls[static_cast<std::size_t>(k - 1)];
    const Tgameinfo& reference = ReferenceEntry(state, row, g);
    view.SetReferenceName(k, ReferenceEntry(state, row, 0).cpu);
    view.SetScoreLabel(controls.d3d_label, ScoreText(reference.d3d));
    view.SetScoreLabel(controls.ddraw_label, ScoreText(reference.ddraw));
    view.SetGaugeProgress(controls.ddraw_gauge, reference.ddraw);
    view.SetGaugeProgress(controls.d3d_gauge, reference.d3d);
  }
}

}  // namespace velotrax
