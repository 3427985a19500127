// The user's own workspace: where it is, that it is made with its roms folder and entered, that
// what is in it stays, and that a file in its way is named without anything changed.
#include "storage/user_workspace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "storage/file_names.h"
#include "storage/files.h"
#include "tests/helpers_common/temp_dir.h"

#ifdef _WIN32
#include "base/win32_text.h"
#endif

namespace velotrax {
namespace {

using testing::TempDir;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Sets (or, with nullopt, removes) an environment variable for one test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
#ifdef _WIN32
    // The workspace reads the system's UTF-16 environment, where a name may leave the code page.
    ::SetEnvironmentVariableW(win32::Wide(name_).c_str(),
                              value ? win32::Wide(*value).c_str() : nullptr);
#else
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
#endif
  }
  std::string name_;
  std::optional<std::string> old_;
};

class UserWorkspaceTest : public ::testing::Test {
 protected:
  ~UserWorkspaceTest() override {
    std::error_code ignored;
    std::filesystem::current_path(start_, ignored);
  }

  // The folder the system names for per-user data, set to base for the test.
  ScopedVariable DataHome(const std::string& base) {
#ifdef _WIN32
    return ScopedVariable("LOCALAPPDATA", base);
#else
    return ScopedVariable("XDG_DATA_HOME", base);
#endif
  }

  const std::filesystem::path start_ = std::filesystem::current_path();
  TempDir dir_;
  // A folder not made yet, with a name outside ASCII.
  const std::string base_ = dir_.Path() + kSeparator + "J\xc3\xbcrgen" + kSeparator + "data";
};

TEST_F(UserWorkspaceTest, IsMadeWithItsRomsFolderAndEnteredAndKeepsWhatIsInIt) {
  const ScopedVariable data_home = DataHome(base_);
#ifdef _WIN32
  const std::string expected = base_ + "\\Velotrax";
#else
  const std::string expected = base_ + "/velotrax";
#endif
  ASSERT_EQ(EnterUserWorkspace(), expected);
  EXPECT_TRUE(DirectoryIsPresent(expected + kSeparator + "roms"));
  // A name relative to the working directory lands in the workspace.
  ASSERT_EQ(ReplaceFileContents("mark.dat", "scores").failure, ReplaceOutcome::Failure::none);
  ASSERT_TRUE(FileIsPresent(expected + kSeparator + "mark.dat"));

  std::filesystem::current_path(start_);
  EXPECT_EQ(EnterUserWorkspace(), expected);
  EXPECT_TRUE(FileIsPresent("mark.dat"));
  std::string bytes;
  FileStamp stamp;
  ASSERT_EQ(ReadRegularFile(expected + kSeparator + "mark.dat", 100, bytes, stamp), nullptr);
  EXPECT_EQ(bytes, "scores");
}

TEST_F(UserWorkspaceTest, IsEnteredWhenTheArgumentsBeginWithItsOption) {
  const ScopedVariable data_home = DataHome(base_);
  const std::string before = QueryCurrentDirectory();
  std::vector<std::string> args = {"games", "--user-workspace"};
  EXPECT_FALSE(EnterUserWorkspaceIfAsked(args));
  EXPECT_EQ(args.size(), 2u);
  EXPECT_EQ(QueryCurrentDirectory(), before);
  EXPECT_FALSE(DirectoryIsPresent(base_));

  args = {"--user-workspace", "games"};
  EXPECT_TRUE(EnterUserWorkspaceIfAsked(args));
  EXPECT_EQ(args, std::vector<std::string>{"games"});
  EXPECT_TRUE(DirectoryIsPresent(UserWorkspaceDirectory() + kSeparator + "roms"));
  EXPECT_NE(QueryCurrentDirectory(), before);
}

TEST_F(UserWorkspaceTest, AFileInItsWayIsNamedAndNothingChanges) {
  const ScopedVariable data_home = DataHome(dir_.Path());
  const std::string workspace = UserWorkspaceDirectory();
  ASSERT_EQ(ReplaceFileContents(workspace, "not a folder").failure, ReplaceOutcome::Failure::none);
  const std::string before = QueryCurrentDirectory();
  try {
    EnterUserWorkspace();
    ADD_FAILURE() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create the workspace folder \"" + workspace +
                                         "\": " + SystemErrorText(ENOTDIR));
    EXPECT_EQ(e.ErrorCode(), ENOTDIR);
  }
  EXPECT_EQ(QueryCurrentDirectory(), before);
  EXPECT_TRUE(FileIsPresent(workspace));
}

#ifdef _WIN32
TEST_F(UserWorkspaceTest, IsInTheLocalApplicationDataFolder) {
  {
    const ScopedVariable data_home = DataHome("C:\\Users\\me\\AppData\\Local\\");
    EXPECT_EQ(UserWorkspaceDirectory(), "C:\\Users\\me\\AppData\\Local\\Velotrax");
  }
  // A relative or missing variable names no place: the system's own record of the folder counts.
  for (const std::optional<std::string>& value :
       {std::optional<std::string>("Local"), std::optional<std::string>()}) {
    const ScopedVariable data_home("LOCALAPPDATA", value);
    const std::string dir = UserWorkspaceDirectory();
    EXPECT_EQ(dir.substr(1, 2), ":\\") << dir;
    EXPECT_EQ(NamePart(dir), "Velotrax");
  }
}
#else
TEST_F(UserWorkspaceTest, IsInTheDataFolderOfTheDesktop) {
  const struct {
    std::optional<std::string> data_home, home;
    const char* expected;  // nullptr: none is known
  } cases[] = {
      {"/data", "/home/me", "/data/velotrax"},
      {std::nullopt, "/home/me", "/home/me/.local/share/velotrax"},
      {"relative/data", "/home/me", "/home/me/.local/share/velotrax"},
      {"", "/home/me", "/home/me/.local/share/velotrax"},
      {"relative/data", std::nullopt, nullptr},
      {std::nullopt, "relative", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data_home.value_or("(unset)") + ", " + c.home.value_or("(unset)"));
    const ScopedVariable data_home("XDG_DATA_HOME", c.data_home);
    const ScopedVariable home("HOME", c.home);
    if (c.expected != nullptr) {
      EXPECT_EQ(UserWorkspaceDirectory(), c.expected);
    } else {
      EXPECT_THROW(UserWorkspaceDirectory(), EOSError);
    }
  }
}
#endif

}  // namespace
}  // namespace velotrax
