// velotrax-cli with emulators of both dialects: the demo emulator under both names, scripted
// stand-ins that refuse a game, and, when Debian's mame package is installed, the real emulator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/state.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "storage/score_files.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using ::testing::HasSubstr;
using velotrax::testing::ReadBytes;
using velotrax::testing::TempDir;
using velotrax::testing::WriteBytes;

constexpr int kPacman = 23;
const std::string kRealMame = "/usr/games/mame";

struct Result {
  int code = -1;
  std::string out, err;
};

class CliDialectTest : public ::testing::Test {
 protected:
  void Install(const std::string& program, const std::string& name) {
    std::filesystem::copy_file(program, dir_.File(name),
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(::chmod(dir_.File(name).c_str(), 0755), 0);
    WriteBytes(dir_.File("velotrax.ini"), "[velotrax]\r\nmamefile=" + name + "\r\n");
  }
  void InstallScript(const std::string& name, const std::string& body) {
    WriteBytes(scratch_.File(name), "#!/bin/sh\n" + body + "\n");
    Install(scratch_.File(name), name);
  }

  // Runs the tool in the working directory; args are plain words.
  Result Cli(const std::string& args) {
    const std::string command = "cd '" + dir_.Path() + "' && VELOTRAX_DEMO_FRAMES=20 '" +
                                VELOTRAX_CLI + "' " + args + " >'" + scratch_.File("out") +
                                "' 2>'" + scratch_.File("err") + "' </dev/null";
    const int status = std::system(command.c_str());
    Result result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadBytes(scratch_.File("out"));
    result.err = ReadBytes(scratch_.File("err"));
    return result;
  }

  Tgameinfo Pacman() {
    ProgramState state;
    state.base_dir = dir_.Path() + "/";
    BuildCatalogue(state);
    LoadScores(state);
    return state.games[kPacman];
  }

  TempDir dir_, scratch_;
};

TEST_F(CliDialectTest, TheDemoEmulatorRunsInBothDialects) {
  Install(VELOTRAX_DEMO_EMULATOR, "mame");
  Result dry = Cli("run --dry-run --mode both pacman");
  ASSERT_EQ(dry.code, 0) << dry.err;
  EXPECT_THAT(dry.out, HasSubstr("emulator: " + dir_.File("mame") +
                                 "\nversion:  1.0 (a stand-in, "
                                 "not an emulator)\ndialect:  current (detected)\n"));
  EXPECT_THAT(dry.out, HasSubstr("\npacman DDraw: mame pacman -str "));
  EXPECT_THAT(dry.out, HasSubstr(" -video opengl -window -resolution 1280x1024 -sound none"));
  EXPECT_FALSE(FileIsPresent(dir_.File("mark.dat")));

  Result run = Cli("run --mode both pacman");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_GT(Pacman().ddraw, 0);
  EXPECT_GT(Pacman().d3d, 0);

  // As mame.exe it is a described build; asked for current options it still answers them.
  std::filesystem::remove(dir_.File("mark.dat"));
  Install(VELOTRAX_DEMO_EMULATOR, "mame.exe");
  dry = Cli("run --dry-run pacman");
  EXPECT_THAT(dry.out, HasSubstr("dialect:  classic (detected)\npacman DDraw: mame.exe pacman " +
                                 std::string(DDrawOptionString) + "\n"));
  run = Cli("run --dialect current --mode d3d pacman");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_GT(Pacman().d3d, 0);
  EXPECT_EQ(Pacman().ddraw, 0);
  run = Cli("run --dialect classic pacman");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_GT(Pacman().ddraw, 0);
  EXPECT_EQ(Cli("run --dialect newest pacman").code, 2);
}

TEST_F(CliDialectTest, AGameTheEmulatorRefusesStoresNothingAndSaysWhy) {
  InstallScript("mame",
                "case $1 in\n"
                "  -showusage) echo '-seconds_to_run x'; echo '-video x' ;;\n"
                "  -listxml) echo '<display type=\"raster\" refresh=\"60.0\" />' ;;\n"
                "  -*) ;;\n"
                "  *) echo 'error: XDG_RUNTIME_DIR is invalid or not set in the environment.' >&2\n"
                "     echo \"$1.6e NOT FOUND (tried in $1)\"\n"
                "     echo 'Fatal error: Required files are missing, the machine cannot be run.'\n"
                "     exit 2 ;;\n"
                "esac");
  const Result run = Cli("run pacman dkong");
  EXPECT_EQ(run.code, 1);
  for (const char* rom : {"pacman", "dkong"}) {
    EXPECT_THAT(run.err, HasSubstr(std::string(rom) +
                                   " using DDraw: nothing was measured. Fatal error: Required "
                                   "files are missing, the machine cannot be run."));
  }
  EXPECT_EQ(Pacman().ddraw, 0);
  // A classic emulator sent the current build's options would say so the same way.
  Install(VELOTRAX_DEMO_EMULATOR, "mame");
  const Result forced = Cli("run --dialect classic pacman");
  EXPECT_EQ(forced.code, 1);
  EXPECT_THAT(forced.err, HasSubstr("no frame rate"));
  EXPECT_THAT(Cli("show pacman").err, HasSubstr("the emulator here is mame, version 1.0"));
}

// The installed emulator, with the ROM-less pong in place of the catalogue game and two emulated
// seconds in place of a full pass.
TEST_F(CliDialectTest, RealEmulatorPassStoresTheFrameRateOfItsOutput) {
  if (!FileIsPresent(kRealMame)) {
    GTEST_SKIP() << kRealMame << " is not installed (Debian package mame); the real emulator "
                 << "was not tried";
  }
  InstallScript("mame",
                "case $1 in\n"
                "  -listxml) " +
                    kRealMame +
                    " -listxml pong | tee listxml.txt; exit 0 ;;\n"
                    "  -*) exec " +
                    kRealMame +
                    " \"$@\" ;;\n"
                    "esac\n"
                    "shift; n=$#; prev=\n"
                    "for a in \"$@\"; do\n"
                    "  if [ \"$prev\" = -str ]; then a=2; fi\n"
                    "  set -- \"$@\" \"$a\"; prev=$a\n"
                    "done\n"
                    "shift $n\n" +
                    kRealMame +
                    " pong \"$@\" > real_output.txt 2>&1; status=$?\n"
                    "cat real_output.txt; exit $status");
  const Result run = Cli("run pacman");
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string output = ReadBytes(dir_.File("real_output.txt"));
  const std::size_t speed = output.find("Average speed: ");
  ASSERT_NE(speed, std::string::npos) << output;
  const double percent = std::stod(output.substr(speed + 15));
  std::vector<std::string> listxml;
  std::istringstream xml(ReadBytes(dir_.File("listxml.txt")));
  for (std::string line; std::getline(xml, line);) listxml.push_back(line);
  const double refresh = RefreshFromListXml(listxml);
  ASSERT_GT(refresh, 0);
  const int32_t fps = Pacman().ddraw;
  EXPECT_GT(fps, 0);
  EXPECT_EQ(fps, static_cast<int32_t>(std::floor(percent * refresh / 100))) << output;
}

}  // namespace
}  // namespace velotrax
