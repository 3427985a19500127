// Windows builds of the emulator: telling a Windows executable from others on real files, the
// start values through Wine, the error without Wine, and real passes of the MinGW-w64 build of
// the demo emulator under Wine through the runner and through velotrax-cli. The Wine passes need
// wine and the cross-built demo (VELOTRAX_WINDOWS_DEMO) and skip themselves without them.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "emulator/windows_executable.h"
#include "process/create_process.h"
#include "process/event_loop.h"
#include "tests/cli_harness.h"
#include "tests/helpers_common/line_reports.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using namespace velotrax::testing;

#ifdef VELOTRAX_WINDOWS_DEMO
const std::string kWindowsDemo = VELOTRAX_WINDOWS_DEMO;
#else
const std::string kWindowsDemo;
#endif

// Sets an environment variable (or unsets it for nullptr) for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_, old_;
  bool had_ = false;
};

// A DOS header whose e_lfanew points at offset 64, followed by the given signature.
std::string DosHeader(const std::string& signature, uint32_t pe_offset = 64) {
  std::string bytes(64, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(pe_offset >> (8 * i) & 0xFF);
  return bytes + signature;
}

// Why the Wine passes cannot run here; empty when they can.
std::string WhyNoWine() {
  if (kWindowsDemo.empty() || !FileIsPresent(kWindowsDemo)) {
    return "the MinGW-w64 build of the demo emulator is missing (no x86_64-w64-mingw32-g++)";
  }
  if (FindWineTools().wine.empty()) return "wine is not installed";
  return {};
}

#define SKIP_WITHOUT_WINE()                                                  \
  if (const std::string why = WhyNoWine(); !why.empty()) {                   \
    GTEST_SKIP() << "Windows emulator passes under Wine not tested: " << why \
                 << " (scripts/install-deps --wine installs both)";          \
  }

TEST(WindowsExecutableTest, OnlyAnMzFileWithAPeHeaderIsAWindowsProgram) {
  TempDir dir;
  WriteBytes(dir.File("text.exe"), "MZ is how this text begins, and nothing else\n");
  WriteBytes(dir.File("mz-only.exe"), "MZ");
  WriteBytes(dir.File("tiny-pe.exe"), DosHeader(std::string("PE\0\0", 4)));
  WriteBytes(dir.File("wrong-signature.exe"), DosHeader(std::string("PE\0\1", 4)));
  WriteBytes(dir.File("past-the-end.exe"), DosHeader(std::string("PE\0\0", 4), 66));
  WriteBytes(dir.File("readme.txt"), "Average FPS: 100.0\n");
  const struct {
    std::string path;
    bool windows;
  } cases[] = {
      {VELOTRAX_DEMO_EMULATOR, false},  // a native ELF program
      {dir.File("text.exe"), false},         {dir.File("mz-only.exe"), false},
      {dir.File("tiny-pe.exe"), true},       {dir.File("wrong-signature.exe"), false},
      {dir.File("past-the-end.exe"), false}, {dir.File("readme.txt"), false},
      {dir.File("missing.exe"), false},      {dir.Path(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsWindowsExecutable(c.path), c.windows);
  }
  if (!kWindowsDemo.empty() && FileIsPresent(kWindowsDemo)) {
    EXPECT_TRUE(IsWindowsExecutable(kWindowsDemo));
  }
}

// f's exit code, run in a child process that an alarm ends after limit_seconds, so that a check
// that blocks cannot hang the test; -1 when it did not end by itself.
int InChildWithin(unsigned limit_seconds, const std::function<int()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(limit_seconds);
    ::_exit(f());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Nothing but a regular file is opened: a named pipe would wait for a writer for ever. The start
// is refused with the system's words, and the CLI says what stands there.
TEST(WindowsExecutableTest, ANamedPipeOrDirectoryIsRefusedByNameWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("mame.exe").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.File("folder.exe").c_str(), 0755), 0);
  for (const auto& [name, kind] :
       {std::pair{"mame.exe", "a named pipe (FIFO)"}, std::pair{"folder.exe", "a directory"}}) {
    SCOPED_TRACE(name);
    const std::string path = dir.File(name);
    EXPECT_EQ(EmulatorFileProblem(path, EACCES),
              "the emulator \"" + path + "\" is " + kind + ", not a program file");
    EXPECT_EQ(InChildWithin(10,
                            [&] {
                              if (IsWindowsExecutable(path)) return 1;
                              try {
                                ForThisPlatform({dir.Path() + "/", path, "mame.exe pacman"});
                                return 2;
                              } catch (const EOSError& e) {
                                return e.ErrorCode() == EACCES ? 0 : 3;
                              }
                            }),
              0);
  }
  CliHarness cli;
  ASSERT_EQ(::unlink(cli.dir_.File("mame.exe").c_str()), 0);
  ASSERT_EQ(::mkfifo(cli.dir_.File("mame.exe").c_str(), 0755), 0);
  const CliResult result = cli.Cli({"run", "pacman"});  // killed if it has not ended in 120 s
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(result.err, HasSubstr("mame.exe\" is a named pipe (FIFO), not a program file"));
}

TEST(WindowsExecutableTest, QuotedWordsSplitBackUnchanged) {
  const std::vector<std::string> words = {"plain",
                                          "",
                                          "two words",
                                          "tab\there",
                                          "say \"hi\"",
                                          "C:\\dir\\",
                                          "C:\\dir with blank\\",
                                          "a\\\\\"b",
                                          "\\\"",
                                          "ends\\"};
  std::string line;
  for (const std::string& word : words) line += QuoteCommandLineWord(word) + " ";
  EXPECT_THAT(SplitCommandLine(line), ElementsAreArray(words));
  EXPECT_EQ(QuoteCommandLineWord("-rompath"), "-rompath");
}

TEST(WindowsExecutableTest, ThroughWineKeepsTheDirectoryAndTheWordsAfterTheProgramName) {
  const EmulatorInvocation pass{"/bench/", "/bench/mame.exe",
                                "mame.exe pacman -ftr 5000 \"two words\""};
  const EmulatorInvocation launched =
      RunThroughWine(pass, {"/usr/bin/wine", "/opt/v/launcher.exe", ""});
  EXPECT_EQ(launched.CurrentDirectory, "/bench/");
  EXPECT_EQ(launched.ApplicationName, "/usr/bin/wine");
  EXPECT_THAT(
      SplitCommandLine(launched.CommandLine),
      ElementsAre("/usr/bin/wine", "/opt/v/launcher.exe", "/bench/mame.exe", pass.CommandLine));

  const EmulatorInvocation plain = RunThroughWine(pass, {"/usr/bin/wine", "", ""});
  EXPECT_THAT(
      SplitCommandLine(plain.CommandLine),
      ElementsAre("/usr/bin/wine", "/bench/mame.exe", "pacman", "-ftr", "5000", "two words"));

  // A program named relative to our directory is handed on by its absolute name.
  const EmulatorInvocation relative =
      RunThroughWine({"/bench/", "mame.exe", "mame.exe x"}, {"/usr/bin/wine", "", ""});
  EXPECT_EQ(SplitCommandLine(relative.CommandLine).at(1), QueryCurrentDirectory() + "/mame.exe");
}

TEST(WindowsExecutableTest, WithoutWineAWindowsProgramFailsAtOnceSayingWhatIsNeeded) {
  TempDir dir;
  WriteBytes(dir.File("mame.exe"), DosHeader(std::string("PE\0\0", 4)));
  const EmulatorInvocation pass{dir.Path() + "/", dir.File("mame.exe"), "mame.exe pacman"};
  const struct {
    const char* wine;
    const char* path;
    std::string reason;
  } cases[] = {
      {"/nonexistent/wine", nullptr, "VELOTRAX_WINE names \"/nonexistent/wine\""},
      {nullptr, "", "no \"wine\" was found in PATH"},
      {"my-wine", dir.Path().c_str(), "VELOTRAX_WINE names \"my-wine\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ScopedEnv wine("VELOTRAX_WINE", c.wine);
    ScopedEnv path("PATH", c.path ? c.path : std::getenv("PATH"));
    try {
      ForThisPlatform(pass);
      ADD_FAILURE() << "no error";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), ENOENT);
      EXPECT_THAT(e.what(), HasSubstr("\"" + dir.File("mame.exe") +
                                      "\" is a Windows program; Wine is needed to run it"));
      EXPECT_THAT(e.what(), HasSubstr(c.reason));
    }
  }
  // A native program needs no Wine.
  ScopedEnv wine("VELOTRAX_WINE", "/nonexistent/wine");
  const EmulatorInvocation native{"/d/", VELOTRAX_DEMO_EMULATOR, "mame.exe pacman"};
  const EmulatorInvocation same = ForThisPlatform(native);
  EXPECT_EQ(same.ApplicationName, native.ApplicationName);
  EXPECT_EQ(same.CommandLine, native.CommandLine);
}

TEST(WindowsExecutableTest, WineIsLookedUpInPathByTheNameGiven) {
  TempDir dir;
  WriteBytes(dir.File("my-wine"), "#!/bin/sh\n");
  ::chmod(dir.File("my-wine").c_str(), 0755);
  WriteBytes(dir.File("wine"), "not runnable\n");  // no execute permission: passed over
  ScopedEnv path("PATH", ("/nonexistent:" + dir.Path()).c_str());
  ScopedEnv wine("VELOTRAX_WINE", "my-wine");
  EXPECT_EQ(FindWineTools().wine, dir.File("my-wine"));
  ScopedEnv no_setting("VELOTRAX_WINE", nullptr);
  EXPECT_EQ(FindWineTools().wine, "");
  ScopedEnv no_launcher("VELOTRAX_WINE_LAUNCHER", "");
  EXPECT_EQ(FindWineTools().launcher, "");
}

// One pass of the Windows demo under Wine through the runner, as the sequencer starts it.
struct WinePass {
  std::vector<std::string> lines;
  uint32_t exit_code = 0xFFFF;
};

WinePass RunWindowsDemo(const TempDir& dir) {
  std::filesystem::copy_file(kWindowsDemo, dir.File("mame.exe"));
  ScopedEnv frames("VELOTRAX_DEMO_FRAMES", "20");
  ScopedEnv show("VELOTRAX_DEMO_SHOW_ARGS", "1");
  const EmulatorInvocation pass =
      ForThisPlatform({dir.Path() + "/", dir.File("mame.exe"),
                       "mame.exe pacman " + std::string(DDrawOptionString)});
  EventLoop loop;
  TJvCreateProcess runner(loop);
  runner.ConsoleOptions = {TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect};
  runner.CurrentDirectory = pass.CurrentDirectory;
  runner.ApplicationName = pass.ApplicationName;
  runner.CommandLine = pass.CommandLine;
  std::vector<std::pair<std::string, bool>> reports;
  WinePass result;
  bool ended = false;
  runner.OnRead = [&](TJvCreateProcess&, std::string_view s, bool new_line) {
    reports.emplace_back(std::string(s), new_line);
  };
  runner.OnTerminate = [&](TJvCreateProcess&, uint32_t code) {
    result.exit_code = code;
    ended = true;
  };
  runner.Run();
  // A first start of Wine may prepare its prefix, which takes a while.
  EXPECT_TRUE(loop.RunUntil([&] { return ended; }, 300s));
  result.lines = velotrax::testing::TerminalLines(reports);
  return result;
}

std::vector<std::string> ArgumentLines(const std::vector<std::string>& lines) {
  std::vector<std::string> arguments;
  for (const std::string& line : lines) {
    if (line.rfind("Argument ", 0) == 0) arguments.push_back(line);
  }
  return arguments;
}

TEST(WinePassTest, TheWindowsProgramGetsTheDescribedCommandLineAndItsFrameRateCounts) {
  SKIP_WITHOUT_WINE();
  TempDir dir;
  const WinePass pass = RunWindowsDemo(dir);
  EXPECT_EQ(pass.exit_code, 0u);
  const std::string classic = "mame.exe pacman " + std::string(DDrawOptionString);
  EXPECT_THAT(pass.lines, ::testing::Contains("Command line: " + classic));
  std::vector<std::string> expected;
  const std::vector<std::string> words = SplitCommandLine(classic);
  for (std::size_t i = 0; i < words.size(); ++i) {
    expected.push_back("Argument " + std::to_string(i) + ": " + words[i]);
  }
  EXPECT_THAT(ArgumentLines(pass.lines), ElementsAreArray(expected));
  // Wine's own lines on the same pipe leave the frame rate alone.
  EXPECT_GT(ExtractFrameRate(pass.lines), 0);
}

TEST(WinePassTest, WithoutTheLauncherWineNamesTheProgramByItsWindowsPath) {
  SKIP_WITHOUT_WINE();
  ScopedEnv no_launcher("VELOTRAX_WINE_LAUNCHER", "");
  TempDir dir;
  const WinePass pass = RunWindowsDemo(dir);
  EXPECT_EQ(pass.exit_code, 0u);
  const std::vector<std::string> arguments = ArgumentLines(pass.lines);
  ASSERT_EQ(arguments.size(), SplitCommandLine(DDrawOptionString).size() + 2);
  EXPECT_THAT(arguments[0], ::testing::MatchesRegex("Argument 0: [A-Z]:.*\\\\mame\\.exe"));
  EXPECT_EQ(arguments[1], "Argument 1: pacman");
  EXPECT_EQ(arguments.back(), "Argument " + std::to_string(arguments.size() - 1) + ": -nod3d");
  EXPECT_GT(ExtractFrameRate(pass.lines), 0);
}

// velotrax-cli in the harness's directory; its exit code and what it wrote on both streams.
int RunCli(CliHarness& cli, const std::vector<std::string>& args,
           const std::map<std::string, std::string>& env, std::string& output) {
  const CliResult result = cli.Cli(args, env);
  output = result.out + result.err;
  return result.code;
}

TEST(WinePassTest, TheCliSaysWhenWineIsMissingAndBenchmarksTheWindowsBuildWithIt) {
  CliHarness cli;
  const TempDir& dir = cli.dir_;
  WriteBytes(dir.File("mame.exe"), DosHeader(std::string("PE\0\0", 4)));
  std::string output;
  EXPECT_EQ(RunCli(cli, {"run", "pacman"}, {{"VELOTRAX_WINE", "/nonexistent/wine"}}, output), 1);
  EXPECT_THAT(output, HasSubstr("is a Windows program; Wine is needed to run it"));
  EXPECT_FALSE(FileIsPresent(dir.File("mark.dat")));

  SKIP_WITHOUT_WINE();
  std::filesystem::copy_file(kWindowsDemo, dir.File("mame.exe"),
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(RunCli(cli, {"run", "pacman"}, {{"VELOTRAX_DEMO_FRAMES", "20"}}, output), 0) << output;
  const std::string scores = ReadBytes(dir.File("mark.dat"));
  EXPECT_THAT(scores, HasSubstr("\r\npacman=0\r\n"));
  EXPECT_THAT(scores, ::testing::ContainsRegex("\r\npacmana=[1-9][0-9]*\r\n"));
}

TEST(WinePassTest, AWindowsBuildIsAskedItsDialectThroughWine) {
  SKIP_WITHOUT_WINE();
  // A native program named mame.exe is never asked; a real Windows build is, through Wine, and
  // the demo's Windows build refuses the question as a described build does.
  CliHarness cli(kWindowsDemo);
  const TempDir& dir = cli.dir_;
  WriteBytes(dir.File("logging-wine"), "#!/bin/sh\necho \"$@\" >>" + dir.File("asked") + "\nexec " +
                                           FindWineTools().wine + " \"$@\"\n");
  ::chmod(dir.File("logging-wine").c_str(), 0755);
  std::string output;
  ASSERT_EQ(RunCli(cli, {"run", "--dry-run", "pacman"},
                   {{"VELOTRAX_WINE", dir.File("logging-wine")}}, output),
            0)
      << output;
  EXPECT_THAT(output, HasSubstr("classic"));
  EXPECT_THAT(output, HasSubstr("-ftr 5000"));
  EXPECT_THAT(ReadBytes(dir.File("asked")), HasSubstr("-showusage"));
}

TEST(WinePassTest, TheWindowsBuildAnswersTheDialectQuestionsAsTheNativeOneDoes) {
  SKIP_WITHOUT_WINE();
  // The current dialect's command line holds the game's refresh rate, asked with -listxml.
  std::string lines[2];
  CliHarness native(VELOTRAX_DEMO_EMULATOR), windows(kWindowsDemo);
  const std::vector<std::string> args = {"run", "--dry-run", "--dialect", "current", "pacman"};
  ASSERT_EQ(RunCli(native, args, {}, lines[0]), 0) << lines[0];
  ASSERT_EQ(RunCli(windows, args, {}, lines[1]), 0) << lines[1];
  for (std::string& output : lines) output = output.substr(output.find("pacman DDraw:"));
  EXPECT_THAT(lines[0], HasSubstr("-str "));
  EXPECT_EQ(lines[1], lines[0]);
}

}  // namespace
}  // namespace velotrax
