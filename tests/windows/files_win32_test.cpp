// What only Windows adds to the files: replacing a file another program holds open, names
// outside the code page, the directory lock as a named mutex.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/file_names.h"
#include "storage/files.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

class FilesWin32Test : public testing::TempDirTest {};

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    wide.data(), static_cast<int>(wide.size())));
  return wide;
}

// The bytes a handle reads from its start.
std::string ReadThrough(HANDLE handle) {
  ::SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
  char buffer[64];
  DWORD n = 0;
  EXPECT_TRUE(::ReadFile(handle, buffer, sizeof buffer, &n, nullptr));
  return std::string(buffer, n);
}

// A program that lets the file be deleted (FILE_SHARE_DELETE) lets it be replaced where the system
// renames with POSIX semantics (Windows 10 on NTFS); Wine 8 and older systems refuse it like one
// that does not. Either way nothing is lost: the new file in place, or the old one intact and
// the refusal told, and no temporary file left.
TEST_F(FilesWin32Test, ReplacingAFileOthersHoldOpenLosesNothing) {
  const std::string path = dir_.File("mark.dat");
  struct Case {
    DWORD share;
    bool may_replace;
  } cases[] = {{FILE_SHARE_READ | FILE_SHARE_DELETE, true}, {FILE_SHARE_READ, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.share);
    WriteBytes(path, "old\r\n");
    const HANDLE holder = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, c.share, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    FileStamp before;
    ASSERT_TRUE(StampOfRegularFile(path, before));
    const ReplaceOutcome outcome = ReplaceFileContents(path, "new\r\n\x80\n");
    // The holder goes on reading what it opened, whatever happened to the name.
    EXPECT_EQ(ReadThrough(holder), "old\r\n");
    ::CloseHandle(holder);
    if (c.may_replace && outcome.failure == ReplaceOutcome::Failure::none) {
      EXPECT_EQ(ReadBytes(path), "new\r\n\x80\n");
      FileStamp after;
      ASSERT_TRUE(StampOfRegularFile(path, after));
      EXPECT_EQ(after, outcome.written);
      EXPECT_NE(after, before);
    } else {
      EXPECT_EQ(outcome.failure, ReplaceOutcome::Failure::create);
      EXPECT_EQ(outcome.error, EACCES);
      EXPECT_STREQ(outcome.call, "rename");
      EXPECT_EQ(ReadBytes(path), "old\r\n");
    }
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
  }
  // Once nobody holds it, it is replaced, and its stamp tells the new version from the old.
  FileStamp before;
  ASSERT_TRUE(StampOfRegularFile(path, before));
  const ReplaceOutcome outcome = ReplaceFileContents(path, "new\r\n\x80\n");
  ASSERT_EQ(outcome.failure, ReplaceOutcome::Failure::none);
  EXPECT_EQ(ReadBytes(path), "new\r\n\x80\n");
  FileStamp after;
  ASSERT_TRUE(StampOfRegularFile(path, after));
  EXPECT_EQ(after, outcome.written);
  EXPECT_NE(after, before);
}

TEST_F(FilesWin32Test, NamesOutsideTheCodePageAreUtf8) {
  const std::string name = "\xCE\xA9mega-\xE6\x97\xA5\xE6\x9C\xAC.ini";  // Greek and Japanese
  const std::string path = dir_.Path() + "\\" + name;
  ASSERT_EQ(ReplaceFileContents(path, "[s]\r\nk=v\r\n").failure, ReplaceOutcome::Failure::none);
  EXPECT_NE(::GetFileAttributesW(Wide(path).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(FileIsPresent(path));
  EXPECT_EQ(FindFirstEntryName(dir_.Path() + "\\\xCE\xA9*"), name);
  std::string bytes;
  FileStamp stamp;
  EXPECT_EQ(ReadRegularFile(path, 100, bytes, stamp), nullptr);
  EXPECT_EQ(bytes, "[s]\r\nk=v\r\n");

  // Bytes that are not UTF-8 name no file: refused, nothing made.
  const ReplaceOutcome refused = ReplaceFileContents(dir_.Path() + "\\\xFF.ini", "x");
  EXPECT_EQ(refused.failure, ReplaceOutcome::Failure::create);
  EXPECT_EQ(refused.error, EILSEQ);
  const auto entries = std::filesystem::directory_iterator(dir_.Path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

TEST_F(FilesWin32Test, DirectoryLockIsTakenInTurnAndFreedWhenItsHolderEnds) {
  const int saved_wait = directory_lock_wait_ms;
  directory_lock_wait_ms = 50;
  const std::string path = dir_.File("velotrax.ini");
  auto held_elsewhere = [&] {
    bool held = false;
    std::thread([&] { held = DirectoryWriteLock(path).Held(); }).join();
    return held;
  };
  {
    const DirectoryWriteLock lock(dir_.Path() + "\\.\\velotrax.ini");  // another name, same folder
    ASSERT_TRUE(lock.Held());
    EXPECT_FALSE(held_elsewhere());
  }
  EXPECT_TRUE(held_elsewhere());
  // A holder that ends without letting go (a crash) does not keep the lock.
  std::unique_ptr<DirectoryWriteLock> abandoned;
  std::thread([&] { abandoned = std::make_unique<DirectoryWriteLock>(path); }).join();
  ASSERT_TRUE(abandoned->Held());
  EXPECT_TRUE(held_elsewhere());
  directory_lock_wait_ms = saved_wait;
}

TEST(FileNamesWin32, BaseDirEndsWithOneBackslash) {
  EXPECT_EQ(DirectoryWithSeparator("C:\\Bench"), "C:\\Bench\\");
  EXPECT_EQ(DirectoryWithSeparator("C:\\"), "C:\\");
  EXPECT_EQ(DirectoryPart("C:\\Bench/roms\\mark.dat"), "C:\\Bench/roms\\");
  EXPECT_EQ(NamePart("C:mark.dat"), "mark.dat");
  const std::string current = QueryCurrentDirectory();
  ASSERT_GE(current.size(), 3u);
  EXPECT_EQ(current[1], ':');
}

}  // namespace
}  // namespace velotrax
