#include "storage/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#endif

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

class FilesTest : public testing::TempDirTest {};

TEST_F(FilesTest, FileIsPresentOnlyForExistingFiles) {
  WriteBytes(dir_.File("mame.exe"), "x");
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("roms")));
#ifndef _WIN32  // symbolic links need a privilege on Windows
  ASSERT_EQ(::symlink("mame.exe", dir_.File("link.exe").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir_.File("dangling").c_str()), 0);
  EXPECT_TRUE(FileIsPresent(dir_.File("link.exe")));
  EXPECT_FALSE(FileIsPresent(dir_.File("dangling")));
#endif

  EXPECT_TRUE(FileIsPresent(dir_.File("mame.exe")));
  EXPECT_FALSE(FileIsPresent(dir_.File("roms")));
  EXPECT_FALSE(FileIsPresent(dir_.File("missing.exe")));
  EXPECT_FALSE(FileIsPresent(dir_.File("mame.exe/inside")));
  EXPECT_FALSE(FileIsPresent(""));
}

TEST(AsciiLowerCase, ChangesOnlyAsciiCapitals) {
  EXPECT_EQ(AsciiLowerCase("D:\\Bench\\MAME"), "d:\\bench\\mame");
  EXPECT_EQ(AsciiLowerCase("AZaz@[`{09"), "azaz@[`{09");
  // Letters beyond ASCII, in any single-byte code page or in UTF-8, keep their bytes.
  EXPECT_EQ(AsciiLowerCase("\xC4\xD6\xDC-\xC3\x84"), "\xC4\xD6\xDC-\xC3\x84");
  EXPECT_EQ(AsciiLowerCase(std::string("A\0B", 3)), std::string("a\0b", 3));
  EXPECT_EQ(AsciiLowerCase(""), "");
}

TEST_F(FilesTest, QueryCurrentDirectoryFollowsTheWorkingDirectory) {
#ifdef _WIN32
  GTEST_SKIP()
      << "no root \"/\" and no realpath on Windows (files_win32_test checks the drive form)";
#else
  const std::string before = QueryCurrentDirectory();
  ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
  const std::string inside = QueryCurrentDirectory();
  ASSERT_EQ(::chdir("/"), 0);
  const std::string root = QueryCurrentDirectory();
  ASSERT_EQ(::chdir(before.c_str()), 0);

  char resolved[4096];
  ASSERT_NE(::realpath(dir_.Path().c_str(), resolved), nullptr);
  EXPECT_EQ(inside, resolved);
  EXPECT_EQ(root, "/");
#endif
}

TEST_F(FilesTest, ReplacesWholeAndKeepsPermissionBits) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits (files_win32_test checks the stamp of the file written)";
#else
  const std::string path = dir_.File("velotrax.ini");
  WriteBytes(path, "old contents that are longer than the new ones");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

  const ReplaceOutcome outcome = ReplaceFileContents(path, "new");
  ASSERT_EQ(outcome.failure, ReplaceOutcome::Failure::none);
  EXPECT_EQ(ReadBytes(path), "new");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(outcome.written.inode, st.st_ino);
  EXPECT_EQ(outcome.written.size, 3);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"velotrax.ini"});
#endif
}

TEST_F(FilesTest, ReplacingThroughASymbolicLinkKeepsTheLink) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  WriteBytes(dir_.File("real.ini"), "old");
  ASSERT_EQ(::symlink("real.ini", dir_.File("link.ini").c_str()), 0);
  ASSERT_EQ(ReplaceFileContents(dir_.File("link.ini"), "new").failure,
            ReplaceOutcome::Failure::none);
  struct stat st;
  ASSERT_EQ(::lstat(dir_.File("link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(dir_.File("real.ini")), "new");
#endif
}

TEST_F(FilesTest, RefusalsLeaveTheOldFileAndNoTemporary) {
  const std::string path = dir_.File("mark.dat");
  WriteBytes(path, "keep me");

  struct Case {
    const char* what;
    void (*arrange)(const std::string& path);
    ReplaceOutcome::Failure failure;
    int error;
  };
  const Case cases[] = {
      {"read-only file, refused even for root",
       [](const std::string& p) { ::chmod(p.c_str(), 0444); }, ReplaceOutcome::Failure::create,
       EACCES},
      {"write fails with a full disk",
       [](const std::string&) {
         file_replace_calls.write = [](int, const void*, std::size_t) -> ssize_t {
           errno = ENOSPC;
           return -1;
         };
       },
       ReplaceOutcome::Failure::write, ENOSPC},
      {"write stores nothing",
       [](const std::string&) {
         file_replace_calls.write = [](int, const void*, std::size_t) -> ssize_t { return 0; };
       },
       ReplaceOutcome::Failure::write, ENOSPC},
      {"interrupted before the rename",
       [](const std::string&) {
         file_replace_calls.rename = [](const char*, const char*) {
           errno = EIO;
           return -1;
         };
       },
       ReplaceOutcome::Failure::create, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange(path);
    const ReplaceOutcome outcome = ReplaceFileContents(path, "new contents");
    EXPECT_EQ(outcome.failure, c.failure);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(ReadBytes(path), "keep me");
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
    file_replace_calls = saved_;
    ::chmod(path.c_str(), 0644);
  }
}

TEST_F(FilesTest, PartialWritesAreContinued) {
  // The system may take fewer bytes per call; every byte must still arrive.
  file_replace_calls.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
    return ::write(fd, data, size < 3 ? size : 3);
  };
  ASSERT_EQ(ReplaceFileContents(dir_.File("a"), "0123456789").failure,
            ReplaceOutcome::Failure::none);
  EXPECT_EQ(ReadBytes(dir_.File("a")), "0123456789");
}

TEST_F(FilesTest, MissingDirectoryOrDirectoryInTheWay) {
  EXPECT_EQ(ReplaceFileContents(dir_.File("missing/mark.dat"), "x").error, ENOENT);
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("mark.dat")));
  EXPECT_EQ(ReplaceFileContents(dir_.File("mark.dat"), "x").error, EISDIR);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"mark.dat"});
}

TEST_F(FilesTest, DanglingLinksAreWrittenThroughAndKept) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  ASSERT_EQ(::mkdir(dir_.File("real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("real/relative.dat", dir_.File("relative").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.File("real/absolute.dat").c_str(), dir_.File("absolute").c_str()), 0);
  ASSERT_EQ(::symlink("chain2", dir_.File("chain1").c_str()), 0);
  ASSERT_EQ(::symlink("real/chain.dat", dir_.File("chain2").c_str()), 0);
  const struct {
    const char* link;
    const char* target;
  } written[] = {{"relative", "real/relative.dat"},
                 {"absolute", "real/absolute.dat"},
                 {"chain1", "real/chain.dat"}};
  for (const auto& c : written) {
    SCOPED_TRACE(c.link);
    ASSERT_EQ(ReplaceFileContents(dir_.File(c.link), "new").failure, ReplaceOutcome::Failure::none);
    struct stat st;
    ASSERT_EQ(::lstat(dir_.File(c.link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(dir_.File(c.target)), "new");
  }

  // A link into a missing directory, and a loop of links: refused, the links stay.
  ASSERT_EQ(::symlink("missing/x.dat", dir_.File("nowhere").c_str()), 0);
  ASSERT_EQ(::symlink("loop2", dir_.File("loop1").c_str()), 0);
  ASSERT_EQ(::symlink("loop1", dir_.File("loop2").c_str()), 0);
  EXPECT_EQ(ReplaceFileContents(dir_.File("nowhere"), "x").error, ENOENT);
  const ReplaceOutcome loop = ReplaceFileContents(dir_.File("loop1"), "x");
  EXPECT_EQ(loop.failure, ReplaceOutcome::Failure::create);
  EXPECT_EQ(loop.error, ELOOP);
  for (const char* link : {"nowhere", "loop1", "loop2"}) {
    struct stat st;
    ASSERT_EQ(::lstat(dir_.File(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
#endif
}

#ifndef _WIN32
// Runs f in a child process acting as another user; f's exit code, 77 when this system does not
// let the test change user.
int RunAsUser(uid_t uid, gid_t gid, std::vector<gid_t> groups, const std::function<int()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
        ::setresuid(uid, uid, uid) != 0) {
      ::_exit(77);
    }
    ::_exit(f());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#endif

TEST_F(FilesTest, AnotherUserWhoMayWriteKeepsTheFilesGroup) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX owners and groups";
#else
  if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
  constexpr uid_t kOwner = 64101, kWriter = 64102;
  constexpr gid_t kShared = 64150, kWriterGroup = 64151;
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0777), 0);
  const std::string shared = dir_.File("mark.dat"), others = dir_.File("reference.dat");
  for (const std::string& path : {shared, others}) {
    WriteBytes(path, "old");
    ASSERT_EQ(::chown(path.c_str(), kOwner, kShared), 0);
  }
  ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
  ASSERT_EQ(::chmod(others.c_str(), 0666), 0);

  // A member of the file's group; then a user outside it who may write through the bits for all.
  const int member = RunAsUser(kWriter, kWriterGroup, {kWriterGroup, kShared}, [&] {
    return ReplaceFileContents(shared, "new").failure == ReplaceOutcome::Failure::none ? 0 : 1;
  });
  if (member == 77) GTEST_SKIP() << "this system does not let the test act as another user";
  ASSERT_EQ(member, 0);
  ASSERT_EQ(RunAsUser(kWriter, kWriterGroup, {kWriterGroup},
                      [&] {
                        return ReplaceFileContents(others, "new").failure ==
                                       ReplaceOutcome::Failure::none
                                   ? 0
                                   : 1;
                      }),
            0);

  struct stat st;
  ASSERT_EQ(::stat(shared.c_str(), &st), 0);
  EXPECT_EQ(ReadBytes(shared), "new");
  EXPECT_EQ(st.st_gid, kShared);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  // Outside the group the system refuses it: the file becomes the writer's, with the same bits.
  ASSERT_EQ(::stat(others.c_str(), &st), 0);
  EXPECT_EQ(ReadBytes(others), "new");
  EXPECT_EQ(st.st_gid, kWriterGroup);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
#endif
}

}  // namespace
}  // namespace velotrax
