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

const Tgameinfo& GameEntry(const CatalogueState& state, int g) {
  return EntryAt(state.games, g);
}

const Tgameinfo& ReferenceEntry(const CatalogueState& state, int row, int g) {
  if (row < 0 || static_cast<std::size_t>(row) >= state.references.size()) return EmptyEntry();
  return EntryAt(state.references[static_cast<std::size_t>(row)], g);
}

}  // namespace

const Tgameinfo& ScoreEntry(const CatalogueState& state, int row, int g) {
  return row == 0 ? GameEntry(state, g) : ReferenceEntry(state, row, g);
}

std::string ScoreText(int32_t score) {
  return score == 0 ? "N/A" : IntToText(score);
}

int32_t ComputeGaugeScale(const CatalogueState& state, int g, int r1, int r2, int r3) {
  const Tgameinfo& own = GameEntry(state, g);
  int32_t scale = std::max(own.d3d, own.ddraw);
  for (int row : {r1, r2, r3}) {
    const Tgameinfo& reference = ReferenceEntry(state, row, g);
    scale = std::max({scale, reference.d3d, reference.ddraw});
  }
  return scale;
}

void RefreshComparison(const CatalogueState& state, ComparisonView& view) {
  const int g = view.SelectedGame();
  const std::array<int, 3> rows = {view.SelectedReference(1), view.SelectedReference(2),
                                   view.SelectedReference(3)};

  const Tgameinfo& own = GameEntry(state, g);
  view.SetGameCaption(own.rom + " (driver: " + own.driver + ")");
  view.SetPcDescription(GameEntry(state, 0).cpu);
  view.SetScoreText(kThisComputer, ScoreMethod::d3d, ScoreText(own.d3d));
  view.SetScoreText(kThisComputer, ScoreMethod::ddraw, ScoreText(own.ddraw));

  // One scale for all eight bars, set before any value so that no value ever lies above the
  // maximum in force.
  view.SetBarScale(ComputeGaugeScale(state, g, rows[0], rows[1], rows[2]));
  view.SetScoreBar(kThisComputer, ScoreMethod::d3d, own.d3d);
  view.SetScoreBar(kThisComputer, ScoreMethod::ddraw, own.ddraw);

  for (int k = 1; k <= 3; ++k) {
    const int row = rows[static_cast<std::size_t>(k - 1)];
    const Tgameinfo& reference = ReferenceEntry(state, row, g);
    view.SetReferenceName(k, ReferenceEntry(state, row, 0).cpu);
    view.SetScoreText(k, ScoreMethod::d3d, ScoreText(reference.d3d));
    view.SetScoreText(k, ScoreMethod::ddraw, ScoreText(reference.ddraw));
    view.SetScoreBar(k, ScoreMethod::ddraw, reference.ddraw);
    view.SetScoreBar(k, ScoreMethod::d3d, reference.d3d);
  }
}

}  // namespace velotrax
