#include "storage/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/state.h"

namespace velotrax {
namespace {

namespace fs = std::filesystem;

// Stands in for the main window and the Preferences dialog.
class FakeHost : public SettingsHost {
 public:
  void ShowDisclaimer() override {
    ++disclaimers;
    if (on_disclaimer) on_disclaimer();
  }
  int SelectedGame() const override { return selected; }
  void SelectGame(int index) override {
    selected = index;
    calls.push_back("select " + std::to_string(index));
  }
  PassMode CheckedPassMode() const override { return mode; }
  void CheckPassMode(PassMode new_mode) override {
    mode = new_mode;
    calls.push_back("mode " + std::to_string(static_cast<int>(new_mode)));
  }

  int disclaimers = 0;
  int selected = 0;
  PassMode mode = PassMode::ddraw;
  std::vector<std::string> calls;
  std::function<void()> on_disclaimer;
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velotrax-settings-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    state_.base_dir = dir_.string() + "/";
    state_.mame_file = "mame.exe";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string IniPath() const { return state_.base_dir + "velotrax.ini"; }
  void Touch(const std::string& name) const { std::ofstream(state_.base_dir + name) << "x"; }
  void WriteIni(const std::string& bytes) const {
    std::ofstream(IniPath(), std::ios::binary) << bytes;
  }
  std::string ReadIni() const {
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  fs::path dir_;
  ProgramState state_;
  FakeHost host_;
};

TEST_F(SettingsTest, FirstRunDetectsTheLastExistingEmulator) {
  struct Case {
    std::vector<std::string> present;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"mamep.exe", "mame.exe"}, "mame.exe"},
      {{"mameat.exe"}, "mameat.exe"},
      {{}, "mame.exe"},
      {{"fastmame.exe", "mamep4.exe"}, "mamep4.exe"},
      {{"fastmame.exe", "mameat.exe", "mamepp.exe"}, "mamepp.exe"},
      {{"fastmame.exe", "mameat.exe", "mamep.exe", "mamepp.exe", "mamep4.exe", "mame.exe"},
       "mame.exe"},
#ifndef _WIN32
      {{"MAME.EXE", "fastmame.exe"}, "fastmame.exe"},  // names are case-sensitive here
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const std::string& name : c.present) Touch(name);
    FakeHost host;
    state_.mame_file = "mame.exe";
    LoadSettings(state_, host);
    EXPECT_EQ(host.disclaimers, 1);
    EXPECT_EQ(state_.mame_file, c.expected);
    EXPECT_EQ(ReadIni(),
              "[velotrax]\r\nmamefile=" + c.expected + "\r\nselected=0\r\nmethode=1\r\n");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"select 0", "mode 1"}));
  }
}

TEST_F(SettingsTest, FirstRunFindsTheLinuxEmulatorOnlyWhenNoOtherIsThere) {
  for (const auto& [present, expected] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"mame"}, "mame"},
           {{"mame", "fastmame.exe"}, "fastmame.exe"},
#ifndef _WIN32
           // Case-sensitive names; on Windows "Mame" is the file "mame".
           {{"Mame"}, "mame.exe"},
#endif
       }) {
    SCOPED_TRACE(expected);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const std::string& name : present) Touch(name);
    FakeHost host;
    state_.mame_file = "mame.exe";
    LoadSettings(state_, host);
    EXPECT_EQ(ReadIni(), "[velotrax]\r\nmamefile=" + expected + "\r\nselected=0\r\nmethode=1\r\n");
  }
}

TEST_F(SettingsTest, DirectoryNamedLikeAnEmulatorIsNotOne) {
  fs::create_directories(dir_ / "mamepp.exe");
  Touch("mameat.exe");
  LoadSettings(state_, host_);
  EXPECT_EQ(state_.mame_file, "mameat.exe");
}

TEST_F(SettingsTest, LaterRunsOnlyRead) {
  WriteIni("[velotrax]\r\nmamefile=mamep.exe\r\nselected=23\r\nmethode=3\r\n");
  LoadSettings(state_, host_);
  EXPECT_EQ(host_.disclaimers, 0);
  EXPECT_EQ(state_.mame_file, "mamep.exe");
  EXPECT_EQ(host_.selected, 23);
  EXPECT_EQ(host_.mode, PassMode::both);
  EXPECT_EQ(ReadIni(), "[velotrax]\r\nmamefile=mamep.exe\r\nselected=23\r\nmethode=3\r\n");
}

TEST_F(SettingsTest, DisclaimerThatLeavesAFileSkipsDetection) {
  Touch("mameat.exe");
  host_.on_disclaimer = [&] {
    WriteIni("[velotrax]\r\nmamefile=other.exe\r\nselected=5\r\nmethode=2\r\n");
  };
  LoadSettings(state_, host_);
  EXPECT_EQ(host_.disclaimers, 1);
  EXPECT_EQ(state_.mame_file, "other.exe");
  EXPECT_EQ(host_.selected, 5);
}

TEST_F(SettingsTest, MethodeIsComparedExactly) {
  struct Case {
    std::string methode;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"1", {"select 0", "mode 1"}},
      {"2", {"select 0", "mode 2"}},
      {"3", {"select 0", "mode 3"}},
      {"4", {"select 0"}},
      {"", {"select 0"}},
      {"02", {"select 0"}},
      {"2x", {"select 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("methode=" + c.methode);
    WriteIni("[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=" + c.methode + "\r\n");
    FakeHost host;
    LoadSettings(state_, host);
    EXPECT_EQ(host.calls, c.calls);
  }
}

TEST_F(SettingsTest, SelectedOutsideTheSelectorFallsBackToThePlaceholder) {
  for (const auto& [text, index] :
       std::vector<std::pair<std::string, int>>{{"54", 54}, {"55", 0}, {"-1", 0}, {"$10", 16}}) {
    SCOPED_TRACE("selected=" + text);
    WriteIni("[velotrax]\r\nmamefile=mame.exe\r\nselected=" + text + "\r\nmethode=1\r\n");
    FakeHost host;
    host.selected = 7;
    LoadSettings(state_, host);
    EXPECT_EQ(host.selected, index);
  }
}

TEST_F(SettingsTest, NonIntegerSelectedStopsBeforeMethode) {
  for (const std::string& text : {std::string("abc"), std::string("")}) {
    SCOPED_TRACE("selected=" + text);
    WriteIni("[velotrax]\r\nmamefile=mamepp.exe\r\nselected=" + text + "\r\nmethode=2\r\n");
    FakeHost host;
    try {
      LoadSettings(state_, host);
      ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& error) {
      EXPECT_STREQ(error.what(), ("'" + text + "' is not a valid integer value").c_str());
    }
    EXPECT_EQ(state_.mame_file, "mamepp.exe");
    EXPECT_TRUE(host.calls.empty());
    ASSERT_NE(state_.settings, nullptr);  // still there for the close
  }
}

TEST_F(SettingsTest, UnwritableSettingsFileIsReported) {
  fs::create_directories(IniPath());  // a directory where the file should be
  try {
    LoadSettings(state_, host_);
    ADD_FAILURE() << "no write error";
  } catch (const EIniFileException& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + IniPath());
  }
  EXPECT_EQ(host_.disclaimers, 1);
  EXPECT_TRUE(host_.calls.empty());
  try {
    SaveSettings(state_, host_);
    ADD_FAILURE() << "no write error at close";
  } catch (const EIniFileException& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + IniPath());
  }
}

TEST_F(SettingsTest, SaveThenLoadRoundTrips) {
  LoadSettings(state_, host_);
  state_.mame_file = "mamepp.exe";
  host_.selected = 23;
  host_.mode = PassMode::d3d;
  SaveSettings(state_, host_);
  host_.selected = 24;  // the close handling may run again; the file follows
  SaveSettings(state_, host_);
  EXPECT_EQ(ReadIni(), "[velotrax]\r\nmamefile=mamepp.exe\r\nselected=24\r\nmethode=2\r\n");

  ProgramState next;
  next.base_dir = state_.base_dir;
  next.mame_file = "mame.exe";
  FakeHost restarted;
  LoadSettings(next, restarted);
  EXPECT_EQ(restarted.disclaimers, 0);
  EXPECT_EQ(next.mame_file, "mamepp.exe");
  EXPECT_EQ(restarted.selected, 24);
  EXPECT_EQ(restarted.mode, PassMode::d3d);
}

TEST_F(SettingsTest, SaveWithoutLoadCreatesTheFile) {
  state_.mame_file = "";
  host_.selected = 3;
  host_.mode = PassMode::both;
  ASSERT_EQ(state_.settings, nullptr);
  SaveSettings(state_, host_);
  ASSERT_NE(state_.settings, nullptr);
  EXPECT_EQ(state_.settings->FileName(), IniPath());
  EXPECT_EQ(ReadIni(), "[velotrax]\r\nmamefile=\r\nselected=3\r\nmethode=3\r\n");
}

TEST_F(SettingsTest, SaveWithNoModeKeepsTheStoredOne) {
  WriteIni("[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=3\r\n");
  LoadSettings(state_, host_);
  host_.mode = PassMode::none;
  SaveSettings(state_, host_);
  EXPECT_EQ(ReadIni(), "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=3\r\n");
}

}  // namespace
}  // namespace velotrax
