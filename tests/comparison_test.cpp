#include "core/comparison.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#include "base/errors.h"

namespace velotrax {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The display's outputs by meaning, in the order the refresh writes a row's texts and bars.
constexpr const char* kTextNames[] = {"own.d3d.text",    "own.ddraw.text", "ref1.d3d.text",
                                      "ref1.ddraw.text", "ref2.d3d.text",  "ref2.ddraw.text",
                                      "ref3.d3d.text",   "ref3.ddraw.text"};
constexpr const char* kBarNames[] = {"own.d3d.bar",    "own.ddraw.bar",  "ref1.ddraw.bar",
                                     "ref1.d3d.bar",   "ref2.ddraw.bar", "ref2.d3d.bar",
                                     "ref3.ddraw.bar", "ref3.d3d.bar"};

std::string RowName(int row) {
  return row == kThisComputer ? "own" : "ref" + std::to_string(row);
}

std::string MethodName(ScoreMethod method) {
  return method == ScoreMethod::d3d ? "d3d" : "ddraw";
}

// Records every write in order, as "output=text", and keeps the gauges' rule that a maximum
// below the minimum 0 is refused.
class RecordingView : public ComparisonView {
 public:
  int game = 0;
  std::array<int, 3> refs = {0, 0, 0};
  std::vector<std::string> calls;

  int SelectedGame() const override { return game; }
  int SelectedReference(int k) const override { return refs[k - 1]; }
  void SetGameCaption(const std::string& text) override { calls.push_back("game=" + text); }
  void SetPcDescription(const std::string& text) override { calls.push_back("pc=" + text); }
  void SetScoreText(int row, ScoreMethod method, const std::string& text) override {
    calls.push_back(RowName(row) + "." + MethodName(method) + ".text=" + text);
  }
  void SetReferenceName(int k, const std::string& text) override {
    calls.push_back("ref" + std::to_string(k) + ".name=" + text);
  }
  void SetBarScale(int32_t maximum) override {
    if (maximum < 0) {
      throw EInvalidOperation("Value must be between 0 and " + std::to_string(INT32_MAX));
    }
    calls.push_back("scale=" + std::to_string(maximum));
  }
  void SetScoreBar(int row, ScoreMethod method, int32_t value) override {
    calls.push_back(RowName(row) + "." + MethodName(method) + ".bar=" + std::to_string(value));
  }

  // The value last written to one output.
  std::string Shown(const std::string& output) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->rfind(output + "=", 0) == 0) return it->substr(output.size() + 1);
    }
    return "<never written>";
  }
};

// What the comparison shows of game beside the references chosen in the three selectors.
RecordingView Refreshed(ProgramState& state, int game, std::array<int, 3> refs = {0, 0, 0}) {
  RecordingView view;
  view.game = game;
  view.refs = refs;
  RefreshComparison(state, view);
  return view;
}

// A catalogue and two reference computers, as the show sequence leaves them.
ProgramState LoadedState() {
  ProgramState state;
  BuildCatalogue(state);
  state.games[0].cpu = "Bench PC";
  state.reference_count = 2;
  state.references.assign(3, std::vector<Tgameinfo>(game_count));
  state.references[1][0].cpu = "Reference A";
  state.references[2][0].cpu = "Reference B";
  return state;
}

TEST(ScoreText, ZeroIsNotMeasuredEverythingElseIsDecimal) {
  const struct {
    int32_t score;
    const char* text;
  } cases[] = {{0, "N/A"},
               {1, "1"},
               {245, "245"},
               {-5, "-5"},
               {INT32_MAX, "2147483647"},
               {INT32_MIN, "-2147483648"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    EXPECT_EQ(ScoreText(c.score), c.text);
  }
}

TEST(ComputeGaugeScale, LargestOfTheEightScoresWhereverItSits) {
  ProgramState state = LoadedState();
  const int g = 23;
  EXPECT_EQ(ComputeGaugeScale(state, g, 0, 0, 0), 0);

  struct Slot {
    const char* name;
    int32_t* score;
  };
  const Slot slots[] = {
      {"own d3d", &state.games[g].d3d},          {"own ddraw", &state.games[g].ddraw},
      {"ref1 d3d", &state.references[1][g].d3d}, {"ref1 ddraw", &state.references[1][g].ddraw},
      {"ref2 d3d", &state.references[2][g].d3d}, {"ref2 ddraw", &state.references[2][g].ddraw},
  };
  for (const Slot& slot : slots) {
    SCOPED_TRACE(slot.name);
    *slot.score = 900;
    // r3 picks row 2 again: the same computer in two selectors counts once, harmlessly.
    EXPECT_EQ(ComputeGaugeScale(state, g, 1, 2, 2), 900);
    *slot.score = 10;
  }
  // A score of another game or of an unchosen row does not count.
  state.games[24].ddraw = 5000;
  state.references[2][g].ddraw = 7000;
  EXPECT_EQ(ComputeGaugeScale(state, g, 1, 0, 1), 10);
}

TEST(ComputeGaugeScale, NegativeOnlyWhenAllEightAreNegative) {
  ProgramState state = LoadedState();
  state.games[3].d3d = -4;
  state.games[3].ddraw = -9;
  state.references[1][3] = {"", "", "", -1, -2, ""};
  state.references[2][3] = {"", "", "", -6, -7, ""};
  EXPECT_EQ(ComputeGaugeScale(state, 3, 1, 2, 1), -1);
  // "Select reference" is the empty row: its zeros lift the scale to 0.
  EXPECT_EQ(ComputeGaugeScale(state, 3, 1, 2, 0), 0);
}

TEST(RefreshComparison, WritesEveryControlInItsOrder) {
  ProgramState state = LoadedState();
  state.games[23].d3d = 812;
  state.games[23].ddraw = 1033;
  state.references[1][23] = {"", "", "", 700, 900, ""};
  state.references[2][23] = {"", "", "", 0, 1500, ""};
  RecordingView view;
  view.game = 23;
  view.refs[0] = 2;
  view.refs[1] = 0;
  view.refs[2] = 1;

  RefreshComparison(state, view);

  EXPECT_THAT(view.calls, ElementsAreArray<std::string>({
                              "game=pacman (driver: pacman.c)",
                              "pc=Bench PC",
                              "own.d3d.text=812",
                              "own.ddraw.text=1033",
                              "scale=1500",
                              "own.d3d.bar=812",
                              "own.ddraw.bar=1033",
                              "ref1.name=Reference B",
                              "ref1.d3d.text=N/A",
                              "ref1.ddraw.text=1500",
                              "ref1.ddraw.bar=1500",
                              "ref1.d3d.bar=0",
                              "ref2.name=",
                              "ref2.d3d.text=N/A",
                              "ref2.ddraw.text=N/A",
                              "ref2.ddraw.bar=0",
                              "ref2.d3d.bar=0",
                              "ref3.name=Reference A",
                              "ref3.d3d.text=700",
                              "ref3.ddraw.text=900",
                              "ref3.ddraw.bar=900",
                              "ref3.d3d.bar=700",
                          }));
}

TEST(RefreshComparison, NothingMeasuredNothingChosen) {
  ProgramState state = LoadedState();
  RecordingView view = Refreshed(state, 5);

  EXPECT_EQ(view.Shown("game"), "dkong (driver: dkong.c)");
  EXPECT_EQ(view.Shown("scale"), "0");
  for (const char* text : kTextNames) {
    SCOPED_TRACE(text);
    EXPECT_EQ(view.Shown(text), "N/A");
  }
  for (const char* name : {"ref1.name", "ref2.name", "ref3.name"}) EXPECT_EQ(view.Shown(name), "");
  for (const char* bar : kBarNames) {
    SCOPED_TRACE(bar);
    EXPECT_EQ(view.Shown(bar), "0");
  }
}

TEST(RefreshComparison, HalfBarAgainstAReferenceAndAClearedSelector) {
  ProgramState state = LoadedState();
  state.games[23].ddraw = 200;
  state.games[23].d3d = 0;
  state.references[1][23].ddraw = 400;
  state.references[1][23].d3d = 100;
  // The same computer in the first and the third selector shows in both rows.
  RecordingView view = Refreshed(state, 23, {1, 0, 1});

  EXPECT_EQ(view.Shown("scale"), "400");
  EXPECT_EQ(view.Shown("own.ddraw.bar"), "200");
  EXPECT_EQ(view.Shown("own.d3d.bar"), "0");
  EXPECT_EQ(view.Shown("own.d3d.text"), "N/A");
  EXPECT_EQ(view.Shown("own.ddraw.text"), "200");
  for (const char* row : {"1", "3"}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(view.Shown(std::string("ref") + row + ".name"), "Reference A");
    EXPECT_EQ(view.Shown(std::string("ref") + row + ".d3d.text"), "100");
    EXPECT_EQ(view.Shown(std::string("ref") + row + ".ddraw.text"), "400");
  }
  EXPECT_EQ(view.Shown("ref1.ddraw.bar"), "400");
  EXPECT_EQ(view.Shown("ref1.d3d.bar"), "100");

  // "Select reference" again in ref1: its name goes, its scores read N/A, its bars empty.
  view.refs[0] = 0;
  view.calls.clear();
  RefreshComparison(state, view);
  EXPECT_EQ(view.Shown("ref1.name"), "");
  EXPECT_EQ(view.Shown("ref1.d3d.text"), "N/A");
  EXPECT_EQ(view.Shown("ref1.ddraw.text"), "N/A");
  EXPECT_EQ(view.Shown("ref1.ddraw.bar"), "0");
  EXPECT_EQ(view.Shown("ref1.d3d.bar"), "0");
  EXPECT_EQ(view.Shown("ref3.ddraw.bar"), "400");
}

TEST(RefreshComparison, PlaceholderShowsAnEmptyDriver) {
  ProgramState state = LoadedState();
  RecordingView view = Refreshed(state, 0);
  EXPECT_EQ(view.Shown("game"), "Select Rom (driver: )");
  EXPECT_EQ(view.Shown("pc"), "Bench PC");
}

TEST(RefreshComparison, NegativeScaleStopsBeforeAnyBarValue) {
  ProgramState state = LoadedState();
  state.games[7].d3d = -3;
  state.games[7].ddraw = -8;
  for (int row : {1, 2}) state.references[row][7] = {"", "", "", -1, -2, ""};
  RecordingView view;
  view.game = 7;
  view.refs[0] = 1;
  view.refs[1] = 2;
  view.refs[2] = 1;
  EXPECT_THROW(RefreshComparison(state, view), EInvalidOperation);
  EXPECT_THAT(view.calls, ElementsAre("game=cyvern (driver: suprnova.c)", "pc=Bench PC",
                                      "own.d3d.text=-3", "own.ddraw.text=-8"));
}

// Indices beyond the tables, a catalogue never built and a reference table cut short all read
// as empty entries: the refresh runs through and shows blanks, "N/A" and empty bars there.
TEST(RefreshComparison, IndicesOutsideTheTablesReadAsEmptyEntries) {
  const struct Case {
    const char* name;
    int game;
    int refs[3];
    bool catalogue_built;
    int reference_rows;     // rows in the table; -1 keeps LoadedState's three
    int short_row_entries;  // entries in row 2; -1 keeps game_count
  } cases[] = {
      {"game past the end", game_count, {1, 0, 0}, true, -1, -1},
      {"game far past the end", 255, {0, 0, 0}, true, -1, -1},
      {"no game selected", -1, {0, 0, 0}, true, -1, -1},
      {"catalogue never built", 23, {1, 0, 0}, false, -1, -1},
      {"catalogue never built, placeholder", 0, {0, 0, 0}, false, 0, -1},
      {"no reference table", 23, {0, 1, 2}, true, 0, -1},
      {"reference past reference_count", 23, {3, 200, 255}, true, -1, -1},
      {"negative reference", 23, {-1, -7, 0}, true, -1, -1},
      {"reference row cut short", 23, {2, 2, 2}, true, -1, 1},
      {"reference row empty", 23, {2, 0, 0}, true, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramState state = LoadedState();
    state.games[23].d3d = 50;
    if (!c.catalogue_built) state.games.clear();
    if (c.reference_rows >= 0) state.references.resize(static_cast<std::size_t>(c.reference_rows));
    if (c.short_row_entries >= 0 && state.references.size() > 2) {
      state.references[2].resize(static_cast<std::size_t>(c.short_row_entries));
    }
    for (auto& row : state.references) {
      if (row.size() > 23) row[23] = {"", "", "", 60, 70, ""};
    }
    RecordingView view;
    view.game = c.game;
    for (int k = 0; k < 3; ++k) view.refs[k] = c.refs[k];

    ASSERT_NO_THROW(RefreshComparison(state, view));
    ASSERT_EQ(view.calls.size(), 22u);

    const bool game_known = c.catalogue_built && c.game >= 0 && c.game < game_count;
    if (!game_known) {
      EXPECT_EQ(view.Shown("game"), " (driver: )");
      EXPECT_EQ(view.Shown("own.d3d.text"), "N/A");
      EXPECT_EQ(view.Shown("own.d3d.bar"), "0");
    }
    EXPECT_EQ(view.Shown("pc"), c.catalogue_built ? "Bench PC" : "");
    for (int k = 1; k <= 3; ++k) {
      SCOPED_TRACE(k);
      const int row = c.refs[k - 1];
      const bool row_known = row >= 0 && static_cast<std::size_t>(row) < state.references.size();
      const bool entry_known = row_known && c.game >= 0 &&
                               static_cast<std::size_t>(c.game) < state.references[row].size();
      if (!entry_known) {
        EXPECT_EQ(view.Shown("ref" + std::to_string(k) + ".d3d.text"), "N/A");
      }
      if (!row_known || state.references[row].empty()) {
        EXPECT_EQ(view.Shown("ref" + std::to_string(k) + ".name"), "");
      }
    }
  }
}

TEST(RefreshComparison, AShortRowKeepsItsNameWhileItsScoresReadEmpty) {
  ProgramState state = LoadedState();
  state.references[2].resize(1);  // the name survived, the scores did not
  RecordingView view = Refreshed(state, 23, {0, 2, 0});
  EXPECT_EQ(view.Shown("ref2.name"), "Reference B");
  EXPECT_EQ(view.Shown("ref2.d3d.text"), "N/A");
  EXPECT_EQ(view.Shown("ref2.d3d.bar"), "0");
}

}  // namespace
}  // namespace velotrax
