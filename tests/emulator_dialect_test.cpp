// Emulator dialects: detection against real stand-ins, the current command line, the refresh
// lookup, the classic frame-rate reader and reading results from output recorded with the
// emulator's Debian package (0.251).
#include "emulator/emulator_dialect.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <thread>

#include "base/errors.h"
#include "tests/helpers_common/temp_dir.h"

using namespace velotrax;
using namespace velotrax::testing;

namespace {

// A stand-in emulator: a shell script that notes its arguments in calls.txt, then runs body.
// Windows starts no shell script: there it is only a file of that name, for the tests that ask
// a probe of their own.
void WriteStandIn(const TempDir& dir, const std::string& name, const std::string& body) {
  WriteBytes(dir.File(name), "#!/bin/sh\necho \"$*\" >> calls.txt\n" + body + "\n");
#ifndef _WIN32
  ASSERT_EQ(::chmod(dir.File(name).c_str(), 0755), 0);
#endif
}

#ifdef _WIN32
#define SKIP_WITHOUT_SHELL_STAND_INS()                                                      \
  GTEST_SKIP() << "the stand-in emulators are shell scripts, which Windows does not start " \
                  "(upper_layers_win32_test starts a Windows emulator)"
const char* const kExe = ".exe";
#else
#define SKIP_WITHOUT_SHELL_STAND_INS() (void)0
const char* const kExe = "";
#endif

[[maybe_unused]] std::vector<std::string> Calls(const TempDir& dir) {
  std::vector<std::string> calls;
  if (!FileIsPresent(dir.File("calls.txt"))) return calls;
  std::string all = ReadBytes(dir.File("calls.txt")), line;
  for (char c : all) {
    if (c != '\n') {
      line += c;
    } else {
      calls.push_back(line);
      line.clear();
    }
  }
  return calls;
}

// What the installed 0.251 package printed, its complaints on standard error included.
const std::vector<std::string> kNoise = {
    "error: XDG_RUNTIME_DIR is invalid or not set in the environment.",
    "ALSA lib seq_hw.c:466:(snd_seq_hw_open) open /dev/snd/seq failed: No such file or directory"};

std::vector<std::string> WithNoise(std::vector<std::string> lines) {
  lines.insert(lines.begin(), kNoise.begin(), kNoise.end());
  return lines;
}

int32_t NoClassicRate(const std::vector<std::string>&) {
  ADD_FAILURE() << "a current pass was read by the classic rule";
  return -1;
}

}  // namespace

TEST(EmulatorDialectTest, DetectsTheDialectFromWhatTheEmulatorSays) {
  SKIP_WITHOUT_SHELL_STAND_INS();
#ifndef _WIN32
  const std::string current_usage =
      "printf '%s\\n' 'Usage:  mame [machine] [media] [software] [options]' "
      "'-seconds_to_run      number of emulated seconds to run before automatically exiting' "
      "'-video               video output method: none, soft, accel, opengl or bgfx'";
  const struct {
    const char* name;
    std::string file, body;
    EmulatorDialect dialect;
    std::string version;
    std::vector<std::string> calls;
  } cases[] = {
      {"current build",
       "mame",
       "case $1 in -showusage) " + current_usage +
           ";; -help) echo 'MAME v0.251 (unknown)'; echo 'Copyright';; esac",
       EmulatorDialect::current,
       "0.251 (unknown)",
       {"-showusage", "-help"}},
      {"classic build listing -frames_to_run",
       "mame",
       "echo '-frames_to_run / -ftr  number of frames to run'; echo '-seconds_to_run x'; echo "
       "'-video x'",
       EmulatorDialect::classic,
       "",
       {"-showusage"}},
      {"unidentifiable",
       "mame",
       "echo 'hello'; exit 3",
       EmulatorDialect::classic,
       "",
       {"-showusage"}},
      {"a native program named like a Windows build is never asked",
       "mame.exe",
       current_usage,
       EmulatorDialect::classic,
       "",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteStandIn(dir, c.file, c.body);
    EmulatorDialects dialects;
    for (int round = 0; round < 2; ++round) {  // the second answer comes from memory
      const EmulatorIdentity identity = dialects.Identify(dir.Path() + "/", c.file);
      EXPECT_EQ(identity.dialect, c.dialect);
      EXPECT_EQ(identity.version, c.version);
    }
    EXPECT_EQ(Calls(dir), c.calls);
    // A classic emulator never sees a current option, also when a pass is planned.
    const PassPlan plan = dialects.PlanPass(dir.Path() + "/", c.file, "pacman", false, "-nod3d");
    if (c.dialect == EmulatorDialect::classic) {
      EXPECT_EQ(plan.start.CommandLine, c.file + " pacman -nod3d");
      EXPECT_EQ(Calls(dir), c.calls);
    }
  }
#endif
}

TEST(EmulatorDialectTest, AnEmulatorThatHangsIsClassicAndIsEnded) {
  SKIP_WITHOUT_SHELL_STAND_INS();
#ifndef _WIN32
  TempDir dir;
  WriteStandIn(dir, "mame", "echo $$ > pid.txt\nexec sleep 600");
  EmulatorDialects dialects;
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::classic);
  const pid_t pid = static_cast<pid_t>(std::stol(ReadBytes(dir.File("pid.txt"))));
  EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << "the stand-in still runs";
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::classic);
  EXPECT_EQ(Calls(dir).size(), 1u) << "asked again";
#endif
}

// A probe keeps the first 20000 lines of an emulator that says far more, each whole.
TEST(EmulatorDialectTest, AProbeKeepsTheFirstLinesOfAnEndlessAnswer) {
  TempDir dir;
  const std::optional<ProbeOutput> output = RunEmulatorProbe(
      {dir.Path(), std::string(VELOTRAX_HELPER_DIR) + "/helper-child" + kExe, "child lines 30000"},
      std::chrono::seconds(60));
  ASSERT_TRUE(output.has_value());
  ASSERT_EQ(output->lines.size(), 20000u);
  EXPECT_EQ(output->lines.back(), "line 19999");
}

TEST(EmulatorDialectTest, RemembersPerFileSizeAndTimeAndHonoursTheUsersChoice) {
  SKIP_WITHOUT_SHELL_STAND_INS();
#ifndef _WIN32
  TempDir dir;
  WriteStandIn(dir, "mame", "echo '-seconds_to_run x'; echo '-video x'");
  EmulatorDialects dialects;
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::current);
  // Replaced by an emulator that is no current build: asked afresh.
  WriteStandIn(dir, "mame", "echo 'unknown option' # a longer file");
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::classic);
  EXPECT_EQ(Calls(dir).size(), 3u);  // -showusage, -help, -showusage

  dialects.SetChoice(DialectChoice::current);
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::current);
  dialects.SetChoice(DialectChoice::classic);
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::classic);
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "missing").dialect, EmulatorDialect::classic);
#endif
}

// A replacement that keeps the size and has its modification time set back is another file:
// rewritten in place (its change time moves on) or renamed over it (another inode).
TEST(EmulatorDialectTest, AReplacementOfTheSameSizeAndTimeIsIdentifiedAfresh) {
  SKIP_WITHOUT_SHELL_STAND_INS();
#ifndef _WIN32
  const std::string current = "echo '-seconds_to_run x'; echo '-video x'";
  std::string classic = "echo 'unknown option' #";
  classic.resize(current.size(), '#');
  TempDir dir;
  WriteStandIn(dir, "mame", current);
  struct stat original {};
  ASSERT_EQ(::stat(dir.File("mame").c_str(), &original), 0);
  EmulatorDialects dialects;
  EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect, EmulatorDialect::current);
  for (const auto& [body, by_rename] : {std::pair{classic, false}, std::pair{current, true}}) {
    SCOPED_TRACE(by_rename ? "renamed over it" : "rewritten in place");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the clock's next tick
    const std::string written = by_rename ? "mame.new" : "mame";
    WriteStandIn(dir, written, body);
    const timespec times[2] = {original.st_atim, original.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.File(written).c_str(), times, 0), 0);
    if (by_rename) {
      ASSERT_EQ(::rename(dir.File(written).c_str(), dir.File("mame").c_str()), 0);
    }
    EXPECT_EQ(dialects.Identify(dir.Path() + "/", "mame").dialect,
              by_rename ? EmulatorDialect::current : EmulatorDialect::classic);
  }
  // -showusage and -help, -showusage, then both again for the file renamed over it.
  EXPECT_EQ(Calls(dir).size(), 5u);
#endif
}

TEST(EmulatorDialectTest, ComposesCurrentPassesWithTheRefreshRateAskedOncePerGame) {
  TempDir dir;
  WriteStandIn(dir, "mame", "");
  std::vector<std::string> asked;
  EmulatorDialects dialects([&](const EmulatorInvocation& start,
                                std::chrono::milliseconds) -> std::optional<ProbeOutput> {
    asked.push_back(start.CommandLine);
    EXPECT_EQ(start.ApplicationName, dir.Path() + "/mame");
    if (start.CommandLine == "mame -showusage") {
      return ProbeOutput{{"-seconds_to_run x", "-video x"}, 0};
    }
    if (start.CommandLine == "mame -listxml pacman") {
      return ProbeOutput{{"\t\t<display tag=\"screen\" type=\"raster\" rotate=\"90\" width=\"288\" "
                          "height=\"224\" refresh=\"60.606061\" pixclock=\"6144000\" />"},
                         0};
    }
    return ProbeOutput{{"No matching machines found for 'nosuch'"}, 0};
  });
  const std::string tail =
      " -nothrottle -window -resolution 1280x1024 -sound none -nomouse -nojoystick -rompath roms "
      "-skip_gameinfo -noreadconfig";
  const PassPlan soft = dialects.PlanPass(dir.Path() + "/", "mame", "pacman", false, "-nod3d");
  EXPECT_EQ(soft.dialect, EmulatorDialect::current);
  EXPECT_EQ(soft.start.CurrentDirectory, dir.Path() + "/");
  EXPECT_EQ(soft.start.CommandLine,
            "mame pacman -str 82 -nothrottle -video soft -window -resolution 1280x1024 -sound "
            "none -nomouse -nojoystick -rompath roms -skip_gameinfo -noreadconfig");
  const PassPlan gl = dialects.PlanPass(dir.Path() + "/", "mame", "pacman", true, "-d3d");
  EXPECT_EQ(gl.start.CommandLine, "mame pacman -str 82 -nothrottle -video opengl" +
                                      tail.substr(std::string(" -nothrottle").size()));
  EXPECT_DOUBLE_EQ(gl.refresh, 60.606061);
  // A game the emulator does not list still runs, at 60 Hz, so that it can say why not.
  const PassPlan unknown = dialects.PlanPass(dir.Path() + "/", "mame", "nosuch", false, "");
  EXPECT_EQ(unknown.refresh, 0);
  EXPECT_EQ(unknown.start.CommandLine, "mame nosuch -str 83 -nothrottle -video soft" +
                                           tail.substr(std::string(" -nothrottle").size()));
  dialects.PlanPass(dir.Path() + "/", "mame", "nosuch", true, "");
  EXPECT_EQ(asked, (std::vector<std::string>{"mame -showusage", "mame -help",
                                             "mame -listxml pacman", "mame -listxml nosuch"}));
  EXPECT_EQ(CurrentPassOptions(4000, false).substr(0, 7), "-str 2 ");  // never under 2 seconds
}

// A pass runs only as long as a plausible rate asks; a rate no display has is refused by name,
// and what is no number counts as no rate (the 60 Hz pass, which then says so).
TEST(EmulatorDialectTest, ARefreshRateOutOfRangeIsRefusedAndTheLengthBounded) {
  const struct {
    const char* refresh;
    std::string str_or_refusal;
  } cases[] = {
      {"60.606061", "-str 82 "},  {"10", "-str 500 "},        {"500", "-str 10 "},
      {"nan", "-str 83 "},        {"inf", "-str 83 "},        {"x", "-str 83 "},
      {"9.99", "of 9.99 Hz"},     {"0.0001", "of 0.0001 Hz"}, {"1e-9", "of 1e-09 Hz"},
      {"1e-300", "of 1e-300 Hz"}, {"50000", "of 50000 Hz"},   {"-60", "of -60 Hz"},
  };
  TempDir dir;
  WriteStandIn(dir, "mame", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refresh);
    EmulatorDialects dialects([&](const EmulatorInvocation&, std::chrono::milliseconds) {
      return std::optional<ProbeOutput>(
          {{std::string("<display tag=\"screen\" refresh=\"") + c.refresh + "\" />"}, 0});
    });
    dialects.SetChoice(DialectChoice::current);
    try {
      const PassPlan plan = dialects.PlanPass(dir.Path() + "/", "mame", "galaxian", false, "");
      EXPECT_EQ(plan.start.CommandLine.substr(14, c.str_or_refusal.size()), c.str_or_refusal);
    } catch (const EEmulatorError& e) {
      EXPECT_EQ(std::string(e.what()).find("galaxian: the emulator gives this game a refresh "
                                           "rate " +
                                           c.str_or_refusal + ", outside the 10 to 500 Hz"),
                0u)
          << e.what();
    }
  }
  EXPECT_EQ(CurrentPassOptions(1e-300, false).substr(0, 9), "-str 500 ");
  EXPECT_EQ(CurrentPassOptions(std::nan(""), false).substr(0, 8), "-str 83 ");
}

// The classic dialect's reader: what the described emulator prints at the end of a pass.
TEST(ExtractFrameRate, ReadsTheIntegerPartAfterThe13thCharacter) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    int32_t fps;
  } cases[] = {
      {"no lines", {}, 0},
      {"point", {"Average FPS: 245.73 (5000 frames)"}, 245},
      {"comma", {"Average FPS: 99,5"}, 99},
      {"printf form", {"Average FPS: 245.730000 (5000 frames)"}, 245},
      {"no separator after the 13th character", {"Average FPS: 245 (5000 frames)"}, 0},
      {"separators only among the first 13 characters", {"1.2,FPS,.....42 frames"}, 0},
      {"separators in the first 13 are skipped", {"1.2,FPS,.....42.0"}, 42},
      {"lower-case fps is not the line", {"Average fps: 245.73"}, 0},
      {"FPS with 13 characters or fewer", {"FPS 1.5 2,5 x", "FPS"}, 0},
      {"first FPS line without separator, second with",
       {"FPS counter on (none yet)", "Average FPS: 61.2 (5000 frames)"},
       61},
      {"the first line with a separator wins", {"Average FPS: 10.0", "Average FPS: 20.0"}, 10},
      {"other lines around it",
       {"Benchmarking : pacman", "", "loading roms... done.", "Average FPS: 812.1", "bye."},
       812},
      {"incomplete states of the line first",
       {"Average FPS: 4", "Average FPS: 456", "Average FPS: 456.7 (50"},
       456},
      {"blanks before the number", {"Average FPS:   33.3"}, 33},
      {"negative", {"Average FPS: -12.5"}, -12},
      {"hexadecimal through the integer conversion", {"Average FPS: $1F.0"}, 31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractFrameRate(c.lines), c.fps);
  }
  // A classic pass's result is read by it unless the caller brings another reader.
  EXPECT_EQ(ReadPassResult(PassPlan{}, {"Average FPS: 61.2"}).fps, 61);
}

TEST(ExtractFrameRate, TextBeforeTheSeparatorThatIsNoIntegerRaisesTheConversionError) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    const char* message;
  } cases[] = {
      {"separator is the 14th character",
       {"Average FPS: .5 (5000 frames)"},
       "'' is not a valid integer value"},
      {"letters before the digits", {"Average FPS: ab12.5"}, "'ab12' is not a valid integer value"},
      {"too large", {"Average FPS: 99999999999.0"}, "'99999999999' is not a valid integer value"},
      {"a good line later does not help",
       {"Average FPS: n/a, sorry", "Average FPS: 61.2"},
       "'n/a' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MessageOf<EConvertError>([&] { ExtractFrameRate(c.lines); }), c.message);
  }
}

TEST(EmulatorDialectTest, ReadsTheFrameRateAndTheReasonFromRealOutput) {
  const struct {
    const char* name;
    std::vector<std::string> lines;
    double refresh;
    int32_t fps;
    std::string reason;
  } cases[] = {
      {"pong, soft video", WithNoise({"Average speed: 13.71% (1 seconds)"}), 60.179204, 8, ""},
      {"pong, no video", WithNoise({"Average speed: 505.48% (1 seconds)"}), 60.179204, 304, ""},
      {"missing ROM files",
       WithNoise({"pacman.6e NOT FOUND (tried in pacman puckman)",
                  "82s126.3m NOT FOUND (tried in pacman puckman)",
                  "Fatal error: Required files are missing, the machine cannot be run."}),
       60.606061, 0, "Fatal error: Required files are missing, the machine cannot be run."},
      {"unknown game", WithNoise({"Unknown system 'nosuch'", "", "\"nosuch\" approximately"}), 0, 0,
       "Unknown system 'nosuch'"},
      {"described options", WithNoise({"Error: unknown option: -ftr"}), 60, 0,
       "Error: unknown option: -ftr"},
      {"no speed line", WithNoise({}), 60, 0,
       "the emulator ended without an \"Average speed\" line"},
      {"no refresh rate",
       {"Average speed: 100.00% (82 seconds)"},
       0,
       0,
       "the emulator's -listxml gave no refresh rate for this game"},
      {"OpenGL fell back",
       {"OpenGL not supported on this driver: Could not find a valid EGL device to initialize",
        "Average speed: 300.00% (82 seconds)"},
       60,
       0,
       "the pass did not render as asked: OpenGL not supported on this driver: Could not find "
       "a valid EGL device to initialize"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PassPlan plan;
    plan.dialect = EmulatorDialect::current;
    plan.refresh = c.refresh;
    const PassResult result = ReadPassResult(plan, c.lines, NoClassicRate);
    EXPECT_EQ(result.fps, c.fps);
    EXPECT_EQ(result.reason, c.reason);
  }
  // A classic pass is read by the described rule alone, reason or not.
  const PassResult classic = ReadPassResult(PassPlan{}, {"Error: unknown option: -ftr"},
                                            [](const std::vector<std::string>&) { return 7; });
  EXPECT_EQ(classic.fps, 7);
  EXPECT_EQ(classic.reason, "");
}

TEST(EmulatorDialectTest, ReadsRealListXmlAndHelpOutput) {
  EXPECT_DOUBLE_EQ(
      RefreshFromListXml(
          {"<?xml version=\"1.0\"?>",
           "\t<machine name=\"pacman\" sourcefile=\"pacman/pacman.cpp\" cloneof=\"puckman\">",
           "\t\t<display tag=\"screen\" type=\"raster\" rotate=\"90\" width=\"288\" "
           "height=\"224\" refresh=\"60.606061\" pixclock=\"6144000\" htotal=\"384\" />"}),
      60.606061);
  EXPECT_EQ(RefreshFromListXml({"<display tag=\"screen\" type=\"svg\" refresh=\"x\" />"}), 0);
  EXPECT_EQ(IdentityFromOutput({"MAME v0.251 (unknown)", "Copyright MAMEdev and contributors"}, {})
                .version,
            "0.251 (unknown)");
}

// The window gathers the answers itself, one probe at a time: asked in the order a pass needs them,
// remembered once all are in, and then a pass is planned without asking anything.
TEST(EmulatorDialectTest, NextProbeAsksWhatAPassStillNeedsInOrder) {
  TempDir dir;
  WriteStandIn(dir, "mame", "");
  WriteStandIn(dir, "mame.exe", "");
  int probes_run = 0;
  EmulatorDialects dialects([&](const EmulatorInvocation&, std::chrono::milliseconds) {
    ++probes_run;
    return std::optional<ProbeOutput>();
  });
  const std::string base = dir.Path() + "/";
  const std::vector<std::pair<std::string, ProbeOutput>> answers = {
      {"mame -showusage", {{"-seconds_to_run x", "-video x"}, 0}},
      {"mame -help", {{"MAME v0.251 (unknown)"}, 0}},
      {"mame -listxml pacman", {{"<display type=\"raster\" refresh=\"60.0\" />"}, 0}}};
  ProbeAnswers given;
  for (const auto& [command_line, output] : answers) {
    const std::optional<ProbeRequest> next = dialects.NextProbe(base, "mame", "pacman", given);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->start.CommandLine, command_line);
    EXPECT_EQ(next->start.ApplicationName, base + "mame");
    given[command_line] = output;
  }
  EXPECT_FALSE(dialects.NextProbe(base, "mame", "pacman", given).has_value());
  const PassPlan plan = dialects.PlanPass(base, "mame", "pacman", false, "-nod3d");
  EXPECT_EQ(plan.dialect, EmulatorDialect::current);
  EXPECT_EQ(plan.version, "0.251 (unknown)");
  EXPECT_EQ(plan.refresh, 60);
  // Another game needs only its refresh rate; a described build's name needs nothing.
  EXPECT_EQ(dialects.NextProbe(base, "mame", "galaxian", {})->start.CommandLine,
            "mame -listxml galaxian");
  EXPECT_FALSE(dialects.NextProbe(base, "mame.exe", "pacman", {}).has_value());
  EXPECT_EQ(probes_run, 0);
}
