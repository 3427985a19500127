#include "results/score_comparison.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/state.h"

namespace velotrax::results {
namespace {

using ::testing::HasSubstr;

// This computer and four references of one game: the fourth is the fastest, so the bars' scale
// is its score although the desktop program's gauges take three references at a time. A row
// that reference.dat does not hold reads as not measured instead of past the table.
TEST(ResultsScoresTest, ScaleCoversEveryReferenceAndMissingRowsReadAsNotMeasured) {
  ProgramState state;
  BuildCatalogue(state);
  state.games[0].cpu = "Own";
  state.games[5].ddraw = 40;
  state.reference_count = 4;
  state.references.assign(5, std::vector<Tgameinfo>(game_count));
  for (int row = 1; row <= 4; ++row) {
    state.references[static_cast<std::size_t>(row)][0].cpu = "R" + std::to_string(row);
    state.references[static_cast<std::size_t>(row)][5].d3d = 100 * row;
  }

  const ScoreComparison comparison = CompareScores(state, {1, 2, 3, 4, 9}, {5});
  ASSERT_EQ(comparison.computers.size(), 6u);
  EXPECT_EQ(comparison.computers[0].name, "Own");
  EXPECT_EQ(comparison.computers[4].name, "R4");
  EXPECT_EQ(comparison.computers[5].name, "");
  ASSERT_EQ(comparison.games.size(), 1u);
  EXPECT_EQ(comparison.games[0].scale, 400);
  EXPECT_EQ(comparison.games[0].scores[0].ddraw, 40);
  EXPECT_EQ(comparison.games[0].scores[4].d3d, 400);
  EXPECT_EQ(comparison.games[0].scores[5].d3d, 0);
  EXPECT_THAT(ExportCsv(comparison), HasSubstr(",9,,N/A,N/A\r\n"));
}

}  // namespace
}  // namespace velotrax::results
