#include "storage/string_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "storage/files.h"
#include "storage/ini_file.h"
#include "storage/system_error.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::MessageOf;
using testing::ReadBytes;
using testing::WriteBytes;

class StringListTest : public testing::TempDirTest {
 protected:
  TStringList list_;
};

TEST_F(StringListTest, SavesEveryLineEndedWithCrLf) {
  const std::string path = dir_.File("out.txt");
  list_.AppendLine("a");
  list_.AppendLine("b");
  list_.SaveLinesToFile(path);
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
  EXPECT_EQ(list_.Count(), 2u);  // saving leaves the lines in place

  // Bytes are stored as they are: no code-page change, no byte-order mark.
  list_.ClearLines();
  list_.AppendLine("cpu=K\xF6nig \xC3\xA9");
  list_.AppendLine("");
  list_.SaveLinesToFile(path);
  EXPECT_EQ(ReadBytes(path), "cpu=K\xF6nig \xC3\xA9\r\n\r\n");

  list_.ClearLines();
  list_.SaveLinesToFile(path);
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"out.txt"});
}

TEST_F(StringListTest, SavedScoreLinesReadBackAsAProfile) {
  const std::string path = dir_.File("mark.dat");
  list_.AppendLine("[0]");
  list_.AppendLine("cpu=Athlon 64 3200+");
  list_.AppendLine("pacman=812");
  list_.SaveLinesToFile(path);

  TIniFile profile(path);
  EXPECT_EQ(profile.ReadValue("0", "cpu", ""), "Athlon 64 3200+");
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "812");
  EXPECT_EQ(profile.ReadValue("0", "pacmana", ""), "");
}

TEST_F(StringListTest, CreationFailuresNameThePathAndTheCause) {
  list_.AppendLine("x");
  const std::string missing = dir_.File("no/such/dir/mark.dat");
  EXPECT_EQ(MessageOf<EFCreateError>([&] { list_.SaveLinesToFile(missing); }),
            "Cannot create file \"" + missing + "\". No such file or directory");

  const std::string read_only = dir_.File("mark.dat");
  WriteBytes(read_only, "old");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  EXPECT_EQ(MessageOf<EFCreateError>([&] { list_.SaveLinesToFile(read_only); }),
            "Cannot create file \"" + read_only + "\". Permission denied");
  EXPECT_EQ(ReadBytes(read_only), "old");
}

TEST_F(StringListTest, ShortWriteKeepsTheOldFile) {
  const std::string path = dir_.File("mark.dat");
  WriteBytes(path, "[0]\r\ncpu=old\r\n");
  file_replace_calls.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
    if (size > 4) return ::write(fd, data, 4);  // then the disk is full
    errno = ENOSPC;
    return -1;
  };
  list_.AppendLine("[0]");
  list_.AppendLine("cpu=new");
  EXPECT_EQ(MessageOf<EWriteError>([&] { list_.SaveLinesToFile(path); }), "Stream write error");
  EXPECT_EQ(ReadBytes(path), "[0]\r\ncpu=old\r\n");
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
}

TEST_F(StringListTest, FailedRenameKeepsTheOldFile) {
  const std::string path = dir_.File("mark.dat");
  WriteBytes(path, "old");
  file_replace_calls.rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  list_.AppendLine("new");
  EXPECT_EQ(MessageOf<EFCreateError>([&] { list_.SaveLinesToFile(path); }),
            "Cannot create file \"" + path + "\". Invalid cross-device link");
  EXPECT_EQ(ReadBytes(path), "old");
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
}

// The errno and the call an error of type E from f carries.
template <typename E, typename F>
std::pair<int, std::string> CauseOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    const auto* system = dynamic_cast<const SystemCallError*>(&e);
    return system ? std::pair<int, std::string>(system->ErrorNumber(), system->FailedCall())
                  : std::pair<int, std::string>(0, "<no system call>");
  }
  return {0, "<no error>"};
}

TEST_F(StringListTest, FailuresCarryTheFailedCallAndItsErrno) {
  list_.AppendLine("x");
  const std::string path = dir_.File("mark.dat");
  using Cause = std::pair<int, std::string>;
#ifdef _WIN32
  const char *create_call = "CreateFileW", *read_only_call = "GetFileInformationByHandle";
#else
  const char *create_call = "open", *read_only_call = "access";
#endif
  EXPECT_EQ(CauseOf<EFCreateError>([&] { list_.SaveLinesToFile(dir_.File("no/mark.dat")); }),
            Cause(ENOENT, create_call));
  WriteBytes(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(CauseOf<EFCreateError>([&] { list_.SaveLinesToFile(path); }),
            Cause(EACCES, read_only_call));
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  file_replace_calls.write = [](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(CauseOf<EWriteError>([&] { list_.SaveLinesToFile(path); }), Cause(ENOSPC, "write"));
  file_replace_calls = saved_;
  file_replace_calls.rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_EQ(CauseOf<EFCreateError>([&] { list_.SaveLinesToFile(path); }), Cause(EXDEV, "rename"));
  EXPECT_EQ(ReadBytes(path), "old");
}

}  // namespace
}  // namespace velotrax
