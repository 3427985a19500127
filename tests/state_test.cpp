#include "core/state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

namespace fs = std::filesystem;

TEST(BuildCatalogue, PlaceholderAndFiftyFourGamesAllUnmeasured) {
  ProgramState state;
  BuildCatalogue(state);
  ASSERT_EQ(state.games.size(), static_cast<std::size_t>(game_count));
  EXPECT_EQ(state.games[0].rom, "Select Rom");
  EXPECT_EQ(state.games[0].driver, "");
  EXPECT_EQ(state.games[0].cpu, "");

  std::set<std::string> roms;
  for (int i = 0; i < game_count; ++i) {
    SCOPED_TRACE(i);
    const Tgameinfo& game = state.games[i];
    EXPECT_EQ(game.d3d, 0);
    EXPECT_EQ(game.ddraw, 0);
    EXPECT_EQ(game.extra, "");
    if (i == 0) continue;
    EXPECT_EQ(game.cpu, "");
    EXPECT_FALSE(game.rom.empty());
    EXPECT_EQ(game.driver.substr(game.driver.size() - 2), ".c");
    roms.insert(game.rom);
  }
  // Every rom is a score-file key of its own.
  EXPECT_EQ(roms.size(), static_cast<std::size_t>(game_count - 1));
}

TEST(BuildCatalogue, EntriesSitAtTheirSelectorIndex) {
  ProgramState state;
  BuildCatalogue(state);
  const struct {
    int index;
    const char* rom;
    const char* driver;
  } cases[] = {
      {1, "720", "atarisy2.c"},      {2, "asteroid", "asteroid.c"}, {17, "mace", "seattle.c"},
      {23, "pacman", "pacman.c"},    {33, "rvschool", "zn.c"},      {37, "sfex2p", "zn.c"},
      {38, "shufshot", "itech32.c"}, {49, "xexex", "xexex.c"},      {51, "blitz", "seattle.c"},
      {54, "drivedge", "itech32.c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(state.games[c.index].rom, c.rom);
    EXPECT_EQ(state.games[c.index].driver, c.driver);
  }
}

TEST(BuildCatalogue, RebuildingStartsFromFreshEntries) {
  ProgramState state;
  BuildCatalogue(state);
  state.games[0].cpu = "Old description";
  state.games[5].d3d = 300;
  state.games[5].ddraw = 400;
  state.games.resize(3);
  BuildCatalogue(state);
  ASSERT_EQ(state.games.size(), static_cast<std::size_t>(game_count));
  EXPECT_EQ(state.games[0].cpu, "");
  EXPECT_EQ(state.games[5].d3d, 0);
  EXPECT_EQ(state.games[5].ddraw, 0);
  EXPECT_EQ(state.games[54].rom, "drivedge");
}

TEST(GameSelectorItem, ShowsTheRomExceptTheCapitalisedAsteroid) {
  ProgramState state;
  BuildCatalogue(state);
  EXPECT_EQ(GameSelectorItem(0), "Select Rom");
  EXPECT_EQ(GameSelectorItem(2), "Asteroid");
  EXPECT_EQ(state.games[2].rom, "asteroid");  // the emulator still receives the lower-case name
  for (int i = 1; i < game_count; ++i) {
    if (i == 2) continue;
    SCOPED_TRACE(i);
    EXPECT_EQ(GameSelectorItem(i), state.games[i].rom);
  }
  for (int outside : {-1, game_count, 255}) {
    SCOPED_TRACE(outside);
    EXPECT_EQ(GameSelectorItem(outside), "");
  }
}

class InitProgramStateTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::current_path(previous_); }

  fs::path previous_ = fs::current_path();
  testing::TempDir temp_;
  fs::path root_ = temp_.Path();
};

#ifdef _WIN32
const char* const kSeparator = "\\";
#else
const char* const kSeparator = "/";
#endif

TEST_F(InitProgramStateTest, BaseDirIsTheWorkingDirectoryWithItsCaseKept) {
  const fs::path dir = root_ / "Bench MAME";
  fs::create_directory(dir);
  fs::current_path(dir);

  ProgramState state;
  state.mame_file = "mamepp.exe";
  state.score_lines.AppendLine("left over");
  InitProgramState(state);

  EXPECT_EQ(state.base_dir, fs::canonical(dir).string() + kSeparator);
  EXPECT_EQ(state.mame_file, "mame.exe");
  EXPECT_EQ(state.score_lines.Count(), 0u);
}

TEST_F(InitProgramStateTest, RootDirectoryEndsInTwoSlashesAndStillNamesFiles) {
#ifdef _WIN32
  // A drive's root ends in a backslash of its own ("C:\\"): none is added.
  const fs::path root = fs::current_path().root_path();
  fs::current_path(root);
  ProgramState state;
  InitProgramState(state);
  EXPECT_EQ(state.base_dir, root.string());
#else
  fs::current_path("/");
  ProgramState state;
  InitProgramState(state);
  EXPECT_EQ(state.base_dir, "//");
#endif
  EXPECT_TRUE(fs::is_directory(state.base_dir + fs::path(previous_).relative_path().string()));
}

}  // namespace
}  // namespace velotrax
