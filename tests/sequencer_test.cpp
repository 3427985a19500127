// The benchmark pass sequencer: whole benchmarks run through the real runner on an EventLoop
// against the demo emulator or a scripted child (tests/helpers/seq_script.c).
#include "core/sequencer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "emulator/emulator_contract.h"
#include "process/event_loop.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using velotrax::testing::MessageOf;
using velotrax::testing::TempDir;
using velotrax::testing::WriteBytes;

#ifdef _WIN32
const std::string kScriptedChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-seq_script.exe";
// The demo emulator's frames for the passes of this process's children.
void SetDemoFrames(const char* frames) {
  _putenv_s("VELOTRAX_DEMO_FRAMES", frames);
}
#else
const std::string kScriptedChild = std::string(VELOTRAX_HELPER_DIR) + "/helper-seq_script";
void SetDemoFrames(const char* frames) {
  setenv("VELOTRAX_DEMO_FRAMES", frames, 1);
}
#endif
constexpr const char* kRefused = "Cannot perform this operation when process is running";

// The main window as the sequencer sees it: the runner on a plain event loop, its read event
// going to OnOutputLine and its end event to OnPassEnd, and the application's guard, which
// shows an error that escapes a handler, reduced to a list of messages.
class FakeHost : public SequencerHost {
 public:
  explicit FakeHost(ProgramState& state) : state_(state), runner_(loop_) {
    runner_.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
    runner_.OnRead = [this](TJvCreateProcess&, std::string_view line, bool) {
      OnOutputLine(state_, line);
    };
    runner_.OnTerminate = [this](TJvCreateProcess&, uint32_t exit_code) {
      ++passes_ended;
      try {
        OnPassEnd(state_, *this, exit_code);
      } catch (const Exception& e) {
        errors.push_back(e.what());
      }
    };
  }

  int selected = 1;
  PassMode mode = PassMode::ddraw;
  std::vector<std::string> events;  // status texts, cursor changes and refreshes, in order
  std::vector<std::string> errors;
  int passes_ended = 0;

  int SelectedGame() const override { return selected; }
  PassMode CheckedPassMode() const override { return mode; }
  void SetStatusText(const std::string& text) override { events.push_back(text); }
  void ShowBusyCursors() override { events.push_back("busy"); }
  void RestoreCursors() override { events.push_back("restore"); }
  // Notes the scores of the pass's game as they are when the display is refreshed.
  void RefreshComparison() override {
    if (state_.current_game < 0 ||
        static_cast<std::size_t>(state_.current_game) >= state_.games.size()) {
      events.push_back("refresh");
      return;
    }
    const Tgameinfo& game = state_.games[static_cast<std::size_t>(state_.current_game)];
    events.push_back("refresh ddraw=" + std::to_string(game.ddraw) +
                     " d3d=" + std::to_string(game.d3d));
  }
  TJvCreateProcess& Runner() override { return runner_; }
  void ReportUnmeasuredPass(const UnmeasuredPass& pass) override {
    unmeasured.push_back(UnmeasuredPassText(pass));
  }
  std::vector<std::string> unmeasured;  // the reports of passes that measured nothing

  bool WaitForPassEnds(int count) {
    return loop_.RunUntil([&] { return passes_ended >= count; }, 60s);
  }
  std::string LastStatus() const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
      if (it->rfind("Status : ", 0) == 0) return *it;
    }
    return "";
  }

 private:
  ProgramState& state_;
  EventLoop loop_;
  TJvCreateProcess runner_;
};

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildCatalogue(state_);
    state_.base_dir = dir_.Path() + "/";
    state_.mame_file = "mame.exe";
    state_.current_game = 1;
    state_.pass_is_d3d = true;
    state_.d3d_options = std::string(D3DOptionString);
    state_.ddraw_options = std::string(DDrawOptionString);
  }

  void InstallEmulator(const std::string& program) {
#ifdef _WIN32  // symbolic links need a privilege on Windows
    ASSERT_TRUE(std::filesystem::copy_file(program, dir_.File("mame.exe")));
#else
    ASSERT_EQ(symlink(program.c_str(), dir_.File("mame.exe").c_str()), 0);
#endif
  }
  void InstallScriptedChild(const std::string& script) {
    InstallEmulator(kScriptedChild);
    Script(script);
  }
  void Script(const std::string& script) {
    WriteBytes(dir_.File("seq_script.txt"), script);
  }
  void Release() {
    WriteBytes(dir_.File("release"), "");
  }

  // The scripted child's starts for passes: working directory, then its arguments. On Windows it
  // is a real Windows program, which is asked its dialect before its first pass: those starts
  // are left out.
  std::vector<std::vector<std::string>> Calls() const {
    std::vector<std::vector<std::string>> calls;
    if (!std::filesystem::exists(dir_.File("seq_calls.txt"))) return calls;
    std::istringstream in(velotrax::testing::ReadBytes(dir_.File("seq_calls.txt")));
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
      const bool probe = fields.size() == 3 && (fields[2] == "-showusage" || fields[2] == "-help");
      if (!probe) calls.push_back(fields);
    }
    return calls;
  }

  static std::string BenchmarkingText(const std::string& rom, const char* method) {
    return "Status : Benchmarking " + rom + " using " + method + " Please Wait...";
  }

  TempDir dir_;
  ProgramState state_;
  FakeHost host_{state_};
};

TEST_F(SequencerTest, NoGameSelectedOrNoCatalogueNothingHappens) {
  InstallScriptedChild("Average FPS: 5.0\n");
  const struct {
    const char* name;
    int selected;
    bool catalogue;
  } cases[] = {
      {"Select Rom", 0, true},
      {"no selection", -1, true},
      {"past the catalogue", game_count, true},
      {"far past it", 255, true},
      {"catalogue never built", 5, false},
      {"never built, Select Rom", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.catalogue) state_.games.clear();
    host_.selected = c.selected;
    for (PassMode mode : {PassMode::ddraw, PassMode::d3d, PassMode::both}) {
      host_.mode = mode;
      EXPECT_NO_THROW(StartBenchmark(state_, host_));
      EXPECT_NO_THROW(StartPass(state_, host_));
    }
    EXPECT_THAT(host_.events, ElementsAre());
    EXPECT_TRUE(state_.pass_log.empty());
    EXPECT_FALSE(host_.Runner().Watching());
    EXPECT_TRUE(Calls().empty());
  }
}

TEST_F(SequencerTest, StartsTheEmulatorInBaseDirWithTheMethodsOptions) {
  const std::vector<std::string> ddraw_words = SplitCommandLine(DDrawOptionString);
  const std::vector<std::string> d3d_words = SplitCommandLine(D3DOptionString);
  const struct {
    const char* name;
    PassMode mode;
    bool d3d_before;  // pass_is_d3d left by the pass before
    const char* d3d_options;
    const char* ddraw_options;
    std::string command_tail;
    std::vector<std::string> words;
  } cases[] = {
      {"DirectDraw", PassMode::ddraw, true, "-d3d-set", "-ddraw-set", "-ddraw-set", {"-ddraw-set"}},
      {"Direct3D",
       PassMode::d3d,
       false,
       "-d3d-set -x",
       "-ddraw-set",
       "-d3d-set -x",
       {"-d3d-set", "-x"}},
      {"no button checked keeps the last method",
       PassMode::none,
       true,
       "-d3d-set",
       "-ddraw-set",
       "-d3d-set",
       {"-d3d-set"}},
      {"options never set: the emulator's own, DirectDraw", PassMode::ddraw, false, "", "",
       std::string(DDrawOptionString), ddraw_words},
      {"options never set: the emulator's own, Direct3D", PassMode::d3d, false, "", "",
       std::string(D3DOptionString), d3d_words},
  };
  InstallScriptedChild("");
  host_.selected = 2;
  int starts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state_.pass_is_d3d = c.d3d_before;
    state_.d3d_options = c.d3d_options;
    state_.ddraw_options = c.ddraw_options;
    host_.mode = c.mode;
    StartBenchmark(state_, host_);
    ++starts;
    const TJvCreateProcess& runner = host_.Runner();
    EXPECT_EQ(runner.CurrentDirectory, state_.base_dir);
    EXPECT_EQ(runner.ApplicationName, state_.base_dir + "mame.exe");
    EXPECT_EQ(runner.CommandLine, "mame.exe asteroid " + c.command_tail);
    ASSERT_TRUE(host_.WaitForPassEnds(starts));

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(starts));
    std::vector<std::string> expected = {std::filesystem::canonical(dir_.Path()).string(),
                                         "mame.exe", "asteroid"};
    expected.insert(expected.end(), c.words.begin(), c.words.end());
    EXPECT_EQ(calls.back(), expected);
  }
}

TEST_F(SequencerTest, DirectDrawPassOfTheDemoEmulator) {
  InstallEmulator(VELOTRAX_DEMO_EMULATOR);
  SetDemoFrames("12");
  host_.selected = 23;
  host_.mode = PassMode::ddraw;
  StartBenchmark(state_, host_);
  EXPECT_THAT(state_.pass_log, ElementsAre("Benchmarking : pacman"));
  ASSERT_TRUE(host_.WaitForPassEnds(1));

  EXPECT_THAT(host_.errors, ElementsAre());
  EXPECT_GT(state_.games[23].ddraw, 0);
  EXPECT_EQ(state_.games[23].d3d, 0);
  EXPECT_EQ(state_.current_game, 23);
  EXPECT_EQ(state_.current_rom, "pacman");
  EXPECT_TRUE(state_.pass_log.empty());
  EXPECT_THAT(
      host_.events,
      ElementsAre("busy", BenchmarkingText("pacman", "DDraw"), "Status : Ready",
                  "refresh ddraw=" + std::to_string(state_.games[23].ddraw) + " d3d=0", "restore"));
}

TEST_F(SequencerTest, Direct3DPassOfTheDemoEmulator) {
  InstallEmulator(VELOTRAX_DEMO_EMULATOR);
  SetDemoFrames("12");
  host_.selected = 5;
  host_.mode = PassMode::d3d;
  StartBenchmark(state_, host_);
  ASSERT_TRUE(host_.WaitForPassEnds(1));

  EXPECT_THAT(host_.errors, ElementsAre());
  EXPECT_GT(state_.games[5].d3d, 0);
  EXPECT_EQ(state_.games[5].ddraw, 0);
  EXPECT_THAT(host_.events,
              ElementsAre("busy", BenchmarkingText("dkong", "D3D"), "Status : Ready",
                          "refresh ddraw=0 d3d=" + std::to_string(state_.games[5].d3d), "restore"));
}

TEST_F(SequencerTest, CombinedBenchmarkOfTheDemoEmulator) {
  InstallEmulator(VELOTRAX_DEMO_EMULATOR);
  SetDemoFrames("12");
  host_.selected = 16;
  host_.mode = PassMode::both;
  StartBenchmark(state_, host_);
  EXPECT_TRUE(state_.both_pending);
  EXPECT_FALSE(state_.pass_is_d3d);
  ASSERT_TRUE(host_.WaitForPassEnds(2));

  EXPECT_THAT(host_.errors, ElementsAre());
  const Tgameinfo& game = state_.games[16];
  EXPECT_GT(game.ddraw, 0);
  EXPECT_GT(game.d3d, 0);
  EXPECT_FALSE(state_.both_pending);
  EXPECT_TRUE(state_.pass_is_d3d);
  // DirectDraw first and stored before the Direct3D pass starts; "Ready" stands between them;
  // the pointers stay busy until the very end.
  EXPECT_THAT(host_.events,
              ElementsAre("busy", BenchmarkingText("kof2000", "DDraw"), "Status : Ready",
                          "refresh ddraw=" + std::to_string(game.ddraw) + " d3d=0",
                          BenchmarkingText("kof2000", "D3D"), "Status : Ready",
                          "refresh ddraw=" + std::to_string(game.ddraw) +
                              " d3d=" + std::to_string(game.d3d),
                          "restore"));
}

TEST_F(SequencerTest, ScoreOfEachKindOfOutput) {
  const struct {
    const char* name;
    std::string script;
    int32_t score;
  } cases[] = {
      {"no frame-rate line", "starting\nno rate today\n@exit 3\n", 0},
      {"a good line replaces the 0", "starting\nAverage FPS: 321.5 (5000 frames)\n", 321},
      {"nothing at all", "", 0},
      {"only the second FPS line has a separator",
       "FPS display on (none yet)\nAverage FPS: 123.4 (5000 frames)\n", 123},
      {"the line in pieces, the last without a line feed",
       "@raw Average FPS: 4\n@raw 56\n@raw .7 (5000 frames)\n", 456},
      {"progress rewritten with carriage returns",
       "@raw Frame 100\r\n@raw Frame 200\r\nAverage FPS: 77,9\n", 77},
  };
  host_.selected = 9;
  state_.games[9].ddraw = 55;
  InstallScriptedChild("");
  int passes = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Script(c.script);
    StartBenchmark(state_, host_);
    ASSERT_TRUE(host_.WaitForPassEnds(++passes));
    EXPECT_THAT(host_.errors, ElementsAre());
    EXPECT_EQ(state_.games[9].ddraw, c.score);
    EXPECT_EQ(host_.events.back(), "restore");
    EXPECT_TRUE(state_.pass_log.empty());
  }
}

TEST_F(SequencerTest, ConversionErrorEndsThePassAtExtraction) {
  InstallScriptedChild("Average FPS: .5 (5000 frames)\n");
  host_.selected = 5;
  host_.mode = PassMode::both;
  state_.games[5].ddraw = 40;
  StartBenchmark(state_, host_);
  ASSERT_TRUE(host_.WaitForPassEnds(1));

  EXPECT_THAT(host_.errors, ElementsAre("'' is not a valid integer value"));
  EXPECT_EQ(state_.games[5].ddraw, 40);
  EXPECT_EQ(state_.games[5].d3d, 0);
  EXPECT_THAT(state_.pass_log, ::testing::Contains("Average FPS: .5 (5000 frames)"));
  EXPECT_EQ(state_.pass_log.front(), "Benchmarking : dkong");
  // No second pass, and the busy pointers stay until a benchmark completes.
  EXPECT_FALSE(host_.Runner().Watching());
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_THAT(host_.events,
              ElementsAre("busy", BenchmarkingText("dkong", "DDraw"), "Status : Ready"));
}

TEST_F(SequencerTest, MissingEmulatorRaisesTheSystemErrorOutOfTheStart) {
  host_.selected = 23;
  for (PassMode mode : {PassMode::ddraw, PassMode::both}) {
    SCOPED_TRACE(static_cast<int>(mode));
    host_.mode = mode;
    host_.events.clear();
    state_.pass_log.clear();
    const std::string message = MessageOf<EOSError>([&] { StartBenchmark(state_, host_); });
    EXPECT_THAT(message, ::testing::StartsWith("System Error.  Code: "));
    EXPECT_THAT(host_.events, ElementsAre("busy", BenchmarkingText("pacman", "DDraw")));
    EXPECT_THAT(state_.pass_log, ElementsAre("Benchmarking : pacman"));
    EXPECT_FALSE(state_.both_pending);
    EXPECT_FALSE(host_.Runner().Watching());
  }
}

// A start while a pass runs is refused by the runner; the running pass must still store its
// score for its own game and method, and a combined benchmark still gets its Direct3D pass.
TEST_F(SequencerTest, RefusedStartLeavesTheRunningPassAlone) {
  const std::string script =
      "@wait release\n@ddraw Average FPS: 111.0 (5000 frames)\n"
      "@d3d Average FPS: 222.0 (5000 frames)\n";
  const struct {
    const char* name;
    PassMode running;
    PassMode refused;
  } cases[] = {
      {"single pass, refused DirectDraw", PassMode::ddraw, PassMode::ddraw},
      {"single pass, refused Direct3D", PassMode::ddraw, PassMode::d3d},
      {"single pass, refused combined", PassMode::ddraw, PassMode::both},
      {"combined, refused Direct3D", PassMode::both, PassMode::d3d},
      {"combined, refused combined", PassMode::both, PassMode::both},
  };
  InstallScriptedChild(script);
  int passes = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.File("release"));
    for (int g : {5, 23}) state_.games[g].d3d = state_.games[g].ddraw = 0;
    host_.events.clear();

    host_.selected = 5;
    host_.mode = c.running;
    StartBenchmark(state_, host_);
    const bool combined = c.running == PassMode::both;
    const std::string command_line = host_.Runner().CommandLine;

    host_.selected = 23;
    host_.mode = c.refused;
    EXPECT_EQ(MessageOf<EJVCLException>([&] { StartBenchmark(state_, host_); }), kRefused);
    EXPECT_EQ(state_.current_game, 5);
    EXPECT_EQ(state_.current_rom, "dkong");
    EXPECT_FALSE(state_.pass_is_d3d);
    EXPECT_EQ(state_.both_pending, combined);
    EXPECT_EQ(host_.Runner().CommandLine, command_line);
    EXPECT_EQ(host_.LastStatus(), BenchmarkingText("dkong", "DDraw"));

    Release();
    passes += combined ? 2 : 1;
    ASSERT_TRUE(host_.WaitForPassEnds(passes));
    EXPECT_THAT(host_.errors, ElementsAre());
    EXPECT_EQ(state_.games[5].ddraw, 111);
    EXPECT_EQ(state_.games[5].d3d, combined ? 222 : 0);
    EXPECT_EQ(state_.games[23].ddraw, 0);
    EXPECT_EQ(state_.games[23].d3d, 0);
    EXPECT_EQ(host_.events.back(), "restore");
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(passes));
    EXPECT_EQ(calls.back()[2], "dkong");
    EXPECT_EQ(calls.back().back(), combined ? "none" : "-nod3d");  // the last option word
  }
}

// A refused start asks the emulator nothing: a probe would run beside the pass being measured.
TEST_F(SequencerTest, RefusedStartAsksTheEmulatorNothing) {
  InstallScriptedChild("@wait release\n@ddraw Average FPS: 111.0 (5000 frames)\n");
  host_.selected = 5;
  host_.mode = PassMode::ddraw;
  StartBenchmark(state_, host_);
  int probes = 0;
  state_.emulators = EmulatorDialects([&](const EmulatorInvocation&, std::chrono::milliseconds) {
    ++probes;
    return std::optional<ProbeOutput>();
  });
  state_.emulators.SetChoice(DialectChoice::current);
  host_.selected = 23;
  EXPECT_EQ(MessageOf<EJVCLException>([&] { StartBenchmark(state_, host_); }), kRefused);
  EXPECT_EQ(probes, 0);
  Release();
  ASSERT_TRUE(host_.WaitForPassEnds(1));
  EXPECT_EQ(state_.games[5].ddraw, 111);
}

TEST_F(SequencerTest, Direct3DPassOfACombinedBenchmarkIsForTheGameSelectedThen) {
  InstallScriptedChild(
      "@wait release\n@ddraw Average FPS: 111.0 (x)\n@d3d Average FPS: 222.0 (x)\n");
  const struct {
    const char* name;
    int selected_between;
    int second_game;
  } cases[] = {
      {"another game selected: its Direct3D score", 23, 23},
      {"Select Rom selected: the benchmark's own game", 0, 5},
  };
  int passes = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_.File("release"));
    for (int g : {5, 23}) state_.games[g].d3d = state_.games[g].ddraw = 0;
    host_.selected = 5;
    host_.mode = PassMode::both;
    StartBenchmark(state_, host_);
    host_.selected = c.selected_between;
    Release();
    passes += 2;
    ASSERT_TRUE(host_.WaitForPassEnds(passes));
    EXPECT_EQ(state_.games[5].ddraw, 111);
    EXPECT_EQ(state_.games[c.second_game].d3d, 222);
    EXPECT_EQ(state_.games[c.second_game == 5 ? 23 : 5].d3d, 0);
    EXPECT_EQ(host_.events.back(), "restore");
  }
}

TEST_F(SequencerTest, PassEndForAGameOutsideTheCatalogueStoresNothing) {
  state_.current_game = 77;
  state_.pass_is_d3d = false;
  state_.pass_log = {"Average FPS: 50.0"};
  OnPassEnd(state_, host_, 0);
  EXPECT_TRUE(state_.pass_log.empty());
  EXPECT_EQ(host_.events.front(), "Status : Ready");
  EXPECT_EQ(host_.events.back(), "restore");
  for (const Tgameinfo& game : state_.games) EXPECT_EQ(game.ddraw, 0);
}

TEST_F(SequencerTest, APassWithoutFrameRateReportsTheEmulatorsLastLinesAndExitCode) {
  state_.current_game = 23;
  state_.current_rom = "pacman";
  state_.pass_is_d3d = false;
  state_.pass_log = {"Benchmarking : pacman", "one", "two", "three", "", "four", "five", "six"};
  OnPassEnd(state_, host_, 131);
  EXPECT_THAT(host_.unmeasured,
              ElementsAre("pacman using DDraw: nothing was measured. The emulator's output gives "
                          "no frame rate. The emulator ended with exit code 131; its last "
                          "lines:\n  two\n  three\n  four\n  five\n  six"));
  state_.pass_log = {"Benchmarking : pacman"};
  OnPassEnd(state_, host_, 0);
  EXPECT_THAT(host_.unmeasured.back(), ::testing::EndsWith("exit code 0; it wrote nothing."));
  state_.pass_log = {"Average FPS: 50.0"};
  OnPassEnd(state_, host_, 0);
  EXPECT_EQ(host_.unmeasured.size(), 2u);  // a measured pass has nothing to report
}

}  // namespace
}  // namespace velotrax
