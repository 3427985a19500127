#include "emulator/emulator_contract.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velotrax {
namespace {

TEST(EmulatorContract, OptionStringsAreTheEmulatorsExactly) {
  EXPECT_EQ(D3DOptionString,
            "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -skip_gameinfo "
            "-screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -nomouse -nojoy -nogun "
            "-nosleep -rompath roms -d3d -d3dfilter 0 -d3dtexmanage -d3dprescale none");
  EXPECT_EQ(DDrawOptionString,
            "-norc -ftr 5000 -noafs -r 1280x1024x32 -refresh 60 -skip_disclaimer -skip_gameinfo "
            "-screen_aspect 5:4 -nothrottle -rdtsc -high_priority -noart -nomouse -nojoy -nogun "
            "-nosleep -rompath roms -nod3d");
}

TEST(EmulatorContract, ComposesAPassFromTheWorkingDirectoryFileAndRom) {
  const EmulatorInvocation d3d = ComposeInvocation("/home/u/bench/", "mame.exe", "pacman", true);
  EXPECT_EQ(d3d.CurrentDirectory, "/home/u/bench/");
  EXPECT_EQ(d3d.ApplicationName, "/home/u/bench/mame.exe");
  EXPECT_EQ(d3d.CommandLine, "mame.exe pacman " + std::string(D3DOptionString));

  const EmulatorInvocation ddraw = ComposeInvocation("/w d/", "mamepp.exe", "1942", false);
  EXPECT_EQ(ddraw.ApplicationName, "/w d/mamepp.exe");
  EXPECT_EQ(ddraw.CommandLine, "mamepp.exe 1942 " + std::string(DDrawOptionString));
  // What the child gets: its own file name first, then the rom, then the options.
  const std::vector<std::string> words = SplitCommandLine(ddraw.CommandLine);
  ASSERT_GE(words.size(), 3u);
  EXPECT_EQ(words[0], "mamepp.exe");
  EXPECT_EQ(words[1], "1942");
  EXPECT_EQ(words.back(), "-nod3d");
}

}  // namespace
}  // namespace velotrax
