#include "storage/score_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/state.h"
#include "storage/int_text.h"
#include "tests/helpers_common/run_together.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::MessageOf;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// The body of a score file as this program writes it, under the given section name.
std::string ScoreSection(const std::string& section, const std::string& cpu, int32_t base) {
  ProgramState catalogue;
  BuildCatalogue(catalogue);
  std::string text = "[" + section + "]\r\ncpu=" + cpu + "\r\n";
  for (int i = 1; i < game_count; ++i) {
    text += catalogue.games[i].rom + "=" + std::to_string(base + i) + "\r\n";
    text += catalogue.games[i].rom + "a=" + std::to_string(base + 100 + i) + "\r\n";
  }
  return text;
}

std::string ReferenceFile(int32_t count, int sections) {
  std::string text = "[0]\r\nreference=" + IntToText(count) + "\r\n";
  for (int n = 1; n <= sections; ++n) {
    text += ScoreSection(std::to_string(n), "PC " + std::to_string(n), n * 1000);
  }
  return text;
}

class ScoreFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.base_dir = dir_.Path() + "/";
    BuildCatalogue(state_);
  }
  void LoadRefs() {
    names_.clear();
    LoadReferences(state_, [this](const std::string& name) { names_.push_back(name); });
  }
  // What a program that opens the folder now reads.
  ProgramState Loaded() const {
    ProgramState state;
    state.base_dir = state_.base_dir;
    BuildCatalogue(state);
    LoadScores(state);
    return state;
  }
  TempDir dir_;
  ProgramState state_;
  std::vector<std::string> names_;
};

TEST_F(ScoreFilesTest, SavesTheScoreFileExactly) {
  state_.games[0].cpu = "Athlon 64 3200+";
  state_.games[23].d3d = 812;
  state_.games[23].ddraw = 1033;
  state_.games[1].d3d = -5;
  SaveScores(state_);

  const std::string bytes = ReadBytes(dir_.File("mark.dat"));
  std::string expected = "[0]\r\ncpu=Athlon 64 3200+\r\n720=-5\r\n720a=0\r\n";
  for (int i = 2; i < game_count; ++i) {
    const std::string& rom = state_.games[i].rom;
    expected += rom + "=" + (i == 23 ? "812" : "0") + "\r\n";
    expected += rom + "a=" + (i == 23 ? "1033" : "0") + "\r\n";
  }
  EXPECT_EQ(bytes, expected);
  EXPECT_NE(bytes.find("\r\npacman=812\r\npacmana=1033\r\n"), std::string::npos);
  EXPECT_EQ(state_.score_lines.Count(), 110u);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
}

TEST_F(ScoreFilesTest, ScoresComeBackAfterARestart) {
  state_.games[0].cpu = "  \"My PC\"  ";
  for (int i = 1; i < game_count; ++i) {
    state_.games[i].d3d = i * 3;
    state_.games[i].ddraw = i == 10 ? 2147483647 : i * 7;
  }
  SaveScores(state_);

  ProgramState restarted;
  restarted.base_dir = state_.base_dir;
  BuildCatalogue(restarted);
  LoadScores(restarted);
  EXPECT_EQ(restarted.games[0].cpu, "My PC");  // blanks and quotes go, as the profile reads them
  for (int i = 1; i < game_count; ++i) {
    SCOPED_TRACE(restarted.games[i].rom);
    EXPECT_EQ(restarted.games[i].d3d, state_.games[i].d3d);
    EXPECT_EQ(restarted.games[i].ddraw, state_.games[i].ddraw);
  }
  EXPECT_FALSE(restarted.scores_unreadable);
}

TEST_F(ScoreFilesTest, LineBreaksInTheDescriptionCannotForgeScores) {
  state_.games[0].cpu = "PC\r\n720=999";
  SaveScores(state_);
  BuildCatalogue(state_);
  LoadScores(state_);
  EXPECT_EQ(state_.games[1].d3d, 0);
  EXPECT_EQ(state_.games[0].cpu, "PC  720=999");
}

TEST_F(ScoreFilesTest, UnreadableScoreFileIsKeptAsBackupAtTheNextSave) {
  std::string damaged = ScoreSection("0", "Old PC", 0);
  damaged.replace(damaged.find("pacmana=123"), 11, "pacmana=12x");
  WriteBytes(dir_.File("mark.dat"), damaged);

  EXPECT_EQ(MessageOf<EConvertError>([&] { LoadScores(state_); }),
            "'12x' is not a valid integer value");
  EXPECT_TRUE(state_.scores_unreadable);
  EXPECT_EQ(state_.games[0].cpu, "Old PC");  // values read before the error stay
  EXPECT_EQ(state_.games[22].ddraw, 122);
  EXPECT_EQ(state_.games[23].d3d, 23);

  // Without its backup the damaged file is not replaced either.
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("mark.dat.bak")));
  EXPECT_EQ(MessageOf<EFCreateError>([&] { SaveScores(state_); }),
            "Cannot create file \"" + dir_.File("mark.dat.bak") + "\". Is a directory");
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), damaged);
  EXPECT_TRUE(state_.scores_unreadable);
  ASSERT_TRUE(std::filesystem::remove(dir_.File("mark.dat.bak")));

  SaveScores(state_);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat.bak")), damaged);
  EXPECT_NE(ReadBytes(dir_.File("mark.dat")), damaged);
  EXPECT_FALSE(state_.scores_unreadable);

  // Only the first save keeps a backup; later ones leave it alone.
  state_.games[5].d3d = 77;
  SaveScores(state_);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat.bak")), damaged);
  EXPECT_EQ(dir_.Names(), (std::vector<std::string>{"mark.dat", "mark.dat.bak"}));

#ifndef _WIN32  // a named pipe cannot stand in a folder on Windows
  // A pipe in the score file's place is refused, not waited on for ever.
  ASSERT_TRUE(std::filesystem::remove(dir_.File("mark.dat")));
  ASSERT_TRUE(std::filesystem::remove(dir_.File("mark.dat.bak")));
  ASSERT_EQ(::mkfifo(dir_.File("mark.dat").c_str(), 0644), 0);
  state_.scores_unreadable = true;
  EXPECT_EQ(MessageOf<EFCreateError>([&] { SaveScores(state_); }),
            "Cannot create file \"" + dir_.File("mark.dat.bak") + "\". Invalid argument");
#endif
}

TEST_F(ScoreFilesTest, AWindowOpenWhileAnotherProgramStoresKeepsBothProgramsScores) {
  constexpr int kDkong = 5, kPacman = 23;
  WriteBytes(dir_.File("mark.dat"), ScoreSection("0", "Old PC", 0));
  LoadScores(state_);  // the window, open from here on
  state_.games[kPacman].d3d = 812;
  state_.games[0].cpu = "New PC";
  ASSERT_TRUE(testing::RunTogether({[&] {  // velotrax-cli, in a process of its own
    ProgramState cli = Loaded();
    cli.games[kDkong].d3d = 109;
    cli.games[kPacman].d3d = 700;
    SaveScores(cli);
  }}));
  const std::string stored_by_cli = ReadBytes(dir_.File("mark.dat"));
  SaveScores(state_);  // the window closes
  const ProgramState after = Loaded();
  EXPECT_EQ(after.games[kDkong].d3d, 109);
  EXPECT_EQ(after.games[kPacman].d3d, 812);  // measured in the window: its own value wins
  EXPECT_EQ(after.games[0].cpu, "New PC");
  EXPECT_EQ(state_.games[kDkong].d3d, 109);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat.bak")), stored_by_cli);
}

TEST_F(ScoreFilesTest, ProgramsSavingScoresAtOnceKeepEachOthersScores) {
  // Two runs of velotrax-cli in one folder, each storing one game after another.
  auto cli = [&](int first_game, int last_game) {
    return [this, first_game, last_game] {
      for (int i = first_game; i <= last_game; ++i) {
        ProgramState run;
        run.base_dir = state_.base_dir;
        BuildCatalogue(run);
        if (FileIsPresent(run.base_dir + "mark.dat")) LoadScores(run);
        run.games[i].ddraw = 1000 + i;
        SaveScores(run);
      }
    };
  };
  ASSERT_TRUE(testing::RunTogether({cli(1, 27), cli(28, game_count - 1)}));
  const ProgramState after = Loaded();
  for (int i = 1; i < game_count; ++i) EXPECT_EQ(after.games[i].ddraw, 1000 + i) << i;
}

TEST_F(ScoreFilesTest, EachSaveThatChangesTheFileKeepsTheOneBeforeAsBackup) {
  SaveScores(state_);
  const std::string first = ReadBytes(dir_.File("mark.dat"));
  SaveScores(state_);  // the same scores: the file before stays the backup, here none
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});

  state_.games[4].d3d = 44;
  SaveScores(state_);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat.bak")), first);
  const std::string second = ReadBytes(dir_.File("mark.dat"));
  state_.games[4].d3d = 45;
  SaveScores(state_);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat.bak")), second);

  // A backup that cannot be written does not stop the save.
  ASSERT_TRUE(std::filesystem::remove(dir_.File("mark.dat.bak")));
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("mark.dat.bak")));
  state_.games[4].d3d = 46;
  SaveScores(state_);
  EXPECT_EQ(Loaded().games[4].d3d, 46);
}

TEST_F(ScoreFilesTest, MissingScoreKeyIsTheConversionErrorOfTheEmptyText) {
  std::string text = ScoreSection("0", "PC", 0);
  text.erase(text.find("drivedgea="));
  WriteBytes(dir_.File("mark.dat"), text);
  EXPECT_EQ(MessageOf<EConvertError>([&] { LoadScores(state_); }),
            "'' is not a valid integer value");
  EXPECT_EQ(state_.games[54].d3d, 54);
  EXPECT_TRUE(state_.scores_unreadable);
}

TEST_F(ScoreFilesTest, SavingBeforeTheCatalogueExistsLeavesTheFile) {
  // A start-up that ended before the scores were read must not overwrite them at close.
  WriteBytes(dir_.File("mark.dat"), "precious");
  ProgramState early;
  early.base_dir = state_.base_dir;
  SaveScores(early);
  EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), "precious");
}

TEST_F(ScoreFilesTest, SaveFailureReachesTheCaller) {
  state_.base_dir = dir_.File("missing") + "/";
  EXPECT_EQ(
      MessageOf<EFCreateError>([&] { SaveScores(state_); }),
      "Cannot create file \"" + dir_.File("missing/mark.dat") + "\". No such file or directory");
}

TEST_F(ScoreFilesTest, ReferencesAreReadInSectionOrder) {
  WriteBytes(dir_.File("reference.dat"), ReferenceFile(2, 2));
  LoadRefs();
  EXPECT_EQ(names_, (std::vector<std::string>{"PC 1", "PC 2"}));
  EXPECT_EQ(state_.reference_count, 2);
  ASSERT_EQ(state_.references.size(), 3u);
  for (const Tgameinfo& entry : state_.references[0]) {
    EXPECT_TRUE(entry.cpu.empty());
    EXPECT_EQ(entry.d3d, 0);
    EXPECT_EQ(entry.ddraw, 0);
  }
  EXPECT_EQ(state_.references[1][0].cpu, "PC 1");
  EXPECT_EQ(state_.references[2][0].cpu, "PC 2");
  EXPECT_EQ(state_.references[2][23].d3d, 2023);
  EXPECT_EQ(state_.references[2][23].ddraw, 2123);
  EXPECT_EQ(state_.references[1][54].ddraw, 1154);
  EXPECT_TRUE(state_.references[1][23].rom.empty());
}

TEST_F(ScoreFilesTest, CountsThatHoldNoRows) {
  struct Case {
    const char* what;
    const char* file;  // nullptr: no reference.dat
  };
  const Case cases[] = {
      {"no reference file", nullptr},
      {"count 0", "[0]\r\nreference=0\r\n"},
      {"negative count", "[0]\r\nreference=-3\r\n[1]\r\ncpu=PC\r\n"},
      {"lowest count", "[0]\r\nreference=-2147483648\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.file != nullptr) WriteBytes(dir_.File("reference.dat"), c.file);
    state_.references.clear();
    LoadRefs();
    EXPECT_EQ(state_.references.size(), 1u);
    EXPECT_EQ(state_.reference_count, 0);
    EXPECT_TRUE(names_.empty());
  }
}

TEST_F(ScoreFilesTest, MoreThan255ReferenceComputers) {
  WriteBytes(dir_.File("reference.dat"), ReferenceFile(300, 300));
  LoadRefs();
  ASSERT_EQ(state_.references.size(), 301u);
  ASSERT_EQ(names_.size(), 300u);
  EXPECT_EQ(names_[299], "PC 300");
  EXPECT_EQ(state_.references[300][1].d3d, 300001);
}

TEST_F(ScoreFilesTest, BadReferenceFilesEndInTheConversionErrorWithRowZeroKept) {
  struct Case {
    const char* what;
    std::string file;
    std::string message;
    std::size_t rows;  // rows in the table after the error, row 0 included
    std::size_t names;
  };
  std::string lacking_ddraw = ReferenceFile(1, 1);
  lacking_ddraw.erase(lacking_ddraw.find("pacmana="), std::string("pacmana=1123\r\n").size());
  const Case cases[] = {
      {"count is no number", "[0]\r\nreference=two\r\n", "'two' is not a valid integer value", 1,
       0},
      {"count missing", "[1]\r\ncpu=PC\r\n", "'' is not a valid integer value", 1, 0},
      {"one DirectDraw score missing", lacking_ddraw, "'' is not a valid integer value", 2, 0},
      {"huge count with two sections", ReferenceFile(2147483647, 2),
       "'' is not a valid integer value", 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir_.File("reference.dat"), c.file);
    names_.clear();
    EXPECT_EQ(MessageOf<EConvertError>([&] { LoadRefs(); }), c.message);
    EXPECT_EQ(state_.references.size(), c.rows);
    EXPECT_EQ(names_.size(), c.names);
    ASSERT_FALSE(state_.references.empty());
    EXPECT_TRUE(state_.references[0][0].cpu.empty());
  }
}

}  // namespace
}  // namespace velotrax
