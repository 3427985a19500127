// The demo emulator as a child: its command line, its answers to faults and its output.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/sequencer.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/score_files.h"
#include "tests/helpers_common/temp_dir.h"

extern char** environ;

namespace velotrax {
namespace {

using ::testing::HasSubstr;

struct Outcome {
  int exit_code = -1;
  std::string out, err;
};

// Runs the demo emulator with argv[0] "mame.exe" and the given arguments, with
// VELOTRAX_DEMO_FRAMES set to `frames` (or unset when null); standard output and error apart.
Outcome RunDemo(const std::vector<std::string>& arguments, const char* frames) {
  std::vector<std::string> words = {"mame.exe"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "VELOTRAX_DEMO_FRAMES=", 21) != 0) variables.emplace_back(*entry);
  }
  if (frames != nullptr) variables.push_back(std::string("VELOTRAX_DEMO_FRAMES=") + frames);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  pid_t pid = 0;
  const int started =
      posix_spawn(&pid, VELOTRAX_DEMO_EMULATOR, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);

  Outcome outcome;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open_pipes = started == 0 ? 2 : 0;
  while (open_pipes > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (started == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    outcome.exit_code = WEXITSTATUS(status);
  }
  return outcome;
}

std::vector<std::string> Words(std::string_view options) {
  return SplitCommandLine(options);
}

std::vector<std::string> Pass(const std::string& rom, std::string_view options) {
  std::vector<std::string> arguments = {rom};
  for (const std::string& word : Words(options)) arguments.push_back(word);
  return arguments;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ChecksumLine(const std::string& out) {
  for (const std::string& line : Lines(out)) {
    if (line.rfind("Scene checksum ", 0) == 0) return line;
  }
  return "<none>";
}

TEST(DemoEmulator, RendersTheFramesAndEndsWithTheEmulatorsFrameRateLine) {
  for (std::string_view options : {DDrawOptionString, D3DOptionString}) {
    SCOPED_TRACE(options);
    const Outcome run = RunDemo(Pass("pacman", options), "15");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("stand-in"));
    EXPECT_THAT(run.out, HasSubstr("\rFrame      15 of 15"));

    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(),
                                 std::regex(R"(Average FPS: [0-9]+\.[0-9]{6} \(15 frames\))")))
        << lines.back();
    int fps_lines = 0;
    for (const std::string& line : lines) fps_lines += line.find("FPS") != std::string::npos;
    EXPECT_EQ(fps_lines, 1);
    EXPECT_EQ(std::to_string(ExtractFrameRate(lines)),
              lines.back().substr(13, lines.back().find('.') - 13));
  }
}

TEST(DemoEmulator, FrameCountComesFromFtrAndTheEnvironmentMayLowerIt) {
  std::vector<std::string> seven = Pass("dkong", DDrawOptionString);
  for (std::size_t i = 0; i + 1 < seven.size(); ++i) {
    if (seven[i] == "-ftr") seven[i + 1] = "7";
  }
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    const char* frames;
    const char* count;
  } cases[] = {
      {"-ftr alone", seven, nullptr, "(7 frames)"},
      {"an empty variable counts as unset", seven, "", "(7 frames)"},
      {"a larger variable does not raise it", seven, "50", "(7 frames)"},
      {"a smaller variable lowers it", seven, "3", "(3 frames)"},
      {"the real pass lowered", Pass("dkong", D3DOptionString), "4", "(4 frames)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunDemo(c.arguments, c.frames);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(Lines(run.out).back(), HasSubstr(c.count));
  }
}

TEST(DemoEmulator, GamesAndPathsDrawDifferentScenesTheSameEachTime) {
  const std::string pacman = ChecksumLine(RunDemo(Pass("pacman", DDrawOptionString), "5").out);
  const std::string again = ChecksumLine(RunDemo(Pass("pacman", DDrawOptionString), "5").out);
  const std::string filtered = ChecksumLine(RunDemo(Pass("pacman", D3DOptionString), "5").out);
  const std::string dkong = ChecksumLine(RunDemo(Pass("dkong", DDrawOptionString), "5").out);
  EXPECT_NE(pacman, "<none>");
  EXPECT_EQ(pacman, again);
  EXPECT_NE(pacman, filtered);
  EXPECT_NE(pacman, dkong);
}

TEST(DemoEmulator, AnswersAFaultyCommandLineLikeAnEmulator) {
  std::vector<std::string> extra = Pass("pacman", DDrawOptionString);
  extra.push_back("-cheat");
  std::vector<std::string> short_of_one = Pass("pacman", D3DOptionString);
  short_of_one.pop_back();
  std::vector<std::string> mixed = Pass("pacman", DDrawOptionString);
  mixed.back() = "-d3d";
  std::vector<std::string> zero_frames = Pass("pacman", DDrawOptionString);
  std::vector<std::string> word_frames = Pass("pacman", DDrawOptionString);
  for (std::size_t i = 0; i + 1 < zero_frames.size(); ++i) {
    if (zero_frames[i] == "-ftr") zero_frames[i + 1] = "0";
    if (word_frames[i] == "-ftr") word_frames[i + 1] = "many";
  }
  std::vector<std::string> placeholder = {"Select", "Rom"};
  for (const std::string& word : Words(DDrawOptionString)) placeholder.push_back(word);

  const struct {
    const char* name;
    std::vector<std::string> arguments;
    const char* frames;
    const char* message;
  } cases[] = {
      {"no arguments", {}, nullptr, "no game given"},
      {"unknown game", Pass("pacmania", DDrawOptionString), nullptr, "\"pacmania\" is not a game"},
      {"the selector's spelling", Pass("Asteroid", DDrawOptionString), nullptr,
       "\"Asteroid\" is not a game"},
      {"the placeholder", placeholder, nullptr, "\"Select\" is not a game"},
      {"no options", {"pacman"}, nullptr, "neither a DirectDraw nor a Direct3D"},
      {"an unknown option", extra, nullptr, "unknown option: -cheat"},
      {"one option short", short_of_one, nullptr, "neither a DirectDraw nor a Direct3D"},
      {"methods mixed", mixed, nullptr, "neither a DirectDraw nor a Direct3D"},
      {"no frames", zero_frames, nullptr, "-ftr wants a number of frames"},
      {"frames not a number", word_frames, nullptr, "-ftr wants a number of frames"},
      {"bad variable", Pass("pacman", DDrawOptionString), "ten", "VELOTRAX_DEMO_FRAMES must be"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunDemo(c.arguments, c.frames);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_EQ(ExtractFrameRate(Lines(run.out)), 0);
    EXPECT_EQ(run.out.find("FPS"), std::string::npos);
  }
}

// scripts/demo-workspace on a build directory of its own.
class DemoWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(VELOTRAX_DEMO_EMULATOR, build_.File("velotrax-demo-emulator"));
    std::filesystem::permissions(build_.File("velotrax-demo-emulator"),
                                 std::filesystem::perms::owner_all);
  }
  int Prepare(const std::string& option = "") const {
    const std::string command = std::string("'") + VELOTRAX_SOURCE_DIR +
                                "/scripts/demo-workspace' " + option + " '" + build_.Path() +
                                "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Demo(const std::string& name) const { return build_.File("demo/" + name); }

  velotrax::testing::TempDir build_;
};

TEST_F(DemoWorkspaceTest, HoldsTheDemoEmulatorAsMameExeAndLoadableReferences) {
  ASSERT_EQ(Prepare(), 0);
  using velotrax::testing::ReadBytes;
  EXPECT_EQ(ReadBytes(Demo("mame.exe")), ReadBytes(VELOTRAX_DEMO_EMULATOR));
  EXPECT_EQ(access(Demo("mame.exe").c_str(), X_OK), 0);
  EXPECT_TRUE(std::filesystem::is_empty(Demo("roms")));

  ProgramState state;
  BuildCatalogue(state);
  state.base_dir = build_.File("demo/");
  std::vector<std::string> names;
  LoadReferences(state, [&](const std::string& name) { names.push_back(name); });
  EXPECT_THAT(names,
              ::testing::ElementsAre(HasSubstr("Demo reference A"), HasSubstr("Demo reference B"),
                                     HasSubstr("Demo reference C")));
  ASSERT_EQ(state.references.size(), 4u);
  for (int n = 1; n <= 3; ++n) {
    for (int i = 1; i < game_count; ++i) {
      SCOPED_TRACE(state.games[i].rom);
      EXPECT_GT(state.references[n][i].d3d, 0);
      EXPECT_GT(state.references[n][i].ddraw, 0);
    }
  }
  // Nothing else beside them, no temporary file left behind.
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(build_.File("demo"))) {
    entries.push_back(entry.path().filename().string());
  }
  EXPECT_THAT(entries, ::testing::UnorderedElementsAre("mame.exe", "roms", "reference.dat"));
}

TEST_F(DemoWorkspaceTest, AgainRefreshesMameExeAndKeepsTheUsersFiles) {
  ASSERT_EQ(Prepare(), 0);
  using velotrax::testing::ReadBytes;
  using velotrax::testing::WriteBytes;
  WriteBytes(Demo("mark.dat"), "[0]\r\ncpu=mine\r\n");
  WriteBytes(Demo("velotrax.ini"), "[velotrax]\r\nselected=5\r\n");
  WriteBytes(Demo("reference.dat"), "[0]\r\nreference=0\r\n");
  WriteBytes(Demo("mame.exe"), "stale");
  WriteBytes(Demo("roms/pacman.zip"), "rom");

  ASSERT_EQ(Prepare(), 0);
  EXPECT_EQ(ReadBytes(Demo("mame.exe")), ReadBytes(VELOTRAX_DEMO_EMULATOR));
  EXPECT_EQ(ReadBytes(Demo("mark.dat")), "[0]\r\ncpu=mine\r\n");
  EXPECT_EQ(ReadBytes(Demo("velotrax.ini")), "[velotrax]\r\nselected=5\r\n");
  EXPECT_EQ(ReadBytes(Demo("reference.dat")), "[0]\r\nreference=0\r\n");
  EXPECT_EQ(ReadBytes(Demo("roms/pacman.zip")), "rom");
}

TEST_F(DemoWorkspaceTest, CurrentHoldsTheDemoEmulatorAsATodaysBuildNamedMame) {
  ASSERT_EQ(Prepare("--current"), 0);
  const std::string dir = build_.File("demo-current/");
  EXPECT_EQ(access((dir + "mame").c_str(), X_OK), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "reference.dat"));
  EmulatorDialects dialects;
  const EmulatorIdentity identity = dialects.Identify(dir, "mame");
  EXPECT_EQ(identity.dialect, EmulatorDialect::current);
  EXPECT_EQ(identity.version, "1.0 (a stand-in, not an emulator)");
  const double refresh = dialects.RefreshRate(dir, "mame", "pacman");
  EXPECT_TRUE(refresh >= 55 && refresh < 61.1) << refresh;
}

TEST_F(DemoWorkspaceTest, WithoutTheBuiltEmulatorItFailsAndMakesNothing) {
  std::filesystem::remove(build_.File("velotrax-demo-emulator"));
  EXPECT_EQ(Prepare(), 1);
  EXPECT_FALSE(std::filesystem::exists(build_.File("demo")));
}

}  // namespace
}  // namespace velotrax
