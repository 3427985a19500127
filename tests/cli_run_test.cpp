// velotrax-cli run with repeats until the median is known well enough, its exports, and how it
// ends when its output or its terminal goes away; the scripted emulator reports known rates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/state.h"
#include "process/processors.h"
#include "results/json_reader.h"
#include "storage/score_files.h"
#include "tests/cli_harness.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
using results::JsonValue;
using results::ParseJson;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace velotrax::testing;

std::vector<double> Numbers(const JsonValue* array) {
  std::vector<double> numbers;
  if (array == nullptr) return numbers;
  for (const JsonValue& item : array->items) numbers.push_back(item.number);
  return numbers;
}

class CliRunTest : public ::testing::Test, public CliHarness {};

// One pass far low and one far high, then passes within a few frames of 1000: the order-statistics
// interval first leaves out the two far ones at nine passes: [x(2), x(8)] = [998, 1003].
const std::string kSettling = "700,1300,1000,1002,998,1001,999,1000,1003,1000,1000,1000";

TEST_F(CliRunTest, ConfidenceRunsUntilTheIntervalIsTightAndExportsEveryPass) {
  const CliResult result = Cli({"run", "--confidence", "2", "--warmup", "2", "--export-json",
                                "run.json", "--export-markdown", "run.md", "pacman"},
                               {{"CLI_EMULATOR_FPS_SEQUENCE", "1,2," + kSettling}});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(EmulatorStarts(), 2 + 9);
  EXPECT_THAT(result.out, HasSubstr("pacman DDraw warm-up pass 2 of 2: 2 fps (not counted)"));
  EXPECT_THAT(result.out, HasSubstr("pacman DDraw pass 9: 1003 fps; median 1000.0, 95% interval "
                                    "998 to 1003 = ±0.3%"));
  EXPECT_THAT(result.out, HasSubstr("pacman DDraw: 1000 fps stored (median of 9 passes"));
  EXPECT_THAT(result.out, HasSubstr("outlier(s): pass 1 (700 fps) pass 2 (1300 fps)"));
  EXPECT_THAT(result.err, HasSubstr("pacman DDraw: 2 pass(es) far from the others"));
  EXPECT_THAT(ReadBytes(dir_.File("mark.dat")), HasSubstr("\r\npacmana=1000\r\n"));

  const JsonValue run = ParseJson(ReadBytes(dir_.File("run.json")));
  EXPECT_EQ(run.Find("format")->text, "velotrax-run/1");
  EXPECT_THAT(run.Find("date")->text, ::testing::MatchesRegex("20[0-9-]+T[0-9:]+Z"));
  EXPECT_GE(run.Find("machine")->Find("cores")->number, 1);
  EXPECT_EQ(run.Find("machine")->Find("kernel")->kind, JsonValue::Kind::string);
  EXPECT_EQ(run.Find("emulator")->Find("file")->text, "mame.exe");
  EXPECT_EQ(run.Find("emulator")->Find("dialect")->text, "classic");
  EXPECT_EQ(run.Find("velotrax_version")->kind, JsonValue::Kind::string);
  EXPECT_EQ(run.Find("settings")->Find("confidence_percent")->number, 2);
  EXPECT_EQ(run.Find("settings")->Find("warmup")->number, 2);
  ASSERT_EQ(run.Find("results")->items.size(), 1u);
  const JsonValue& pacman = run.Find("results")->items[0];
  EXPECT_EQ(pacman.Find("rom")->text, "pacman");
  EXPECT_EQ(pacman.Find("method")->text, "ddraw");
  EXPECT_THAT(Numbers(pacman.Find("warmup")), ::testing::ElementsAre(1, 2));
  EXPECT_THAT(Numbers(pacman.Find("passes")),
              ::testing::ElementsAre(700, 1300, 1000, 1002, 998, 1001, 999, 1000, 1003));
  EXPECT_EQ(pacman.Find("stored")->number, 1000);
  // Reported after the stop: the 97 % interval, [x(1), x(9)] of nine passes.
  EXPECT_EQ(pacman.Find("ci95")->Find("low")->number, 700);
  EXPECT_EQ(pacman.Find("ci95")->Find("high")->number, 1300);
  EXPECT_THAT(Numbers(pacman.Find("outliers")), ::testing::ElementsAre(1, 2));
  EXPECT_THAT(pacman.Find("stopped")->text, HasSubstr("after 9 passes"));
  EXPECT_EQ(run.Find("warnings")->kind, JsonValue::Kind::array);

  const std::string markdown = ReadBytes(dir_.File("run.md"));
  EXPECT_THAT(markdown, HasSubstr("| 23 | pacman | DDraw | 1000 | 700 to 1300 (±30.0%) | 700 1300 "
                                  "1000 1002 998 1001 999 1000 1003 | pass 1, pass 2 |"));
}

TEST_F(CliRunTest, ASpreadThatNeverSettlesEndsAtTheMostPassesWithAWarning) {
  const CliResult result =
      Cli({"run", "--confidence=2", "--max-runs", "8", "--mode", "both", "dkong"},
          {{"CLI_EMULATOR_FPS_SEQUENCE", "900,1100"}});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(EmulatorStarts(), 16);
  EXPECT_THAT(result.err, HasSubstr("dkong D3D: the interval was still ±10.0 % after the most "
                                    "passes (8); the score may be off by more than 2.0%"));
  // On a virtual machine the reason no measure takes away is said once, for both series.
  const std::string root = scratch_.File("root");
  std::filesystem::create_directories(root + "/proc");
  WriteBytes(root + "/proc/cpuinfo", "processor\t: 0\nflags\t\t: fpu sse2 hypervisor lahf_lm\n");
  const std::vector<std::string> spread = {"run",    "--confidence=2", "--max-runs", "6",
                                           "--mode", "both",           "dkong"};
  const std::string said =
      Cli(spread, {{"CLI_EMULATOR_FPS_SEQUENCE", "900,1100"}, {"VELOTRAX_SYSTEM_ROOT", root}}).err;
  const std::size_t first = said.find("this is a virtual machine");
  EXPECT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find("this is a virtual machine", first + 1), std::string::npos) << said;
  WriteBytes(root + "/proc/cpuinfo", "processor\t: 0\nflags\t\t: fpu sse2 lahf_lm\n");
  EXPECT_THAT(
      Cli(spread, {{"CLI_EMULATOR_FPS_SEQUENCE", "900,1100"}, {"VELOTRAX_SYSTEM_ROOT", root}}).err,
      Not(HasSubstr("virtual machine")));
  // At least six passes, as the interval needs, unless --min-runs asks for more.
  WriteBytes(dir_.File("emulator.log"), "");
  EXPECT_EQ(Cli({"run", "--confidence", "5", "--min-runs", "7", "pacman"}).code, 0);
  EXPECT_EQ(EmulatorStarts(), 7);

  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"run", "--confidence", "0", "pacman"},
        {"run", "--confidence", "2", "--repeat", "3", "pacman"},
        {"run", "--min-runs", "3", "pacman"},
        {"run", "--confidence", "2", "--min-runs", "9", "--max-runs", "8", "pacman"},
        {"run", "--export-json=", "pacman"}}) {
    EXPECT_EQ(Cli(wrong).code, 2) << wrong[2];
  }
}

TEST_F(CliRunTest, RepeatedPassesAreKeptSteadyAsAsked) {
  // A cold first pass among steady ones: set aside, and one more pass run in its place.
  const std::string cold = "700,1000,1001,999,1000,1002,1000";
  CliResult result = Cli({"run", "--repeat", "6", "--export-json", "run.json", "pacman"},
                         {{"CLI_EMULATOR_FPS_SEQUENCE", cold}});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(EmulatorStarts(), 7);
  EXPECT_THAT(result.out, HasSubstr("pacman DDraw pass 1 (700 fps) was slower than every pass "
                                    "after it: taken for a warm-up, not counted"));
  JsonValue run = ParseJson(ReadBytes(dir_.File("run.json")));
  const JsonValue* isolation = run.Find("settings")->Find("isolation");
  ASSERT_NE(isolation, nullptr);
  EXPECT_EQ(isolation->Find("priority")->text, "raised");
  EXPECT_EQ(isolation->Find("warmup")->text, "auto");
  // Left to the system unless asked: an emulator with threads of its own is slower on one.
  EXPECT_EQ(isolation->Find("processor")->kind, JsonValue::Kind::null);
  EXPECT_THAT(Numbers(run.Find("results")->items[0].Find("warmup")), ::testing::ElementsAre(700));
  // Asked, bound wherever there is another processor for Velotrax's own threads.
  ASSERT_EQ(
      Cli({"run", "--repeat", "2", "--processor", "auto", "--export-json", "run.json", "pacman"})
          .code,
      0);
  EXPECT_EQ(ParseJson(ReadBytes(dir_.File("run.json")))
                .Find("settings")
                ->Find("isolation")
                ->Find("processor")
                ->kind,
            AllowedProcessors().size() > 1 ? JsonValue::Kind::number : JsonValue::Kind::null);

  // Each measure turned off: every pass counts and the export reads as before the measures.
  WriteBytes(dir_.File("emulator.log"), "");
  result = Cli({"run", "--repeat", "6", "--processor", "any", "--priority", "normal", "--warmup",
                "0", "--export-json", "run.json", "pacman"},
               {{"CLI_EMULATOR_FPS_SEQUENCE", cold}});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(EmulatorStarts(), 6);
  run = ParseJson(ReadBytes(dir_.File("run.json")));
  EXPECT_EQ(run.Find("settings")->Find("isolation"), nullptr);

  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"run", "--processor", "99999", "pacman"},
        {"run", "--processor", "-1", "pacman"},
        {"run", "--priority", "high", "pacman"},
        {"run", "--warmup", "soon", "pacman"}}) {
    const CliResult refused = Cli(wrong);
    EXPECT_EQ(refused.code, 2) << wrong[2];
    EXPECT_THAT(refused.err, HasSubstr(wrong[1])) << wrong[2];
  }
}

// A fake root for the machine checks: on battery, a power-saving governor, a slow clock.
void FakeNoisyMachine(const std::string& root) {
  for (const char* dir : {"/proc", "/sys/class/power_supply/BAT0", "/sys/class/power_supply/AC",
                          "/sys/devices/system/cpu/cpu0/cpufreq"}) {
    std::filesystem::create_directories(root + dir);
  }
  WriteBytes(root + "/proc/stat", "cpu  100 0 100 1000 0 0 0 0 0 0\n");
  WriteBytes(root + "/proc/loadavg", "0.10 0.20 0.30 1/100 42\n");
  WriteBytes(root + "/proc/cpuinfo", "processor\t: 0\nmodel name\t: Fake CPU 3000\n");
  WriteBytes(root + "/proc/meminfo", "MemTotal:        2048000 kB\n");
  WriteBytes(root + "/sys/class/power_supply/BAT0/type", "Battery\n");
  WriteBytes(root + "/sys/class/power_supply/BAT0/status", "Discharging\n");
  WriteBytes(root + "/sys/class/power_supply/AC/type", "Mains\n");
  WriteBytes(root + "/sys/class/power_supply/AC/online", "0\n");
  const std::string policy = root + "/sys/devices/system/cpu/cpu0/cpufreq/";
  WriteBytes(policy + "scaling_governor", "powersave\n");
  WriteBytes(policy + "scaling_cur_freq", "800000\n");
  WriteBytes(policy + "cpuinfo_max_freq", "3000000\n");
}

TEST_F(CliRunTest, MachineWarningsGoToStandardErrorAndIntoTheExport) {
  const std::string root = scratch_.File("root");
  FakeNoisyMachine(root);
  const CliResult result =
      Cli({"run", "--export-json", "run.json", "pacman"}, {{"VELOTRAX_SYSTEM_ROOT", root}});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("velotrax-cli: warning: the computer runs on battery"));
  EXPECT_THAT(result.err, HasSubstr("\"powersave\" on 1 of 1 processors"));
  const JsonValue run = ParseJson(ReadBytes(dir_.File("run.json")));
  EXPECT_EQ(run.Find("machine")->Find("cpu_model")->text, "Fake CPU 3000");
  EXPECT_EQ(run.Find("machine")->Find("memory_kib")->number, 2048000);
  std::vector<std::string> kinds;
  for (const JsonValue& w : run.Find("warnings")->items) kinds.push_back(w.Find("kind")->text);
  EXPECT_THAT(kinds, ::testing::IsSupersetOf({"battery", "governor"}));
  // The machine has no thermal throttle counters: the export says that check was not made.
  std::vector<std::string> not_offered;
  for (const JsonValue& kind : run.Find("machine")->Find("checks_not_offered")->items) {
    not_offered.push_back(kind.text);
  }
  EXPECT_THAT(not_offered, ::testing::ElementsAre("thermal"));

  // --no-checks, and a single pass with standard error no terminal, check nothing.
  EXPECT_THAT(
      Cli({"run", "--no-checks", "--repeat", "2", "pacman"}, {{"VELOTRAX_SYSTEM_ROOT", root}}).err,
      Not(HasSubstr("warning")));
  EXPECT_EQ(Cli({"run", "pacman"}, {{"VELOTRAX_SYSTEM_ROOT", root}}).err, "");
}

TEST_F(CliRunTest, OutputThatCannotBeWrittenIsAFailure) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run", "pacman"}, {"show"}, {"games"}, {"run", "--help"}}) {
    SCOPED_TRACE(args[0]);
    const CliResult full = Cli(args, {}, "/dev/full");
    EXPECT_EQ(full.code, 1);
    EXPECT_THAT(full.err, HasSubstr("velotrax-cli: cannot write the output"));
  }
  // What was measured is stored all the same.
  EXPECT_THAT(ReadBytes(dir_.File("mark.dat")), HasSubstr("\r\npacmana=123\r\n"));

  // An export that cannot be written ends the run after the score it follows has been shown,
  // and says why once.
  const CliResult no_export = Cli({"run", "--export-json", "missing/run.json", "pacman"});
  EXPECT_EQ(no_export.code, 1);
  EXPECT_THAT(no_export.out, HasSubstr("pacman DDraw: 123 fps stored"));
  const std::size_t first = no_export.err.find("missing/run.json");
  ASSERT_NE(first, std::string::npos) << no_export.err;
  EXPECT_EQ(no_export.err.find("missing/run.json", first + 1), std::string::npos) << no_export.err;
}

TEST_F(CliRunTest, AWindowOpenDuringTheRunKeepsItsScoresAndTheRuns) {
  ProgramState window;  // opened on an empty folder, then a pass measured in it
  window.base_dir = dir_.Path() + "/";
  BuildCatalogue(window);
  window.games[23].d3d = 812;
  const CliResult result = Cli({"run", "--mode", "d3d", "dkong", "galaxian"});
  ASSERT_EQ(result.code, 0) << result.err;
  SaveScores(window);  // the window closes
  const std::string mark = ReadBytes(dir_.File("mark.dat"));
  EXPECT_THAT(mark, HasSubstr("\r\ndkong=123\r\n"));
  EXPECT_THAT(mark, HasSubstr("\r\ngalaxian=123\r\n"));
  EXPECT_THAT(mark, HasSubstr("\r\npacman=812\r\n"));
}

TEST_F(CliRunTest, AClosedTerminalStopsTheEmulatorAsCtrlCDoes) {
  const pid_t cli = Start({"run", "--export-json", "run.json", "dkong", "pacman"},
                          {{"CLI_EMULATOR_HANG", "pacman"}});
  pid_t emulator = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 30s;
       emulator == 0 && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(20ms)) {
    if (FileIsPresent(dir_.File("hanging.pid"))) {
      emulator = static_cast<pid_t>(std::stol(ReadBytes(dir_.File("hanging.pid"))));
    }
  }
  ASSERT_NE(emulator, 0);
  ::kill(cli, SIGHUP);
  const CliResult result = Finish(cli);
  EXPECT_EQ(result.code, 128 + SIGHUP);
  const bool left_running = ::kill(emulator, 0) == 0;
  EXPECT_FALSE(left_running) << "the emulator runs on";
  if (left_running) ::kill(emulator, SIGKILL);
  EXPECT_THAT(result.err, HasSubstr("interrupted; the results measured before it are stored"));
  EXPECT_THAT(ReadBytes(dir_.File("mark.dat")), HasSubstr("\r\ndkonga=123\r\n"));
  const JsonValue run = ParseJson(ReadBytes(dir_.File("run.json")));
  ASSERT_EQ(run.Find("results")->items.size(), 1u);
  EXPECT_EQ(run.Find("results")->items[0].Find("rom")->text, "dkong");
}

TEST_F(CliRunTest, ProgressOnATerminalShowsTheEstimateAndItsInterval) {
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  // The scripted emulator ends at once; a hanging last pass keeps the progress line up.
  const pid_t cli = Start(
      {"run", "--confidence", "1", "--max-runs", "7", "pacman", "dkong"},
      {{"CLI_EMULATOR_FPS_SEQUENCE", "100,101,99,100,102,98,100"}, {"CLI_EMULATOR_HANG", "dkong"}},
      "", ::ptsname(terminal));
  std::string shown;
  char buffer[4096];
  ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  for (auto deadline = std::chrono::steady_clock::now() + 30s;
       shown.find("dkong  DDraw") == std::string::npos &&
       std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(20ms)) {
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  }
  ::kill(cli, SIGINT);
  Finish(cli);
  ::close(terminal);
  EXPECT_THAT(shown, HasSubstr("pass 5 of at most 14  pacman  DDraw"));
  EXPECT_THAT(shown, HasSubstr("median 100.5, 95% interval after 6 passes"));
  EXPECT_THAT(shown, HasSubstr("dkong  DDraw"));
  EXPECT_THAT(shown, HasSubstr("pass 7 of at most 14  pacman  DDraw"));
  EXPECT_THAT(shown, HasSubstr("median 100.0, 95% interval 98 to 102 = ±2.0%"));
}

}  // namespace
}  // namespace velotrax
