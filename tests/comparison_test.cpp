#include "core/comparison.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "base/errors.h"

namespace velotrax {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The controls' names, in the order of the enumerations.
constexpr const char* kLabelNames[] = {"edit1",          "edit2",
                                       "Label_ref1_d3d", "label_ref1_ddraw",
                                       "Label_ref2_d3d", "label_ref2_ddraw",
                                       "Label_ref3_d3d", "label_ref3_ddraw"};
constexpr const char* kGaugeNames[] = {"gauge_3d3",       "Gauge_ddraw",     "gauge_ref1ddraw",
                                       "Gauge_ref1d3d",   "Gauge_ref2ddraw", "Gauge_ref2d3d",
                                       "Gauge_ref3ddraw", "Gauge_ref3d3d"};

// Records every write in order, as "control=text", and keeps the gauges' rule that a maximum
// below the minimum 0 is refused.
class RecordingView : public ComparisonView {
 public:
  int game = 0;
  int refs[3] = {0, 0, 0};
  std::vector<std::string> calls;

  int SelectedGame() const override { return game; }
  int SelectedReference(int k) const override { return refs[k - 1]; }
  void SetGameCaption(const std::string& text) override { calls.push_back("rom_display=" + text); }
  void SetPcDescription(const std::string& text) override { calls.push_back("cpu_info=" + text); }
  void SetScoreLabel(ScoreLabel label, const std::string& text) override {
    calls.push_back(kLabelNames[static_cast<int>(label)] + ("=" + text));
  }
  void SetReferenceName(int k, const std::string& text) override {
    calls.push_back("refname" + std::to_string(k) + "=" + text);
  }
  void SetGaugeMaximum(int32_t maximum) override {
    if (maximum < 0) {
      throw EInvalidOperation("Value must be between 0 and " + std::to_string(INT32_MAX));
    }
    calls.push_back("MaxValue=" + std::to_string(maximum));
  }
  void SetGaugeProgress(GaugeId gauge, int32_t value) override {
    calls.push_back(kGaugeNames[static_cast<int>(gauge)] + ("=" + std::to_string(value)));
  }

  // The value last written to one control.
  std::string Shown(const std::string& control) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->rfind(control + "=", 0) == 0) return it->substr(control.size() + 1);
    }
    return "<never written>";
  }
};

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
                              "rom_display=pacman (driver: pacman.c)",
                              "cpu_info=Bench PC",
                              "edit1=812",
                              "edit2=1033",
                              "MaxValue=1500",
                              "gauge_3d3=812",
                              "Gauge_ddraw=1033",
                              "refname1=Reference B",
                              "Label_ref1_d3d=N/A",
                              "label_ref1_ddraw=1500",
                              "gauge_ref1ddraw=1500",
                              "Gauge_ref1d3d=0",
                              "refname2=",
                              "Label_ref2_d3d=N/A",
                              "label_ref2_ddraw=N/A",
                              "Gauge_ref2ddraw=0",
                              "Gauge_ref2d3d=0",
                              "refname3=Reference A",
                              "Label_ref3_d3d=700",
                              "label_ref3_ddraw=900",
                              "Gauge_ref3ddraw=900",
                              "Gauge_ref3d3d=700",
                          }));
}

TEST(RefreshComparison, NothingMeasuredNothingChosen) {
  ProgramState state = LoadedState();
  RecordingView view;
  view.game = 5;
  RefreshComparison(state, view);

  EXPECT_EQ(view.Shown("rom_display"), "dkong (driver: dkong.c)");
  EXPECT_EQ(view.Shown("MaxValue"), "0");
  for (const char* label : kLabelNames) {
    SCOPED_TRACE(label);
    EXPECT_EQ(view.Shown(label), "N/A");
  }
  for (const char* name : {"refname1", "refname2", "refname3"}) EXPECT_EQ(view.Shown(name), "");
  for (const char* gauge : kGaugeNames) {
    SCOPED_TRACE(gauge);
    EXPECT_EQ(view.Shown(gauge), "0");
  }
}

TEST(RefreshComparison, HalfBarAgainstAReferenceAndAClearedSelector) {
  ProgramState state = LoadedState();
  state.games[23].ddraw = 200;
  state.games[23].d3d = 0;
  state.references[1][23].ddraw = 400;
  state.references[1][23].d3d = 100;
  RecordingView view;
  view.game = 23;
  view.refs[0] = 1;
  view.refs[2] = 1;  // the same computer twice shows in both rows
  RefreshComparison(state, view);

  EXPECT_EQ(view.Shown("MaxValue"), "400");
  EXPECT_EQ(view.Shown("Gauge_ddraw"), "200");
  EXPECT_EQ(view.Shown("gauge_3d3"), "0");
  EXPECT_EQ(view.Shown("edit1"), "N/A");
  EXPECT_EQ(view.Shown("edit2"), "200");
  for (const char* row : {"1", "3"}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(view.Shown(std::string("refname") + row), "Reference A");
    EXPECT_EQ(view.Shown(std::string("Label_ref") + row + "_d3d"), "100");
    EXPECT_EQ(view.Shown(std::string("label_ref") + row + "_ddraw"), "400");
  }
  EXPECT_EQ(view.Shown("gauge_ref1ddraw"), "400");
  EXPECT_EQ(view.Shown("Gauge_ref1d3d"), "100");

  // "Select reference" again in ref1: its name goes, its scores read N/A, its bars empty.
  view.refs[0] = 0;
  view.calls.clear();
  RefreshComparison(state, view);
  EXPECT_EQ(view.Shown("refname1"), "");
  EXPECT_EQ(view.Shown("Label_ref1_d3d"), "N/A");
  EXPECT_EQ(view.Shown("label_ref1_ddraw"), "N/A");
  EXPECT_EQ(view.Shown("gauge_ref1ddraw"), "0");
  EXPECT_EQ(view.Shown("Gauge_ref1d3d"), "0");
  EXPECT_EQ(view.Shown("Gauge_ref3ddraw"), "400");
}

TEST(RefreshComparison, PlaceholderShowsAnEmptyDriver) {
  ProgramState state = LoadedState();
  RecordingView view;
  view.game = 0;
  RefreshComparison(state, view);
  EXPECT_EQ(view.Shown("rom_display"), "Select Rom (driver: )");
  EXPECT_EQ(view.Shown("cpu_info"), "Bench PC");
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
  EXPECT_THAT(view.calls, ElementsAre("rom_display=cyvern (driver: suprnova.c)",
                                      "cpu_info=Bench PC", "edit1=-3", "edit2=-8"));
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
      EXPECT_EQ(view.Shown("rom_display"), " (driver: )");
      EXPECT_EQ(view.Shown("edit1"), "N/A");
      EXPECT_EQ(view.Shown("gauge_3d3"), "0");
    }
    EXPECT_EQ(view.Shown("cpu_info"), c.catalogue_built ? "Bench PC" : "");
    for (int k = 1; k <= 3; ++k) {
      SCOPED_TRACE(k);
      const int row = c.refs[k - 1];
      const bool row_known = row >= 0 && static_cast<std::size_t>(row) < state.references.size();
      const bool entry_known = row_known && c.game >= 0 &&
                               static_cast<std::size_t>(c.game) < state.references[row].size();
      if (!entry_known) {
        EXPECT_EQ(view.Shown("Label_ref" + std::to_string(k) + "_d3d"), "N/A");
      }
      if (!row_known || state.references[row].empty()) {
        EXPECT_EQ(view.Shown("refname" + std::to_string(k)), "");
      }
    }
  }
}

TEST(RefreshComparison, AShortRowKeepsItsNameWhileItsScoresReadEmpty) {
  ProgramState state = LoadedState();
  state.references[2].resize(1);  // the name survived, the scores did not
  RecordingView view;
  view.game = 23;
  view.refs[1] = 2;
  RefreshComparison(state, view);
  EXPECT_EQ(view.Shown("refname2"), "Reference B");
  EXPECT_EQ(view.Shown("Label_ref2_d3d"), "N/A");
  EXPECT_EQ(view.Shown("Gauge_ref2d3d"), "0");
}

}  // namespace
}  // namespace velotrax
