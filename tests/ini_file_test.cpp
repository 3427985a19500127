#include "storage/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <dirent.h>
#include <sys/file.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "storage/files.h"
#include "storage/system_error.h"
#include "tests/helpers_common/run_together.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::MessageOf;
using testing::ReadBytes;
using testing::WriteBytes;

std::string WithLf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

class IniFileTest : public testing::TempDirTest {};

// A profile object looks at its file again at most once per millisecond, so a change that this
// process did not make through the program's own writes is seen once a millisecond has passed.
void LetAMillisecondPass() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

const char kSample[] =
    "; written by hand\r\n"
    "top=before any section\r\n"
    "[velotrax]\r\n"
    "\t mamefile = mame.exe  \r\n"
    "Selected=12\r\n"
    "quoted=\"  spaced  \"\r\n"
    "single='x'\r\n"
    "mixed=\"x'\r\n"
    "lonequote=\"\r\n"
    "empty=\r\n"
    "no equals sign here\r\n"
    "twice=a=b\r\n"
    "  [ Spaced Section ]  \r\n"
    "key=v\r\n"
    "[0]\r\n"
    "cpu=first\r\n"
    "CPU=second\r\n"
    "[0]\r\n"
    "extra=from the repeated section\r\n"
    "cpu=third";  // no line end at the very end

struct Lookup {
  const char* section;
  const char* key;
  const char* expected;
};

const Lookup kSampleLookups[] = {
    {"velotrax", "mamefile", "mame.exe"},
    {"VELOTRAX", "SELECTED", "12"},
    {"velotrax", "quoted", "  spaced  "},
    {"velotrax", "single", "x"},
    {"velotrax", "mixed", "\"x'"},
    {"velotrax", "lonequote", "\""},
    {"velotrax", "empty", ""},
    {"velotrax", "twice", "a=b"},
    {"velotrax", "missing", "<default>"},
    {"velotrax", "no equals sign here", "<default>"},
    {"missing", "mamefile", "<default>"},
    {"", "top", "<default>"},
    {"spaced section", "key", "v"},
    {"0", "cpu", "first"},
    {"0", "extra", "from the repeated section"},
};

TEST_F(IniFileTest, ReadsTheProfileSyntaxWithCrLfAndLfOnlyLines) {
  const std::string crlf = dir_.File("crlf.ini"), lf = dir_.File("lf.ini");
  WriteBytes(crlf, kSample);
  WriteBytes(lf, WithLf(kSample));
  TIniFile crlf_profile(crlf), lf_profile(lf);
  for (const Lookup& row : kSampleLookups) {
    SCOPED_TRACE(std::string(row.section) + " / " + row.key);
    EXPECT_EQ(crlf_profile.ReadValue(row.section, row.key, "<default>"), row.expected);
    EXPECT_EQ(lf_profile.ReadValue(row.section, row.key, "<default>"), row.expected);
  }
}

TEST_F(IniFileTest, MissingFileReadsAsDefaultAndReleaseCreatesNothing) {
  {
    TIniFile profile(dir_.File("velotrax.ini"));
    EXPECT_EQ(profile.FileName(), dir_.File("velotrax.ini"));
    EXPECT_EQ(profile.ReadValue("velotrax", "mamefile", ""), "");
    EXPECT_EQ(profile.ReadValue("velotrax", "mamefile", "fallback"), "fallback");
    profile.FlushProfile();
  }
  EXPECT_TRUE(dir_.Names().empty());
  // A directory where the file should be reads the same as no file.
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("dir.ini")));
  EXPECT_EQ(TIniFile(dir_.File("dir.ini")).ReadValue("a", "b", "fallback"), "fallback");
#ifndef _WIN32  // no named pipes in a folder on Windows
  // So does a pipe, and neither a read nor a write may wait for a writer on it.
  const std::string pipe = dir_.File("pipe.ini");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  TIniFile on_pipe(pipe);
  EXPECT_EQ(on_pipe.ReadValue("a", "b", "fallback"), "fallback");
  EXPECT_EQ(MessageOf<EIniFileException>([&] { on_pipe.WriteValue("a", "b", "1"); }),
            "Unable to write to " + pipe);
#endif
}

TEST_F(IniFileTest, LongValuesAreCutTo2047Characters) {
  std::string long_value;
  for (int i = 0; i < 3000; ++i) long_value += static_cast<char>('a' + i % 26);
  const std::string path = dir_.File("long.ini");
  WriteBytes(path, "[s]\r\nk=" + long_value + "\r\nq=\"" + long_value + "\"\r\n");
  TIniFile profile(path);
  EXPECT_EQ(profile.ReadValue("s", "k", ""), long_value.substr(0, 2047));
  EXPECT_EQ(profile.ReadValue("s", "q", ""), long_value.substr(0, 2047));

  profile.WriteValue("s", "w", long_value);
  EXPECT_EQ(profile.ReadValue("s", "w", ""), long_value.substr(0, 2047));
  EXPECT_NE(ReadBytes(path).find("w=" + long_value + "\r\n"), std::string::npos);
}

struct Rewrite {
  const char* what;
  const char* before;  // nullptr: no file yet
  const char* section;
  const char* key;
  const char* value;
  const char* after;
  const char* read_back;
};

const Rewrite kRewrites[] = {
    {"value replaced in place", "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=1\r\n",
     "velotrax", "selected", "12",
     "[velotrax]\r\nmamefile=mame.exe\r\nselected=12\r\nmethode=1\r\n", "12"},
    {"new file", nullptr, "velotrax", "mamefile", "mame.exe", "[velotrax]\r\nmamefile=mame.exe\r\n",
     "mame.exe"},
    {"new key after the section's last entry, before its comments",
     "[a]\r\nx=1\r\n\r\n; note\r\n[b]\r\ny=2\r\n", "a", "z", "3",
     "[a]\r\nx=1\r\nz=3\r\n\r\n; note\r\n[b]\r\ny=2\r\n", "3"},
    {"new key in a section without entries", "[a]\r\n[b]\r\ny=2\r\n", "a", "x", "1",
     "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "1"},
    {"new section set off by a blank line", "[a]\r\nx=1\r\n", "b", "y", "2",
     "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "2"},
    {"no second blank line before a new section", "[a]\r\nx=1\r\n\r\n", "b", "y", "2",
     "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "2"},
    {"the file's spelling of section and key is kept", "[Velotrax]\r\n  MameFile = old.exe\r\n",
     "velotrax", "MAMEFILE", "new.exe", "[Velotrax]\r\n  MameFile =new.exe\r\n", "new.exe"},
    {"LF-only file: comments kept, lines end in CR LF", "; c\n[a]\nx=1\n# other\nloose line", "a",
     "x", "2", "; c\r\n[a]\r\nx=2\r\n# other\r\nloose line\r\n", "2"},
    {"empty value stores the key", "[a]\r\nx=1\r\n", "a", "x", "", "[a]\r\nx=\r\n", ""},
    {"value written exactly as given", "", "a", "x", " 'q' ", "[a]\r\nx= 'q' \r\n", "q"},
    {"the first of repeated keys is the one replaced", "[a]\r\nx=1\r\nX=2\r\n", "a", "x", "3",
     "[a]\r\nx=3\r\nX=2\r\n", "3"},
    {"bytes beyond ASCII kept", "[a]\r\nname=K\xF6nig\r\n", "a", "cpu", "\xC3\xA9",
     "[a]\r\nname=K\xF6nig\r\ncpu=\xC3\xA9\r\n", "\xC3\xA9"},
};

TEST_F(IniFileTest, WritesChangeOnlyTheOneEntry) {
  int n = 0;
  for (const Rewrite& row : kRewrites) {
    SCOPED_TRACE(row.what);
    const std::string path = dir_.File("rewrite" + std::to_string(++n) + ".ini");
    if (row.before != nullptr) WriteBytes(path, row.before);
    TIniFile profile(path);
    profile.WriteValue(row.section, row.key, row.value);
    EXPECT_EQ(ReadBytes(path), row.after);
    // What was written reads back, through this object and through a new one.
    EXPECT_EQ(profile.ReadValue(row.section, row.key, "<default>"), row.read_back);
    EXPECT_EQ(TIniFile(path).ReadValue(row.section, row.key, "<default>"), row.read_back);
  }
}

TEST_F(IniFileTest, FirstRunWritesReadBack) {
  const std::string path = dir_.File("velotrax.ini");
  TIniFile settings(path);
  settings.WriteValue("velotrax", "mamefile", "mame.exe");
  settings.WriteValue("velotrax", "selected", "0");
  settings.WriteValue("velotrax", "methode", "1");
  EXPECT_EQ(ReadBytes(path), "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=1\r\n");
  EXPECT_EQ(settings.ReadValue("velotrax", "selected", ""), "0");
  settings.WriteValue("velotrax", "selected", "23");
  EXPECT_EQ(settings.ReadValue("velotrax", "selected", ""), "23");
  EXPECT_EQ(settings.ReadValue("velotrax", "empty", "d"), "d");
  settings.WriteValue("velotrax", "empty", "");
  EXPECT_EQ(settings.ReadValue("velotrax", "empty", "d"), "");
}

TEST_F(IniFileTest, RefusedWritesLeaveTheFileAsItWas) {
  const std::string original = "[velotrax]\r\nmamefile=mame.exe\r\n";
  const std::string path = dir_.File("velotrax.ini");
  WriteBytes(path, original);
  TIniFile profile(path);
  const std::string message = "Unable to write to " + path;

  struct Attempt {
    const char* what;
    const char* section;
    const char* key;
    const char* value;
  };
  // Texts that would add or change other lines than the one entry.
  const Attempt forged[] = {
      {"line break in the value", "velotrax", "mamefile", "x.exe\r\n[0]\r\nreference=9"},
      {"line feed in the key", "velotrax", "a\nb", "1"},
      {"line break in the section", "velo\rtrax", "a", "1"},
      {"equals sign in the key", "velotrax", "selected=5", "1"},
      {"bracket closing the section name early", "a]b", "k", "1"},
      {"key that reads as a section header", "velotrax", "[0]", "1"},
  };
  for (const Attempt& a : forged) {
    SCOPED_TRACE(a.what);
    EXPECT_EQ(MessageOf<EIniFileException>([&] { profile.WriteValue(a.section, a.key, a.value); }),
              message);
    EXPECT_EQ(ReadBytes(path), original);
  }

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(MessageOf<EIniFileException>([&] { profile.WriteValue("velotrax", "selected", "1"); }),
            message);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  file_replace_calls.rename = [](const char*, const char*) {
    errno = EIO;
    return -1;
  };
  EXPECT_EQ(MessageOf<EIniFileException>([&] { profile.WriteValue("velotrax", "mamefile", "x"); }),
            message);
  file_replace_calls = saved_;

  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"velotrax.ini"});
  EXPECT_EQ(profile.ReadValue("velotrax", "mamefile", ""), "mame.exe");

  const std::string nowhere = dir_.File("missing/velotrax.ini");
  EXPECT_EQ(MessageOf<EIniFileException>(
                [&] { TIniFile(nowhere).WriteValue("velotrax", "selected", "0"); }),
            "Unable to write to " + nowhere);
}

TEST_F(IniFileTest, EveryReadSeesEveryEarlierWrite) {
  const std::string path = dir_.File("shared.ini");
  TIniFile writer(path), reader(path);
  EXPECT_EQ(reader.ReadValue("s", "k", "none"), "none");
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    writer.WriteValue("s", "k", std::to_string(i));
    EXPECT_EQ(reader.ReadValue("s", "k", ""), std::to_string(i));
    reader.WriteValue("s", "other", std::to_string(i * 2));
    EXPECT_EQ(writer.ReadValue("S", "OTHER", ""), std::to_string(i * 2));
  }
}

TEST_F(IniFileTest, TwoProcessesWritingOneFileKeepEachOthersValues) {
  const std::string path = dir_.File("shared.ini");
  constexpr int kKeys = 300;
  auto writer = [&](const std::string& prefix) {
    return [&path, prefix] {
      TIniFile profile(path);
      for (int i = 0; i < kKeys; ++i) profile.WriteValue("s", prefix + std::to_string(i), "v");
    };
  };
  ASSERT_TRUE(testing::RunTogether({writer("a"), writer("b")}));
  TIniFile profile(path);
  int kept = 0;
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kKeys; ++i) {
      kept += profile.ReadValue("s", prefix + std::to_string(i), "") == "v" ? 1 : 0;
    }
  }
  EXPECT_EQ(kept, 2 * kKeys);
}

TEST_F(IniFileTest, AWriterWaitsForAHeldLockOnlySoLong) {
#ifdef _WIN32
  GTEST_SKIP() << "holds the lock with flock; files_win32_test holds the Windows lock";
#else
  const std::string path = dir_.File("velotrax.ini");
  const int held = ::open(dir_.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const int saved_wait = directory_lock_wait_ms;
  directory_lock_wait_ms = 50;
  EXPECT_FALSE(DirectoryWriteLock(path).Held());
  TIniFile(path).WriteValue("velotrax", "selected", "3");  // saved all the same
  directory_lock_wait_ms = saved_wait;
  EXPECT_EQ(TIniFile(path).ReadValue("velotrax", "selected", ""), "3");
  ::close(held);
  EXPECT_TRUE(DirectoryWriteLock(path).Held());
  EXPECT_EQ(dir_.Names(), std::vector<std::string>{"velotrax.ini"});
#endif
}

TEST_F(IniFileTest, ChangesByOtherProgramsAreSeenAMillisecondLater) {
  const std::string path = dir_.File("mark.dat");
  TIniFile profile(path);
  WriteBytes(path, "[0]\r\npacman=1111\r\n");
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "1111");

  // Rewritten in place within the same second, same size.
  WriteBytes(path, "[0]\r\npacman=2222\r\n");
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "2222");

#ifndef _WIN32  // the writer is a POSIX shell
  // Rewritten by a separate process.
  ASSERT_EQ(std::system(("printf '[0]\\r\\npacman=3333\\r\\n' > '" + path + "'").c_str()), 0);
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "3333");
#endif

  // Replaced by another file of the same size.
  const std::string other = dir_.File("other.tmp");
  WriteBytes(other, "[0]\r\npacman=4444\r\n");
  std::filesystem::rename(other, path);
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "4444");

  ASSERT_EQ(::unlink(path.c_str()), 0);
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "pacman", "gone"), "gone");
  WriteBytes(path, "[0]\r\npacman=5555\r\n");
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "pacman", ""), "5555");
}

TEST_F(IniFileTest, ChangesToAnOldFileAreSeenEvenWithItsTimesPutBack) {
  // A file last changed long ago is trusted by its stamp; a rewrite that puts the old times
  // back still changes the inode or the change time.
  const std::string in_place = dir_.File("in_place.dat"), replaced = dir_.File("replaced.dat");
  WriteBytes(in_place, "[0]\r\ncpu=old\r\n");
  WriteBytes(replaced, "[0]\r\ncpu=old\r\n");
  std::this_thread::sleep_for(std::chrono::seconds(3));
  TIniFile a(in_place), b(replaced);
  EXPECT_EQ(a.ReadValue("0", "cpu", ""), "old");
  EXPECT_EQ(b.ReadValue("0", "cpu", ""), "old");

#ifdef _WIN32
  const auto before = std::filesystem::last_write_time(in_place);
  auto put_times_back = [&](const std::string& path) {
    std::filesystem::last_write_time(path, before);
    return 0;
  };
#else
  struct stat before;
  ASSERT_EQ(::stat(in_place.c_str(), &before), 0);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  auto put_times_back = [&](const std::string& path) {
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  };
#endif

  WriteBytes(in_place, "[0]\r\ncpu=new\r\n");
  ASSERT_EQ(put_times_back(in_place), 0);
  LetAMillisecondPass();
  EXPECT_EQ(a.ReadValue("0", "cpu", ""), "new");

  const std::string other = dir_.File("other.tmp");
  WriteBytes(other, "[0]\r\ncpu=new\r\n");
  ASSERT_EQ(put_times_back(other), 0);
  std::filesystem::rename(other, replaced);
  LetAMillisecondPass();
  EXPECT_EQ(b.ReadValue("0", "cpu", ""), "new");
}

TEST_F(IniFileTest, ADirectoryAboveTheFileRenamedOrSwappedIsSeen) {
  const std::string top = dir_.File("top"), other = dir_.File("other");
  for (const std::string& d : {top, top + "/bench", other, other + "/bench"}) {
    ASSERT_TRUE(std::filesystem::create_directory(d));
  }
  WriteBytes(top + "/bench/mark.dat", "[0]\r\ncpu=first\r\n");
  WriteBytes(other + "/bench/mark.dat", "[0]\r\ncpu=second\r\n");
  TIniFile profile(top + "/bench/mark.dat");
  EXPECT_EQ(profile.ReadValue("0", "cpu", ""), "first");

  std::filesystem::rename(top, dir_.File("moved"));
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "cpu", "gone"), "gone");
  std::filesystem::rename(other, top);
  LetAMillisecondPass();
  EXPECT_EQ(profile.ReadValue("0", "cpu", ""), "second");
  // Swapped back while this process wrote another file: seen without waiting.
  std::filesystem::rename(top, other);
  std::filesystem::rename(dir_.File("moved"), top);
  TIniFile(dir_.File("elsewhere.ini")).WriteValue("s", "k", "v");
  EXPECT_EQ(profile.ReadValue("0", "cpu", ""), "first");
}

#ifndef _WIN32
// The inotify watches this process holds, over all its inotify descriptors.
int InotifyWatches() {
  int watches = 0;
  DIR* fds = ::opendir("/proc/self/fdinfo");
  if (fds == nullptr) return -1;
  while (const dirent* entry = ::readdir(fds)) {
    std::ifstream info(std::string("/proc/self/fdinfo/") + entry->d_name);
    for (std::string line; std::getline(info, line);) watches += line.starts_with("inotify wd:");
  }
  ::closedir(fds);
  return watches;
}
#endif

TEST_F(IniFileTest, OldVersionsKeptOpenLeaveNothingBehind) {
#ifdef _WIN32
  GTEST_SKIP() << "counts inotify watches in /proc; on Windows an old version held open without "
                  "FILE_SHARE_DELETE refuses the replacement (files_win32_test)";
#else
  const std::string path = dir_.File("velotrax.ini");
  TIniFile profile(path);
  profile.WriteValue("velotrax", "selected", "0");
  EXPECT_EQ(profile.ReadValue("velotrax", "selected", ""), "0");
  const int watches_before = InotifyWatches();
  std::vector<int> old_versions;
  for (int i = 1; i <= 100; ++i) {
    old_versions.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    profile.WriteValue("velotrax", "selected", std::to_string(i));
    LetAMillisecondPass();
    ASSERT_EQ(profile.ReadValue("velotrax", "selected", ""), std::to_string(i));
  }
  EXPECT_EQ(InotifyWatches(), watches_before);
  for (int fd : old_versions) ::close(fd);
#endif
}

TEST_F(IniFileTest, WriteErrorsCarryTheFailedCallAndItsErrno) {
  const std::string path = dir_.File("velotrax.ini");
  WriteBytes(path, "[velotrax]\r\nselected=1\r\n");
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("dir.ini")));
  struct Case {
    const char* what;
    std::string path;
    bool failing_rename;
    int error;
    const char* call;
  } cases[] = {
      {"rename refused", path, true, EIO, "rename"},
#ifdef _WIN32
      {"missing directory", dir_.File("missing/velotrax.ini"), false, ENOENT, "CreateFileW"},
      {"a directory in the way", dir_.File("dir.ini"), false, EISDIR, "GetFileInformationByHandle"},
#else
      {"missing directory", dir_.File("missing/velotrax.ini"), false, ENOENT, "open"},
      {"a directory in the way", dir_.File("dir.ini"), false, EISDIR, "fstat"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.failing_rename) {
      file_replace_calls.rename = [](const char*, const char*) {
        errno = EIO;
        return -1;
      };
    }
    try {
      TIniFile(c.path).WriteValue("velotrax", "selected", "2");
      ADD_FAILURE() << "no error";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + c.path);
      const auto* system = dynamic_cast<const SystemCallError*>(&e);
      ASSERT_NE(system, nullptr);
      EXPECT_EQ(system->ErrorNumber(), c.error);
      EXPECT_EQ(system->FailedCall(), c.call);
    }
    file_replace_calls = saved_;
  }
}

}  // namespace
}  // namespace velotrax
