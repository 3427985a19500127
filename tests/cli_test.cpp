// velotrax-cli, run as a real program in temporary working directories: with the demo emulator as
// mame.exe for real passes, and with a scripted emulator (tests/helpers/cli_emulator.c) where a
// pass must hang, fail or report a known frame rate.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "emulator/emulator_contract.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "tests/cli_harness.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace velotrax::testing;

const std::string kDemoEmulator = VELOTRAX_DEMO_EMULATOR;
const std::string kScriptedEmulator = std::string(VELOTRAX_HELPER_DIR) + "/helper-cli_emulator";

using Result = CliResult;

std::vector<std::string> Catalogue() {
  ProgramState state;
  BuildCatalogue(state);
  std::vector<std::string> roms;
  for (int i = 0; i < game_count; ++i) roms.push_back(state.games[i].rom);
  return roms;
}

// A mark.dat as the desktop program writes it.
std::string MarkDat(const std::string& description,
                    const std::map<std::string, std::pair<int, int>>& scores) {
  std::string text = "[0]\r\ncpu=" + description + "\r\n";
  const std::vector<std::string> roms = Catalogue();
  for (int i = 1; i < game_count; ++i) {
    const auto it = scores.find(roms[i]);
    const auto [d3d, ddraw] = it == scores.end() ? std::pair<int, int>{0, 0} : it->second;
    text += roms[i] + "=" + std::to_string(d3d) + "\r\n" + roms[i] + "a=" + std::to_string(ddraw) +
            "\r\n";
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The lines of a whose key is not one of keys are those of b.
void ExpectSameExcept(const std::string& a, const std::string& b,
                      const std::vector<std::string>& keys) {
  const std::vector<std::string> la = Lines(a), lb = Lines(b);
  ASSERT_EQ(la.size(), lb.size());
  for (std::size_t i = 0; i < la.size(); ++i) {
    const std::string key = la[i].substr(0, la[i].find('='));
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
    EXPECT_EQ(la[i], lb[i]) << "line " << i + 1;
  }
}

bool ProcessGone(pid_t pid) {
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
  }
  return false;
}

class CliTest : public ::testing::Test, public CliHarness {
 protected:
  void SetUp() override { UseEmulator(kDemoEmulator); }

  void UseEmulator(const std::string& program, const std::string& name = "mame.exe") {
    std::filesystem::copy_file(program, dir_.File(name),
                               std::filesystem::copy_options::overwrite_existing);
    ::chmod(dir_.File(name).c_str(), 0755);
  }

  // Starts the tool with short demo passes unless env says otherwise; Finish collects it.
  pid_t Start(const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {},
              const std::string& err_path = "") {
    std::map<std::string, std::string> merged = {{"VELOTRAX_DEMO_FRAMES", "20"}};
    for (const auto& [key, value] : env) merged[key] = value;
    return CliHarness::Start(args, merged, "", err_path);
  }

  Result Cli(const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {}) {
    return Finish(Start(args, env));
  }

  // This computer's scores as the desktop program reads them.
  ProgramState Scores() {
    ProgramState state;
    state.base_dir = dir_.Path() + "/";
    BuildCatalogue(state);
    LoadScores(state);
    return state;
  }

  // Every name in the directory but the emulators and what the scripted one writes.
  std::vector<std::string> OtherFiles() const {
    std::vector<std::string> names;
    for (const std::string& name : dir_.Names()) {
      if (name != "mame.exe" && name != "emulator.log" && name != "hanging.pid") {
        names.push_back(name);
      }
    }
    return names;
  }
};

TEST_F(CliTest, GamesListsTheCatalogueOneGameALine) {
  const Result result = Cli({"games"});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 54u);
  ProgramState state;
  BuildCatalogue(state);
  for (int i = 1; i < game_count; ++i) {
    std::istringstream line(lines[static_cast<std::size_t>(i - 1)]);
    int index = 0;
    std::string rom, driver;
    line >> index >> rom >> driver;
    EXPECT_EQ(index, i);
    EXPECT_EQ(rom, state.games[i].rom);
    EXPECT_EQ(driver, state.games[i].driver);
  }
}

TEST_F(CliTest, HelpIsThereForTheToolAndEveryCommand) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"},
                                             {"help"},
                                             {"run", "--help"},
                                             {"run", "pacman", "-h"},
                                             {"show", "--help"},
                                             {"publish", "--help"},
                                             {"games", "--help"}}) {
    SCOPED_TRACE(args.front() + " " + args.back());
    const Result result = Cli(args);
    EXPECT_EQ(result.code, 0);
    EXPECT_THAT(result.out, StartsWith("Usage: velotrax-cli"));
  }
  const Result bare = Cli({});
  EXPECT_EQ(bare.code, 2);
  EXPECT_THAT(bare.err, StartsWith("Usage: velotrax-cli"));
  EXPECT_THAT(OtherFiles(), ElementsAre());
}

TEST_F(CliTest, UsageErrorsExitWith2AndTouchNothing) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"run"}, "no game given"},
      {{"run", "Pac-Man"}, "unknown game 'Pac-Man'"},
      {{"run", "55"}, "unknown game '55'"},
      {{"run", "0"}, "unknown game '0'"},
      {{"run", "pacman", "nosuchgame"}, "unknown game 'nosuchgame'"},
      {{"run", "--mode", "opengl", "pacman"}, "--mode must be ddraw, d3d or both"},
      {{"run", "--repeat", "0", "pacman"}, "--repeat wants a number of passes"},
      {{"run", "--repeat", "-3", "pacman"}, "--repeat wants a number of passes"},
      {{"run", "--repeat"}, "--repeat needs a value"},
      {{"run", "--all", "pacman"}, "give either --all or games"},
      {{"run", "--fast", "pacman"}, "unknown option '--fast'"},
      {{"show", "--format", "xml"}, "--format must be table, csv, json or markdown"},
      {{"show", "asteroids"}, "unknown game 'asteroids'"},
      {{"publish"}, "give the computer's name with --name"},
      {{"publish", "--name", ""}, "--name must not be empty"},
      {{"publish", "--name", "two\nlines"}, "--name must be a single line"},
      {{"games", "extra"}, "games takes no arguments"},
  };
  WriteBytes(dir_.File("mark.dat"), MarkDat("kept", {{"pacman", {1, 2}}}));
  const std::string before = ReadBytes(dir_.File("mark.dat"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    const Result result = Cli(c.args);
    EXPECT_EQ(result.code, 2);
    EXPECT_THAT(result.err, StartsWith(std::string("velotrax-cli: ") + c.message));
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), before);
  EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat"));
}

TEST_F(CliTest, TheUserWorkspaceOptionWorksInTheUsersOwnFolderMadeOnFirstUse) {
  const std::string data_home = scratch_.File("data");
  const std::string workspace = data_home + "/velotrax";
  const Result first = Cli({"--user-workspace", "games"}, {{"XDG_DATA_HOME", data_home}});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(Lines(first.out).size(), 54u);
  EXPECT_TRUE(std::filesystem::is_directory(workspace + "/roms"));

  // The emulator, the scores and the files beside them are the workspace's.
  std::filesystem::copy_file(kScriptedEmulator, workspace + "/mame.exe");
  const Result run = Cli({"--user-workspace", "run", "pacman"},
                         {{"XDG_DATA_HOME", data_home}, {"CLI_EMULATOR_FPS", "77"}});
  ASSERT_EQ(run.code, 0) << run.err;
  ProgramState state;
  state.base_dir = workspace + "/";
  BuildCatalogue(state);
  LoadScores(state);
  EXPECT_EQ(state.games[23].ddraw, 77);
  EXPECT_EQ(EmulatorStarts(), 0);
  EXPECT_THAT(OtherFiles(), ElementsAre());

  WriteBytes(scratch_.File("file"), "");
  const Result refused =
      Cli({"--user-workspace", "games"}, {{"XDG_DATA_HOME", scratch_.File("file")}});
  EXPECT_EQ(refused.code, 1);
  EXPECT_THAT(refused.err, StartsWith("velotrax-cli: Cannot create the workspace folder \"" +
                                      scratch_.File("file") + "\""));
  EXPECT_EQ(refused.out, "");
}

TEST_F(CliTest, RunStoresTheGamesRunAndKeepsEverythingElseByteForByte) {
  const std::string before =
      MarkDat("My PC, \"fast\" \xe9", {{"pacman", {11, 12}}, {"dkong", {21, 22}}, {"720", {1, 2}}});
  WriteBytes(dir_.File("mark.dat"), before);

  // By rom, by the selector's spelling and by index.
  const Result result = Cli({"run", "pacman", "Asteroid", "5"});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::string after = ReadBytes(dir_.File("mark.dat"));
  ExpectSameExcept(after, before, {"pacmana", "asteroida", "dkonga"});
  const ProgramState scores = Scores();
  for (int game : {2, 5, 23}) {
    SCOPED_TRACE(scores.games[game].rom);
    EXPECT_GT(scores.games[game].ddraw, 0);
    EXPECT_LT(scores.games[game].ddraw, 10000000);
    EXPECT_THAT(result.out, HasSubstr(scores.games[game].rom + " DDraw: " +
                                      std::to_string(scores.games[game].ddraw) + " fps stored"));
  }
  // Direct3D scores were not run and stay.
  EXPECT_EQ(scores.games[23].d3d, 11);
  EXPECT_EQ(scores.games[5].d3d, 21);
  // Neither velotrax.ini nor a temporary file is left behind; the file before the last save is
  // the backup.
  EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat", "mark.dat.bak"));
}

TEST_F(CliTest, RunStartsTheEmulatorOfVelotraxIniWithTheDesktopProgramsCommandLine) {
  std::filesystem::remove(dir_.File("mame.exe"));
  UseEmulator(kScriptedEmulator, "other.exe");
  const std::string settings = "[velotrax]\r\nmamefile=other.exe\r\nselected=3\r\nmethode=2\r\n";
  WriteBytes(dir_.File("velotrax.ini"), settings);

  const Result result = Cli({"run", "--mode", "both", "pacman"}, {{"CLI_EMULATOR_FPS", "245"}});
  ASSERT_EQ(result.code, 0) << result.err;
  std::string expected_ddraw = "other.exe|pacman", expected_d3d = expected_ddraw;
  for (const std::string& word : SplitCommandLine(DDrawOptionString)) expected_ddraw += "|" + word;
  for (const std::string& word : SplitCommandLine(D3DOptionString)) expected_d3d += "|" + word;
  EXPECT_THAT(Lines(ReadBytes(dir_.File("emulator.log"))),
              ElementsAre(expected_ddraw, expected_d3d));
  EXPECT_EQ(ReadBytes(dir_.File("velotrax.ini")), settings);
  EXPECT_EQ(Scores().games[23].d3d, 245);
  EXPECT_EQ(Scores().games[23].ddraw, 245);

  // Without a "mamefile" key the emulator is mame.exe, as in the desktop program.
  WriteBytes(dir_.File("velotrax.ini"), "[velotrax]\r\nselected=3\r\n");
  const Result missing = Cli({"run", "pacman"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_THAT(missing.err, HasSubstr("System Error.  Code: 2."));
  UseEmulator(kScriptedEmulator);
  EXPECT_EQ(Cli({"run", "pacman"}).code, 0);
  EXPECT_THAT(Lines(ReadBytes(dir_.File("emulator.log"))).back(), StartsWith("mame.exe|pacman|"));

  // --all runs every game of the catalogue, in its order.
  std::filesystem::remove(dir_.File("emulator.log"));
  ASSERT_EQ(Cli({"run", "--all"}, {{"CLI_EMULATOR_FPS", "77"}}).code, 0);
  const std::vector<std::string> started = Lines(ReadBytes(dir_.File("emulator.log")));
  ASSERT_EQ(started.size(), 54u);
  const ProgramState scores = Scores();
  for (int i = 1; i < game_count; ++i) {
    EXPECT_THAT(started[static_cast<std::size_t>(i - 1)],
                StartsWith("mame.exe|" + scores.games[i].rom + "|"));
    EXPECT_EQ(scores.games[i].ddraw, 77);
  }
}

TEST_F(CliTest, RepeatPrintsEveryPassAndStoresTheMedian) {
  const Result result = Cli({"run", "--repeat", "3", "--mode=d3d", "dkong"});
  ASSERT_EQ(result.code, 0) << result.err;
  std::vector<int> rates;
  for (const std::string& line : Lines(result.out)) {
    const std::string prefix = "dkong D3D pass " + std::to_string(rates.size() + 1) + " of 3: ";
    if (line.rfind(prefix, 0) == 0) rates.push_back(std::stoi(line.substr(prefix.size())));
  }
  ASSERT_EQ(rates.size(), 3u) << result.out;
  std::vector<int> sorted = rates;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(Scores().games[5].d3d, sorted[1]);
  EXPECT_EQ(Scores().games[5].ddraw, 0);
  EXPECT_THAT(result.out, HasSubstr("median of 3 passes; min " + std::to_string(sorted[0]) +
                                    ", max " + std::to_string(sorted[2]) + ", spread " +
                                    std::to_string(sorted[2] - sorted[0])));
}

TEST_F(CliTest, BothModeRunsDirectDrawThenDirect3DAndFillsBothScores) {
  const Result result = Cli({"run", "--mode", "both", "frogger", "galaxian"});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_THAT(lines[0], StartsWith("frogger DDraw: "));
  EXPECT_THAT(lines[1], StartsWith("frogger D3D: "));
  EXPECT_THAT(lines[2], StartsWith("galaxian DDraw: "));
  EXPECT_THAT(lines[3], StartsWith("galaxian D3D: "));
  const ProgramState scores = Scores();
  for (int game : {6, 9}) {
    EXPECT_GT(scores.games[game].d3d, 0);
    EXPECT_GT(scores.games[game].ddraw, 0);
  }
  EXPECT_EQ(Lines(ReadBytes(dir_.File("mark.dat"))).size(), 110u);
  EXPECT_EQ(result.err, "");  // no progress when standard error is no terminal
}

TEST_F(CliTest, ProgressGoesToStandardErrorWhenItIsATerminal) {
  UseEmulator(kScriptedEmulator);
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const pid_t cli =
      Start({"run", "--mode", "both", "pacman"}, {{"CLI_EMULATOR_FPS", "99"}}, ::ptsname(terminal));
  const Result result = Finish(cli);
  EXPECT_EQ(result.code, 0);
  std::string shown;
  ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  ::close(terminal);
  EXPECT_THAT(shown, HasSubstr("pass 1 of 2  pacman  DDraw  "));
  EXPECT_THAT(shown, HasSubstr("pass 2 of 2  pacman  D3D  "));
  EXPECT_THAT(shown, HasSubstr("last 99 fps"));
  // The results themselves go to standard output, not to the terminal's progress line.
  EXPECT_THAT(Lines(result.out),
              ElementsAre("pacman DDraw: 99 fps stored", "pacman D3D: 99 fps stored"));
}

TEST_F(CliTest, AnEmulatorThatCannotStartIsTheRunnersSystemError) {
  std::filesystem::remove(dir_.File("mame.exe"));
  const Result result = Cli({"run", "pacman"});
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(result.err, StartsWith("velotrax-cli: System Error.  Code: 2.\r\n"));
  EXPECT_THAT(OtherFiles(), ElementsAre());
}

TEST_F(CliTest, AScoreFileThatDoesNotReadStopsTheRunBeforeAnythingRuns) {
  UseEmulator(kScriptedEmulator);
  std::string broken = MarkDat("mine", {{"pacman", {5, 6}}});
  broken.replace(broken.find("dkong=0"), 7, "dkong=abc");
  WriteBytes(dir_.File("mark.dat"), broken);
  for (const char* command : {"run", "show"}) {
    SCOPED_TRACE(command);
    const Result result = Cli({command, "pacman"});
    EXPECT_EQ(result.code, 1);
    EXPECT_THAT(result.err, StartsWith("velotrax-cli: 'abc' is not a valid integer value\n"));
  }
  EXPECT_FALSE(FileIsPresent(dir_.File("emulator.log")));
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), broken);
  EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat"));
}

TEST_F(CliTest, FailedPassesAreReportedAndWhatWasMeasuredIsKept) {
  UseEmulator(kScriptedEmulator);
  WriteBytes(dir_.File("mark.dat"), MarkDat("mine", {{"dkong", {0, 77}}, {"mario", {0, 88}}}));

  // A pass without a frame rate is stored as not measured, as in the desktop program, and the
  // run says so in its exit code.
  const Result silent = Cli({"run", "pacman", "dkong"}, {{"CLI_EMULATOR_SILENT", "dkong"}});
  EXPECT_EQ(silent.code, 1);
  EXPECT_THAT(silent.err, HasSubstr("1 pass(es) found no frame rate"));
  EXPECT_EQ(Scores().games[23].ddraw, 123);
  EXPECT_EQ(Scores().games[5].ddraw, 0);

  // Output whose frame rate is no number ends the run with the conversion error; the game before
  // keeps its new score, the failing one and the one after keep their old ones.
  const Result garbled = Cli({"run", "frogger", "mario", "tron"},
                             {{"CLI_EMULATOR_GARBLED", "mario"}, {"CLI_EMULATOR_FPS", "321"}});
  EXPECT_EQ(garbled.code, 1);
  EXPECT_THAT(garbled.err, StartsWith("velotrax-cli: 'abc' is not a valid integer value\n"));
  const ProgramState scores = Scores();
  EXPECT_EQ(scores.games[6].ddraw, 321);
  EXPECT_EQ(scores.games[19].ddraw, 88);
  EXPECT_EQ(scores.games[46].ddraw, 0);
  EXPECT_THAT(Lines(ReadBytes(dir_.File("emulator.log"))).back(), StartsWith("mame.exe|mario|"));
}

TEST_F(CliTest, APassThatMeasuredNothingSaysWhatTheEmulatorWroteAndHowItEnded) {
  UseEmulator(kScriptedEmulator);
  WriteBytes(dir_.File("mark.dat"), MarkDat("mine", {{"pacman", {0, 75}}}));
  const Result failed = Cli({"run", "pacman"}, {{"CLI_EMULATOR_FAIL", "pacman"}});
  EXPECT_EQ(Scores().games[23].ddraw, 0);  // the newest result replaces the old one
  EXPECT_THAT(failed.err, HasSubstr("velotrax-cli: pacman using DDraw: nothing was measured. The "
                                    "emulator's output gives no frame rate. The emulator ended "
                                    "with exit code 3; its last lines:\n  Loading pacman\n  "
                                    "Error: cannot open the display\n"));
}

TEST_F(CliTest, AWorkspaceThatCannotBeWrittenIsFoundBeforeThePasses) {
  UseEmulator(kScriptedEmulator);
  const std::string scores = MarkDat("mine", {{"pacman", {0, 75}}});
  WriteBytes(dir_.File("mark.dat"), scores);
  ::chmod(dir_.File("mark.dat").c_str(), 0444);
  Result refused = Cli({"run", "--mode", "both", "pacman"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err, "velotrax-cli: the scores cannot be stored in \"" + dir_.File("mark.dat") +
                             "\" (the file is read-only); nothing was run\n");
  ::chmod(dir_.File("mark.dat").c_str(), 0666);
  ::chmod(dir_.Path().c_str(), 0555);
  as_other_user_ = true;
  refused = Cli({"run", "--mode", "both", "pacman"});
  as_other_user_ = false;
  ::chmod(dir_.Path().c_str(), 0755);
  EXPECT_EQ(refused.code, 1);
  EXPECT_THAT(refused.err, HasSubstr("(no file can be created in its folder \"" + dir_.Path() +
                                     "/\": Permission denied); nothing was run"));
  EXPECT_EQ(EmulatorStarts(), 0);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), scores);

  // The file turns read-only during the pass: the score is shown, and the run ends.
  WriteBytes(dir_.File("mame.exe"),
             "#!/bin/sh\nchmod a-w mark.dat\necho 'Average FPS: 77.50 (5000 frames)'\n");
  const Result lost = Cli({"run", "--mode", "both", "pacman"});
  EXPECT_EQ(lost.code, 1);
  EXPECT_EQ(lost.out, "pacman DDraw: 77 fps measured, not stored\n");
  EXPECT_THAT(lost.err, StartsWith("velotrax-cli: Cannot create file \"" + dir_.File("mark.dat")));
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), scores);
}

TEST_F(CliTest, AnErrorAboutAFileNamesTheFile) {
  const std::string emulator = dir_.File("mame.exe");
  std::filesystem::remove(emulator);
  Result result = Cli({"run", "pacman"});
  EXPECT_THAT(result.err, HasSubstr("\nvelotrax-cli: the emulator \"" + emulator +
                                    "\" is missing; choose another with --emulator FILE, or in "
                                    "the desktop program's Options > Preferences"));
  UseEmulator(kScriptedEmulator);
  ::chmod(emulator.c_str(), 0644);
  EXPECT_THAT(Cli({"run", "pacman"}).err, HasSubstr("\"" + emulator + "\" is not executable"));

  // --emulator picks another file of the directory for this run; velotrax.ini stays.
  UseEmulator(kScriptedEmulator, "mame");
  WriteBytes(dir_.File("velotrax.ini"), "[velotrax]\r\nmamefile=mame.exe\r\n");
  result = Cli({"run", "--emulator", "mame", "pacman"});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(Scores().games[23].ddraw, 123);
  EXPECT_EQ(ReadBytes(dir_.File("velotrax.ini")), "[velotrax]\r\nmamefile=mame.exe\r\n");

  WriteBytes(dir_.File("mark.dat"), "[0]\r\ncpu=cut short\r\n720=1\r\n");
  EXPECT_THAT(Cli({"show"}).err, HasSubstr("'' is not a valid integer value\nvelotrax-cli: in \"" +
                                           dir_.File("mark.dat") + "\""));
  WriteBytes(dir_.File("mark.dat"), MarkDat("mine", {}));
  WriteBytes(dir_.File("reference.dat"), "[0]\r\nreference=1\r\n");
  EXPECT_THAT(Cli({"show", "--ref", "1"}).err,
              HasSubstr("velotrax-cli: in \"" + dir_.File("reference.dat") + "\""));
}

// A minimal JSON reader: enough to prove the output well-formed and to read values back.
struct Json {
  enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
  double number = 0;
  std::string text;
  std::vector<Json> items;        // of an array, or the values of an object's members
  std::vector<std::string> keys;  // of an object's members

  const Json& operator[](const std::string& key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return items[i];
    }
    throw std::runtime_error("no member " + key);
  }
  const Json& operator[](std::size_t i) const { return items.at(i); }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : s_(text) {}
  Json Document() {
    Json value = Value();
    Blanks();
    if (i_ != s_.size()) Fail("text after the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " at " + std::to_string(i_));
  }
  void Blanks() {
    while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_]) != nullptr) ++i_;
  }
  bool Take(char c) {
    Blanks();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  Json Value() {
    Blanks();
    if (i_ >= s_.size()) Fail("end of text");
    Json v;
    if (Take('{')) {
      v.kind = Json::Kind::object;
      if (Take('}')) return v;
      do {
        Blanks();
        v.keys.push_back(String());
        if (!Take(':')) Fail("':' expected");
        v.items.push_back(Value());
      } while (Take(','));
      if (!Take('}')) Fail("'}' expected");
    } else if (Take('[')) {
      v.kind = Json::Kind::array;
      if (Take(']')) return v;
      do v.items.push_back(Value());
      while (Take(','));
      if (!Take(']')) Fail("']' expected");
    } else if (s_[i_] == '"') {
      v.kind = Json::Kind::string;
      v.text = String();
    } else if (s_.substr(i_, 4) == "null") {
      i_ += 4;
    } else {
      std::size_t used = 0;
      v.kind = Json::Kind::number;
      v.number = std::stod(std::string(s_.substr(i_, 32)), &used);
      i_ += used;
    }
    return v;
  }
  std::string String() {
    if (s_[i_++] != '"') Fail("string expected");
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      const unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c < 0x20) Fail("raw control character");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char e = s_[i_++];
      if (e == 'u') {
        const unsigned code = std::stoul(std::string(s_.substr(i_, 4)), nullptr, 16);
        i_ += 4;
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
      } else {
        const char* from = "\"\\/bfnrt";
        const char* to = "\"\\/\b\f\n\r\t";
        const char* at = std::strchr(from, e);
        if (at == nullptr) Fail("bad escape");
        out += to[at - from];
      }
    }
    if (i_ >= s_.size()) Fail("unterminated string");
    ++i_;
    return out;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// RFC 4180 records.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1);
  std::string field;
  bool quoted = false, was_quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty() && !was_quoted) {
      quoted = was_quoted = true;
    } else if (c == ',') {
      records.back().push_back(field);
      field.clear();
      was_quoted = false;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      records.back().push_back(field);
      field.clear();
      was_quoted = false;
      records.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  if (records.back().empty()) records.pop_back();
  return records;
}

// Two reference computers with awkward names: a comma and quotes, and bytes of an old Windows
// file (0xE9 is an e with an acute accent there) with markup characters.
class ShowTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteBytes(dir_.File("mark.dat"),
               MarkDat("Z\xc3\xbcrich box", {{"pacman", {100, 40}}, {"dkong", {0, 7}}}));
    std::string references = "[0]\r\nreference=2\r\n";
    references += MarkDat("Office PC, \"fast\"", {{"pacman", {50, 200}}}).replace(0, 3, "[1]");
    references += MarkDat("Caf\xe9 <&> |x|", {{"dkong", {3, 0}}}).replace(0, 3, "[2]");
    WriteBytes(dir_.File("reference.dat"), references);
  }

  const std::string office_ = "Office PC, \"fast\"";
  const std::string cafe_ = "Caf\xc3\xa9 <&> |x|";
};

TEST_F(ShowTest, TableDrawsEachGamesBarsOnTheScaleOfItsLargestScore) {
  const Result result = Cli({"show", "--ref", "1", "pacman", "dkong", "tron"});
  ASSERT_EQ(result.code, 0) << result.err;
  const std::vector<std::string> lines = Lines(result.out);
  EXPECT_EQ(lines[0], "This computer: Z\xc3\xbcrich box");
  auto row_with = [&](const std::string& a, const std::string& b) {
    for (const std::string& line : lines) {
      if (line.find(a) != std::string::npos && line.find(b) != std::string::npos) return line;
    }
    return std::string("<none>");
  };
  // pacman: the scale is 200, the reference's DirectDraw score.
  EXPECT_THAT(row_with("pacman", "This computer"),
              HasSubstr("    40 ####................     100 ##########.........."));
  EXPECT_THAT(row_with("Office PC", "    50"),
              HasSubstr("   200 ####################      50 #####..............."));
  // dkong: 7 is the largest; the reference has none.
  EXPECT_THAT(row_with("dkong", "This computer"),
              HasSubstr("     7 ####################     N/A ...................."));
  EXPECT_THAT(row_with("tron", "This computer"),
              HasSubstr("   N/A ....................     N/A ...................."));
}

TEST_F(ShowTest, CsvAndJsonReadBackWithEveryNameIntact) {
  const Result csv = Cli({"show", "--format", "csv", "--ref", "1", "--ref", "2", "23", "5"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  const auto records = ReadCsv(csv.out);
  ASSERT_EQ(records.size(), 7u);
  EXPECT_THAT(records[0],
              ElementsAre("index", "rom", "driver", "reference", "computer", "ddraw", "d3d"));
  EXPECT_THAT(records[1],
              ElementsAre("23", "pacman", "pacman.c", "0", "Z\xc3\xbcrich box", "40", "100"));
  EXPECT_THAT(records[2], ElementsAre("23", "pacman", "pacman.c", "1", office_, "200", "50"));
  EXPECT_THAT(records[3], ElementsAre("23", "pacman", "pacman.c", "2", cafe_, "N/A", "N/A"));
  EXPECT_THAT(records[6], ElementsAre("5", "dkong", "dkong.c", "2", cafe_, "N/A", "3"));

  const Result json = Cli({"show", "--format=json", "--ref", "2", "--ref", "1"});
  ASSERT_EQ(json.code, 0) << json.err;
  Json document;
  ASSERT_NO_THROW(document = JsonReader(json.out).Document()) << json.out;
  const Json& computers = document["computers"];
  ASSERT_EQ(computers.items.size(), 3u);
  EXPECT_EQ(computers[0]["name"].text, "Z\xc3\xbcrich box");
  EXPECT_EQ(computers[1]["name"].text, cafe_);
  EXPECT_EQ(computers[1]["reference"].number, 2);
  EXPECT_EQ(computers[2]["name"].text, office_);
  const Json& games = document["games"];
  ASSERT_EQ(games.items.size(), 54u);
  const Json& pacman = games[22];
  EXPECT_EQ(pacman["rom"].text, "pacman");
  EXPECT_EQ(pacman["scores"][0]["d3d"].number, 100);
  EXPECT_EQ(pacman["scores"][1]["d3d"].kind, Json::Kind::null);
  EXPECT_EQ(pacman["scores"][2]["ddraw"].number, 200);
}

TEST_F(ShowTest, MarkdownAndSvgEscapeNamesAndTheSvgIsReplacedWhole) {
  const Result markdown = Cli({"show", "--format", "markdown", "--ref", "2", "pacman", "dkong"});
  ASSERT_EQ(markdown.code, 0) << markdown.err;
  const std::vector<std::string> lines = Lines(markdown.out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_THAT(lines[0], HasSubstr("| Caf\xc3\xa9 \\<&\\> \\|x\\| DDraw |"));
  EXPECT_EQ(lines[3], "| 5 | dkong | dkong.c | 7 | N/A | N/A | 3 |");
  // Every line has the same cells: escaped bars do not end one.
  for (const std::string& line : lines) {
    int bars = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\') {
        ++i;
      } else if (line[i] == '|') {
        ++bars;
      }
    }
    EXPECT_EQ(bars, 8) << line;
  }

  WriteBytes(dir_.File("chart.svg"), "old chart");
  const Result svg = Cli({"show", "--svg", "chart.svg", "--ref", "Caf\xe9 <&> |x|", "dkong"});
  ASSERT_EQ(svg.code, 0) << svg.err;
  EXPECT_EQ(svg.out, "");
  const std::string chart = ReadBytes(dir_.File("chart.svg"));
  EXPECT_THAT(chart, StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "));
  EXPECT_THAT(chart, HasSubstr("Caf\xc3\xa9 &lt;&amp;&gt; |x| D3D"));
  EXPECT_EQ(chart.find("<&>"), std::string::npos);
  EXPECT_THAT(chart, HasSubstr(">7</text>"));
  EXPECT_THAT(OtherFiles(), ElementsAre("chart.svg", "mark.dat", "reference.dat"));

  // A chart that cannot be written is an error, and the old one stays.
  std::filesystem::create_directory(dir_.File("charts"));
  ::chmod(dir_.File("charts").c_str(), 0500);
  if (::access(dir_.File("charts").c_str(), W_OK) != 0) {
    const Result denied = Cli({"show", "--svg", "charts/c.svg"});
    EXPECT_EQ(denied.code, 1);
    EXPECT_THAT(denied.err, StartsWith("velotrax-cli: Cannot create file \"charts/c.svg\". "));
  }
  ::chmod(dir_.File("charts").c_str(), 0700);
}

TEST_F(ShowTest, ReferencesArePickedByNumberOrNameAndUnknownOnesAreUsageErrors) {
  const Result by_number = Cli({"show", "--format", "csv", "--ref", "1", "--ref", "2"});
  const Result by_name =
      Cli({"show", "--format", "csv", "--ref", office_, "--ref", "Caf\xc3\xa9 <&> |x|"});
  const Result folded =
      Cli({"show", "--format", "csv", "--ref", "office pc, \"FAST\"", "--ref", "2"});
  ASSERT_EQ(by_number.code, 0) << by_number.err;
  EXPECT_EQ(by_name.out, by_number.out);
  EXPECT_EQ(folded.out, by_number.out);

  for (const char* unknown : {"3", "0", "Office", "-1"}) {
    SCOPED_TRACE(unknown);
    const Result result = Cli({"show", "--ref", unknown});
    EXPECT_EQ(result.code, 2);
    EXPECT_THAT(result.err, HasSubstr("unknown reference computer"));
  }

  // Two computers of one name must be told apart by number.
  std::string references = ReadBytes(dir_.File("reference.dat"));
  references.replace(references.find("reference=2"), 11, "reference=3");
  references += MarkDat(office_, {}).replace(0, 3, "[3]");
  WriteBytes(dir_.File("reference.dat"), references);
  const Result ambiguous = Cli({"show", "--ref", office_});
  EXPECT_EQ(ambiguous.code, 2);
  EXPECT_THAT(ambiguous.err, HasSubstr("give its number"));

  // A reference file that does not read matters only when a reference is asked for.
  WriteBytes(dir_.File("reference.dat"), "[0]\r\nreference=2x\r\n");
  EXPECT_EQ(Cli({"show", "pacman"}).code, 0);
  const Result broken = Cli({"show", "--ref", "1", "pacman"});
  EXPECT_EQ(broken.code, 1);
  EXPECT_THAT(broken.err, StartsWith("velotrax-cli: '2x' is not a valid integer value"));
}

TEST_F(ShowTest, GamesAndComputersAreFoundInAnyCaseAndANameIsPublishedOnce) {
  const Result markdown = Cli({"show", "--format", "markdown", "pacman", "dkong"});
  ASSERT_EQ(markdown.code, 0) << markdown.err;
  EXPECT_EQ(Cli({"show", "--format", "md", "PACMAN", "DKong"}).out, markdown.out);
  const Result run = Cli({"run", "PacMan"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_GT(Scores().games[23].ddraw, 0);
  EXPECT_THAT(ReadBytes(dir_.File("mark.dat")), Not(HasSubstr("PacMan")));

  const std::string references = ReadBytes(dir_.File("reference.dat"));
  for (const std::string& taken : {std::string("OFFICE PC, \"FAST\""), cafe_}) {
    SCOPED_TRACE(taken);
    const Result publish = Cli({"publish", "--name", taken});
    EXPECT_EQ(publish.code, 1);
    EXPECT_THAT(publish.err, HasSubstr("reference.dat already has a reference computer named"));
    EXPECT_THAT(publish.err, HasSubstr("publish under another name, or rename number"));
  }
  EXPECT_EQ(ReadBytes(dir_.File("reference.dat")), references);
}

TEST_F(CliTest, PublishAddsSectionsThatTheDesktopProgramReadsBack) {
  EXPECT_EQ(Cli({"publish", "--name", "first"}).code, 1);  // no mark.dat yet
  EXPECT_FALSE(FileIsPresent(dir_.File("reference.dat")));

  WriteBytes(dir_.File("mark.dat"), MarkDat("my own name", {{"pacman", {812, 1033}}}));
  const Result first = Cli({"publish", "--name", "Office PC, 2.4 GHz"});
  ASSERT_EQ(first.code, 0) << first.err;
  WriteBytes(dir_.File("mark.dat"), MarkDat("my own name", {{"xexex", {5, 6}}}));
  // Blanks around and enclosing quotes would be lost on reading; the name comes back whole.
  const Result second = Cli({"publish", "--name=  'quoted'  "});
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_THAT(second.out, HasSubstr("reference computer 2"));

  const std::string file = ReadBytes(dir_.File("reference.dat"));
  EXPECT_THAT(file, StartsWith("[0]\r\nreference=2\r\n[1]\r\ncpu=Office PC, 2.4 GHz\r\n720=0\r\n"));
  EXPECT_EQ(Lines(file).size(), 2u + 110u + 110u);

  ProgramState state;
  state.base_dir = dir_.Path() + "/";
  BuildCatalogue(state);
  std::vector<std::string> names;
  LoadReferences(state, [&](const std::string& name) { names.push_back(name); });
  EXPECT_EQ(state.reference_count, 2);
  EXPECT_THAT(names, ElementsAre("Office PC, 2.4 GHz", "  'quoted'  "));
  EXPECT_EQ(state.references[1][23].d3d, 812);
  EXPECT_EQ(state.references[1][23].ddraw, 1033);
  EXPECT_EQ(state.references[1][49].d3d, 0);
  EXPECT_EQ(state.references[2][49].ddraw, 6);
  EXPECT_EQ(state.references[2][23].d3d, 0);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), MarkDat("my own name", {{"xexex", {5, 6}}}));
}

TEST_F(CliTest, PublishKeepsEveryByteOfTheReferenceFileAndRefusesOneThatDoesNotRead) {
  WriteBytes(dir_.File("mark.dat"), MarkDat("mine", {{"tron", {9, 8}}}));
  // A hand-made file: comments, a capitalised key, LF line ends and no line end at its close.
  std::string made = "; reference machines\n[0]\n  Reference = 1 \n; the only one\n";
  made += MarkDat("Old", {}).replace(0, 3, "[1]");
  made += "; end";
  WriteBytes(dir_.File("reference.dat"), made);
  const Result result = Cli({"publish", "--name", "New"});
  ASSERT_EQ(result.code, 0) << result.err;
  std::string expected = made;
  expected.replace(expected.find("Reference = 1 "), 14, "Reference =2");
  const std::string after = ReadBytes(dir_.File("reference.dat"));
  ASSERT_THAT(after, StartsWith(expected + "\r\n[2]\r\ncpu=New\r\n"));
  EXPECT_THAT(after, HasSubstr("\r\ntron=9\r\ntrona=8\r\n"));

  const struct {
    const char* name;
    std::string file;
    const char* message;
  } unreadable[] = {
      {"count is no number", "[0]\r\nreference=two\r\n", "'two' is not a valid integer value"},
      {"a score is missing", "[0]\r\nreference=1\r\n[1]\r\ncpu=x\r\n",
       "'' is not a valid integer value"},
      {"the next section is already there",
       "[0]\r\nreference=0\r\n" + MarkDat("x", {}).replace(0, 3, "[1]"),
       "reference.dat already has a section [1]"},
  };
  for (const auto& c : unreadable) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir_.File("reference.dat"), c.file);
    const Result refused = Cli({"publish", "--name", "New"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_THAT(refused.err, StartsWith(std::string("velotrax-cli: ") + c.message));
    EXPECT_EQ(ReadBytes(dir_.File("reference.dat")), c.file);
  }
  EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat", "reference.dat"));
}

// Ctrl+C and SIGTERM during a pass that would not end by itself.
TEST_F(CliTest, AnInterruptStopsTheEmulatorAndKeepsWhatWasMeasured) {
  UseEmulator(kScriptedEmulator);
  const struct {
    const char* name;
    int signo;
    bool emulator_ignores_ctrl_c;
    int exit_code;
  } cases[] = {
      {"Ctrl+C", SIGINT, false, 130},
      {"SIGTERM", SIGTERM, false, 143},
      {"an emulator that ignores Ctrl+C", SIGINT, true, 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = MarkDat("kept \xe9", {{"dkong", {31, 32}}, {"tron", {41, 42}}});
    WriteBytes(dir_.File("mark.dat"), before);
    std::filesystem::remove(dir_.File("hanging.pid"));
    std::map<std::string, std::string> env = {{"CLI_EMULATOR_HANG", "dkong"},
                                              {"CLI_EMULATOR_FPS", "555"}};
    if (c.emulator_ignores_ctrl_c) env["CLI_EMULATOR_IGNORE_INT"] = "1";

    const pid_t cli = Start({"run", "--mode", "both", "pacman", "dkong", "tron"}, env);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!FileIsPresent(dir_.File("hanging.pid")) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(FileIsPresent(dir_.File("hanging.pid")));
    const pid_t emulator = static_cast<pid_t>(std::stol(ReadBytes(dir_.File("hanging.pid"))));
    ::kill(cli, c.signo);
    const Result result = Finish(cli);

    EXPECT_EQ(result.code, c.exit_code) << result.err;
    EXPECT_THAT(result.err, HasSubstr("interrupted"));
    EXPECT_TRUE(ProcessGone(emulator));
    // pacman's two passes are stored; dkong's DirectDraw pass was cut short and tron never ran.
    const std::string after = ReadBytes(dir_.File("mark.dat"));
    ExpectSameExcept(after, before, {"pacman", "pacmana"});
    EXPECT_EQ(Scores().games[23].d3d, 555);
    EXPECT_EQ(Scores().games[23].ddraw, 555);
    EXPECT_THAT(Lines(ReadBytes(dir_.File("emulator.log"))).back(), StartsWith("mame.exe|dkong|"));
    EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat", "mark.dat.bak"));
    std::filesystem::remove(dir_.File("emulator.log"));
  }
}

TEST_F(CliTest, CtrlCDuringALongDemoPassLeavesTheScoreFileAsItWas) {
  const std::string before = MarkDat("demo box", {{"outrun", {70, 80}}});
  WriteBytes(dir_.File("mark.dat"), before);
  const pid_t cli = Start({"run", "outrun"}, {{"VELOTRAX_DEMO_FRAMES", "1000000"}});
  // The emulator is running once a process of ours executes the mame.exe of this directory.
  const std::filesystem::path emulator_path = std::filesystem::canonical(dir_.File("mame.exe"));
  auto running_emulator = [&]() -> pid_t {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::error_code error;
      const auto target = std::filesystem::read_symlink(entry.path() / "exe", error);
      if (!error && target == emulator_path) return std::stoi(entry.path().filename());
    }
    return 0;
  };
  pid_t emulator = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 60s;
       emulator == 0 && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(20ms)) {
    emulator = running_emulator();
  }
  ASSERT_NE(emulator, 0);
  std::this_thread::sleep_for(200ms);  // well into the pass
  ::kill(cli, SIGINT);
  const Result result = Finish(cli);
  EXPECT_EQ(result.code, 130) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(ProcessGone(emulator));
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), before);
  EXPECT_THAT(OtherFiles(), ElementsAre("mark.dat"));
}

}  // namespace
}  // namespace velotrax
