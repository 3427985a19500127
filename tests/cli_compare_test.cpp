// velotrax-cli compare on real exports, and the show command's chart, CSV and reference file as a
// user who passes files around meets them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/state.h"
#include "tests/cli_harness.h"

namespace velotrax {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace velotrax::testing;

class CliCompareTest : public ::testing::Test, public CliHarness {
 protected:
  // Exports a run of pacman and dkong (both methods) whose passes take the rates in turn. The
  // machine is not checked: a warning of the busy test machine would hold back the verdict.
  void Export(const std::string& file, const std::string& rates, const std::string& games = "") {
    std::vector<std::string> args = {"run",         "--repeat",      "8",  "--mode", "both",
                                     "--no-checks", "--export-json", file, "pacman"};
    if (!games.empty()) args.push_back(games);
    const CliResult result = Cli(args, {{"CLI_EMULATOR_FPS_SEQUENCE", rates}});
    ASSERT_EQ(result.code, 0) << result.err;
  }
  std::string LineOf(const std::string& text, const std::string& start) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(start, 0) == 0) return line;
    }
    return "<none>";
  }
};

TEST_F(CliCompareTest, SaysGameByGameWhetherTheDifferenceIsBeyondTheNoise) {
  Export("a.json", "1000,1004,996,1002,998,1001,999,1003");
  // Ten per cent faster, with the same noise.
  Export("b.json", "1100,1104,1096,1102,1098,1101,1099,1103", "dkong");
  // The same machine again: other passes, the same spread.
  Export("c.json", "1001,997,1003,999,1002,1000,1004,998");

  const CliResult ab = Cli({"compare", "a.json", "b.json"});
  ASSERT_EQ(ab.code, 0) << ab.err;
  EXPECT_THAT(ab.out, StartsWith("A: a.json ("));
  const std::string pacman = LineOf(ab.out, "pacman     DDraw");
  EXPECT_THAT(pacman, HasSubstr("1000.5    1100.5   +10.0%"));
  EXPECT_THAT(pacman, HasSubstr("B faster, beyond the noise"));
  // Every pass of B above every pass of A: the exact p of U = 0 with 8 and 8 passes.
  EXPECT_THAT(pacman, HasSubstr("0.0002"));
  EXPECT_THAT(LineOf(ab.out, "pacman     D3D"), HasSubstr("B faster, beyond the noise"));
  EXPECT_EQ(LineOf(ab.out, "Only in B"), "Only in B: dkong DDraw, dkong D3D");

  const CliResult ba = Cli({"compare", "b.json", "a.json"});
  EXPECT_THAT(LineOf(ba.out, "pacman     DDraw"), HasSubstr("-9.1%"));
  EXPECT_THAT(LineOf(ba.out, "pacman     DDraw"), HasSubstr("B slower, beyond the noise"));
  EXPECT_EQ(LineOf(ba.out, "Only in A"), "Only in A: dkong DDraw, dkong D3D");
  EXPECT_EQ(LineOf(ab.out, "Only in A"), "<none>");

  const CliResult ac = Cli({"compare", "a.json", "c.json"});
  const std::string same = LineOf(ac.out, "pacman     DDraw");
  EXPECT_THAT(same, HasSubstr("within the noise"));
  EXPECT_THAT(same, HasSubstr("+0.0%"));

  // Anything but two exports is refused.
  WriteBytes(dir_.File("other.json"), "{\"computers\": []}");
  EXPECT_EQ(Cli({"compare", "a.json"}).code, 2);
  const CliResult other = Cli({"compare", "a.json", "other.json"});
  EXPECT_EQ(other.code, 1);
  EXPECT_THAT(other.err, HasSubstr("\"other.json\" is no run exported by velotrax-cli"));
  WriteBytes(dir_.File("cut.json"), ReadBytes(dir_.File("a.json")).substr(0, 200));
  EXPECT_THAT(Cli({"compare", "cut.json", "a.json"}).err, HasSubstr("not a JSON document"));
  WriteBytes(dir_.File("notes.json"), "cpu=home\r\n");
  EXPECT_THAT(Cli({"compare", "a.json", "notes.json"}).err,
              HasSubstr("\"notes.json\" is not a JSON document: a value expected at byte 1"));
  EXPECT_THAT(Cli({"compare", "a.json", "gone.json"}).err,
              HasSubstr("cannot read \"gone.json\": "));
}

// An export of pacman's DirectDraw passes with more members of the run, given as JSON.
std::string ExportWith(const std::string& passes, const std::string& more = "") {
  return "{\"format\": \"velotrax-run/1\", " + more +
         "\"results\": [{\"rom\": \"pacman\", \"method\": \"ddraw\", \"passes\": [" + passes +
         "]}]}";
}

TEST_F(CliCompareTest, TheVerdictFollowsTheIntervalAndThePShownAgrees) {
  struct Case {
    std::string a, b, figures, verdict;
  };
  const std::vector<Case> cases = {
      // Ties count against a change: the interval ends at 0, and p says the same.
      {"300,300,301,301,301,301,301,301", "300,300,300,300,300,300,300,300,300,300",
       "-0.3% to +0.0%       0.0831", "within the noise"},
      // All of B above all of A, but 3 and 3 or 2 and 2 can never reach p < 0.05.
      {"1000,1001,1002", "1100,1101,1102", "0.1000", "too few passes to tell"},
      {"1000,1001", "1100,1101", "0.3333", "too few passes to tell"},
      {"1000,1001,1002", "1100,1101,1102,1103", "0.0571", "too few passes to tell"},
      {"1000,1001,1002,1003", "1100,1101,1102,1103", "+9.7% to +10.3%      0.0286",
       "B faster, beyond the noise"},
  };
  for (const Case& c : cases) {
    WriteBytes(dir_.File("a.json"), ExportWith(c.a));
    WriteBytes(dir_.File("b.json"), ExportWith(c.b));
    const std::string line = LineOf(Cli({"compare", "a.json", "b.json"}).out, "pacman");
    EXPECT_THAT(line, HasSubstr(c.figures + "  " + c.verdict)) << c.a << " against " << c.b;
  }
}

// An export of series games (g1, g2, ...) with passes DirectDraw passes each around rate.
std::string ExportOf(int series, int passes, int rate) {
  std::string text = "{\"format\": \"velotrax-run/1\", \"results\": [";
  for (int s = 1; s <= series; ++s) {
    text += std::string(s > 1 ? ", " : "") + "{\"rom\": \"g" + std::to_string(s) +
            "\", \"method\": \"ddraw\", \"passes\": [";
    for (int p = 0; p < passes; ++p) {
      text += (p > 0 ? ", " : "") + std::to_string(rate + (p * 7919) % 41 - 20);
    }
    text += "]}";
  }
  return text + "]}";
}

TEST_F(CliCompareTest, RefusesWhatIsNoExportAtOnceAndComparesTheLargestQuickly) {
  WriteBytes(dir_.File("a.json"), ExportOf(1, 8, 1000));
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0644), 0);
  std::filesystem::create_directory(dir_.File("folder"));
  // A pipe nobody writes to would block, a device never ends: neither is waited for.
  for (const std::string& file : {std::string("/dev/zero"), std::string("fifo")}) {
    const CliResult result = Cli({"compare", "a.json", file});
    EXPECT_EQ(result.code, 1);
    EXPECT_THAT(result.err, HasSubstr("cannot read \"" + file + "\": it is not a regular file"));
  }
  EXPECT_THAT(Cli({"compare", "folder", "a.json"}).err,
              HasSubstr("cannot read \"folder\": it is a directory"));
  WriteBytes(dir_.File("huge.json"), std::string(2 * 1024 * 1024 + 1, ' '));
  EXPECT_THAT(Cli({"compare", "huge.json", "a.json"}).err,
              HasSubstr("cannot read \"huge.json\": it is larger than 2 MiB"));
  WriteBytes(dir_.File("many.json"), ExportOf(1, 10001, 1000));
  EXPECT_THAT(Cli({"compare", "many.json", "a.json"}).err,
              HasSubstr("\"many.json\" holds 10001 passes of g1 ddraw; compare takes at most "
                        "10000"));

  // The largest exports taken, 20 games of 10,000 passes each: 2 billion pairs of passes.
  WriteBytes(dir_.File("big_a.json"), ExportOf(20, 10000, 1000));
  WriteBytes(dir_.File("big_b.json"), ExportOf(20, 10000, 1010));
  const CliResult big = Cli({"compare", "big_a.json", "big_b.json"});
  ASSERT_EQ(big.code, 0) << big.err;
  EXPECT_THAT(LineOf(big.out, "g20        DDraw"), HasSubstr("+1.0%"));
  EXPECT_THAT(LineOf(big.out, "g20        DDraw"), HasSubstr("B faster, beyond the noise"));
}

TEST_F(CliCompareTest, GivesNoVerdictForRunsWithWarningsOrOnDifferentMachines) {
  const std::string epyc = "\"machine\": {\"cpu_model\": \"AMD EPYC\", \"cores\": 2}, ";
  const std::string load = "\"warnings\": [{\"kind\": \"load\"}], ";
  struct Case {
    std::string a, b, verdict, reason;
  };
  const std::vector<Case> cases = {
      {epyc, epyc, "B faster, beyond the noise", "<none>"},
      {epyc + load, epyc, "no verdict (see below)",
       "No verdict: A was measured with warnings (see above)."},
      {epyc, "\"machine\": {\"cpu_model\": \"Intel Core\", \"cores\": 2}, ",
       "no verdict (see below)", "No verdict: A and B were measured on different machines."},
      {epyc, "\"machine\": {\"cpu_model\": \"AMD EPYC\", \"cores\": 8}, ", "no verdict (see below)",
       "No verdict: A and B were measured on different machines."},
  };
  for (const Case& c : cases) {
    WriteBytes(dir_.File("a.json"), ExportWith("1000,1001,1002,1003,1004,1005", c.a));
    WriteBytes(dir_.File("b.json"), ExportWith("1100,1101,1102,1103,1104,1105", c.b));
    const std::string out = Cli({"compare", "a.json", "b.json"}).out;
    // The figures stay; only the verdict is held back.
    EXPECT_THAT(LineOf(out, "pacman"),
                HasSubstr("+10.0%  +9.7% to +10.3%      0.0022  " + c.verdict));
    EXPECT_THAT(LineOf(out, "No verdict"), StartsWith(c.reason));
  }
}

TEST_F(CliCompareTest, RefusesAnExportWithPassesItCannotUseNamingTheFile) {
  WriteBytes(dir_.File("a.json"), ExportWith("1000,1001,1002,1003"));
  const std::string pacman = "{\"rom\": \"pacman\", \"method\": \"ddraw\", \"passes\": [1000]}";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {ExportWith("1000,1e999"), "\"b.json\" is not a JSON document: a number out of range"},
      {ExportWith("1000,0,1001"),
       "\"b.json\" holds a pass of pacman DDraw of 0 fps; compare takes "
       "only passes that measured a frame rate"},
      {ExportWith("1000,-5"), "\"b.json\" holds a pass of pacman DDraw of -5 fps"},
      {"{\"format\": \"velotrax-run/1\", \"results\": [" + pacman + ", " + pacman + "]}",
       "\"b.json\" holds two series of pacman DDraw; compare takes one of each game and method"},
      {ExportOf(2, 4, 1000),
       "\"a.json\" and \"b.json\" have no game and method in common: nothing to compare"},
  };
  for (const auto& [b, error] : cases) {
    WriteBytes(dir_.File("b.json"), b);
    const CliResult result = Cli({"compare", "a.json", "b.json"});
    EXPECT_EQ(result.code, 1);
    EXPECT_THAT(result.err, HasSubstr(error));
    EXPECT_EQ(result.out, "");
  }
}

// A score section as the desktop program writes it: every game, pacman's scores as given.
std::string Section(int number, const std::string& name, int d3d, int ddraw) {
  ProgramState state;
  BuildCatalogue(state);
  std::string text = "[" + std::to_string(number) + "]\r\ncpu=" + name + "\r\n";
  for (int i = 1; i < game_count; ++i) {
    const bool pacman = state.games[i].rom == "pacman";
    text += state.games[i].rom + "=" + std::to_string(pacman ? d3d : 0) + "\r\n" +
            state.games[i].rom + "a=" + std::to_string(pacman ? ddraw : 0) + "\r\n";
  }
  return text;
}

// This computer and two reference computers named by strangers.
class CliShowFilesTest : public ::testing::Test, public CliHarness {
 protected:
  void SetUp() override {
    const std::string long_name(60, 'W');
    WriteBytes(dir_.File("mark.dat"), Section(0, "@home", 100, 40));
    WriteBytes(dir_.File("reference.dat"), "[0]\r\nreference=2\r\n" +
                                               Section(1, long_name, 50, 200) +
                                               Section(2, "=HYPERLINK(\"x\")", 0, 0));
  }
};

TEST_F(CliShowFilesTest, CsvCellsThatSpreadsheetsWouldRunAreWrittenAsText) {
  const CliResult csv = Cli({"show", "--format", "csv", "--ref", "1", "--ref", "2", "pacman"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  EXPECT_THAT(csv.out, HasSubstr(",0,\"'@home\",40,100\r\n"));
  EXPECT_THAT(csv.out, HasSubstr(",2,\"'=HYPERLINK(\"\"x\"\")\",N/A,N/A\r\n"));
  EXPECT_THAT(csv.out, HasSubstr(",1," + std::string(60, 'W') + ",200,50\r\n"));
}

TEST_F(CliShowFilesTest, ShowingAReferenceWithoutTheFileSaysItIsMissing) {
  std::filesystem::remove(dir_.File("reference.dat"));
  const CliResult result = Cli({"show", "--ref", "1"});
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(result.err, HasSubstr("there is no reference.dat in this directory"));
  EXPECT_EQ(Cli({"show", "pacman"}).code, 0);
}

TEST_F(CliShowFilesTest, TheChartHasAValueAxisAndKeepsEveryLabelInside) {
  ASSERT_EQ(Cli({"show", "--svg", "chart.svg", "--ref", "1", "--ref", "2", "pacman"}).code, 0);
  const std::string chart = ReadBytes(dir_.File("chart.svg"));
  // pacman's largest score is 200: ticks every 50.
  EXPECT_THAT(chart, HasSubstr("class=\"axis\""));
  for (const char* tick : {">0</text>", ">50</text>", ">100</text>", ">150</text>", ">200</text>"})
    EXPECT_THAT(chart, HasSubstr(tick));
  // DirectDraw first, as in the window.
  EXPECT_LT(chart.find("This computer (@home) DDraw"), chart.find("This computer (@home) D3D"));

  std::smatch match;
  ASSERT_TRUE(std::regex_search(chart, match, std::regex("<svg [^>]*width=\"([0-9]+)\"")));
  const int width = std::stoi(match[1]);
  // Each label's room at seven pixels a character (more than the widest letters of the font).
  const std::regex label("<text x=\"([0-9]+)\"[^>]*?( text-anchor=\"end\")?>([^<]*)</text>");
  int labels = 0;
  for (auto it = std::sregex_iterator(chart.begin(), chart.end(), label);
       it != std::sregex_iterator(); ++it) {
    const int x = std::stoi((*it)[1]);
    const int room = static_cast<int>((*it)[3].length()) * 7;
    if ((*it)[2].matched) {
      EXPECT_GE(x - room, 0) << (*it)[3];
    } else {
      EXPECT_LE(x + room, width) << (*it)[3];
    }
    ++labels;
  }
  EXPECT_GT(labels, 10);
  EXPECT_THAT(chart, HasSubstr(">" + std::string(37, 'W') + "... DDraw<"));  // cut by the bars...
  EXPECT_THAT(chart, HasSubstr(std::string(60, 'W') + " D3D"));  // ...whole in the legend
}

}  // namespace
}  // namespace velotrax
