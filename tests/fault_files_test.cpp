// The program's files under faults: a full disk and a read-only directory while "mark.dat" and
// the settings are written, and score, reference and settings files that are damaged, huge or
// odd. Every case ends in the described error or loads by the rules; the old files stay intact
// and no temporary file is left.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/state.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "storage/settings.h"
#include "tests/helpers_common/process_probe.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using velotrax::testing::MessageOf;
using velotrax::testing::ReadBytes;
using velotrax::testing::TempDir;
using velotrax::testing::WriteBytes;

class FakeSettingsHost : public SettingsHost {
 public:
  int selected = 7;
  PassMode mode = PassMode::d3d;
  void ShowDisclaimer() override {}
  int SelectedGame() const override { return selected; }
  void SelectGame(int index) override { selected = index; }
  PassMode CheckedPassMode() const override { return mode; }
  void CheckPassMode(PassMode m) override { mode = m; }
};

// A directory of its own for the program's files; optionally a small tmpfs mounted on it.
class WorkDir {
 public:
  // Mounts a tmpfs of the given size; false (nothing mounted) when the system refuses.
#ifdef _WIN32
  // No tmpfs on Windows.
  bool MountTmpfs(const char*) {
    return false;
  }
  bool RemountReadOnly() {
    return false;
  }
#else
  bool MountTmpfs(const char* size) {
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    return mounted_;
  }
  bool RemountReadOnly() {
    return ::mount(nullptr, Path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  ~WorkDir() {
    if (mounted_) ::umount2(Path().c_str(), MNT_DETACH);
  }
#endif
  const std::string& Path() const {
    return dir_.Path();
  }
  std::string File(const std::string& name) const {
    return dir_.File(name);
  }
  std::vector<std::string> Names() const {
    return dir_.Names();
  }

 private:
  TempDir dir_;
  bool mounted_ = false;
};

class FaultFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { Prepare(state_, dir_.Path()); }

  static void Prepare(ProgramState& state, const std::string& dir) {
    state.base_dir = dir + "/";
    state.mame_file = "mame.exe";
    BuildCatalogue(state);
    for (int i = 1; i < game_count; ++i) {
      state.games[i].d3d = i * 10;
      state.games[i].ddraw = i * 10 + 1;
    }
    state.games[0].cpu = "Old PC";
  }

  // Writes the old files that every failed write must leave as they are.
  void WriteOldFiles() {
    SaveSettings(state_, host_);
    SaveScores(state_);
    old_scores_ = ReadBytes(dir_.File("mark.dat"));
    old_settings_ = ReadBytes(dir_.File("velotrax.ini"));
  }

  // Both saves of a close fail with their described errors and change nothing on disk.
  void ExpectSavesFailIntact(const std::string& scores_message,
                             const std::vector<std::string>& names) {
    state_.games[0].cpu = "New PC " + std::string(8000, 'n');
    state_.mame_file = "mamepp.exe";
    const std::string settings_path = dir_.File("velotrax.ini");
    const std::string settings_message = "Unable to write to " + settings_path;
    EXPECT_EQ(MessageOf<EIniFileException>([&] { SaveSettings(state_, host_); }), settings_message);
    if (scores_message == "Stream write error") {
      EXPECT_EQ(MessageOf<EWriteError>([&] { SaveScores(state_); }), scores_message);
    } else {
      EXPECT_EQ(MessageOf<EFCreateError>([&] { SaveScores(state_); }), scores_message);
    }
    EXPECT_EQ(ReadBytes(dir_.File("mark.dat")), old_scores_);
    EXPECT_EQ(ReadBytes(settings_path), old_settings_);
    EXPECT_EQ(dir_.Names(), names) << "a temporary file was left";
  }

  WorkDir dir_;
  ProgramState state_;
  FakeSettingsHost host_;
  std::string old_scores_, old_settings_;
};

// Fills the file system that holds path until a write fails for lack of space.
void FillDisk(const std::string& path) {
  std::string block(4096, 'f');
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::setvbuf(file, nullptr, _IONBF, 0);
  while (std::fwrite(block.data(), 1, block.size(), file) == block.size()) {
  }
  std::fclose(file);
  FILE* tail = std::fopen(path.c_str(), "ab");
  std::setvbuf(tail, nullptr, _IONBF, 0);
  while (std::fwrite("f", 1, 1, tail) == 1) {
  }
  std::fclose(tail);
}

TEST_F(FaultFilesTest, FullDiskOnARealFileSystemKeepsTheOldFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "no small tmpfs to fill on Windows (the seam at the write call fills the disk)";
#endif
  if (!dir_.MountTmpfs("64k")) GTEST_SKIP() << "mounting a tmpfs is refused here";
  WriteOldFiles();
  FillDisk(dir_.File("filler"));

  ExpectSavesFailIntact("Stream write error", {"filler", "mark.dat", "velotrax.ini"});

  // Room again: the next close writes both files whole.
  ASSERT_EQ(::unlink(dir_.File("filler").c_str()), 0);
  SaveSettings(state_, host_);
  SaveScores(state_);
  EXPECT_NE(ReadBytes(dir_.File("mark.dat")).find("cpu=New PC nnn"), std::string::npos);
  EXPECT_NE(ReadBytes(dir_.File("velotrax.ini")).find("mamefile=mamepp.exe"), std::string::npos);
}

// The seam at the write and rename calls: runs everywhere, also where mounting is refused.
class ReplaceCallsSeam {
 public:
  explicit ReplaceCallsSeam(FileReplaceCalls calls) : saved_(file_replace_calls) {
    file_replace_calls = calls;
  }
  ~ReplaceCallsSeam() { file_replace_calls = saved_; }

 private:
  FileReplaceCalls saved_;
};

// The system's own calls, which a seam keeps where it replaces only one of them.
const FileReplaceCalls kSystemCalls = file_replace_calls;

// Writes the first half of the first request, then the disk is full.
ssize_t WriteUntilFull(int fd, const void* data, std::size_t size) {
  static thread_local bool wrote = false;
  if (!wrote && size > 1) {
    wrote = true;
    return kSystemCalls.write(fd, data, size / 2);
  }
  wrote = false;
  errno = ENOSPC;
  return -1;
}

int RenameFails(const char*, const char*) {
  errno = EIO;
  return -1;
}

TEST_F(FaultFilesTest, FullDiskAtTheWriteCallKeepsTheOldFiles) {
  WriteOldFiles();
  ReplaceCallsSeam seam({WriteUntilFull, kSystemCalls.rename});
  ExpectSavesFailIntact("Stream write error", {"mark.dat", "velotrax.ini"});
}

TEST_F(FaultFilesTest, FailedRenameKeepsTheOldFiles) {
  WriteOldFiles();
  ReplaceCallsSeam seam({kSystemCalls.write, RenameFails});
  ExpectSavesFailIntact(
      "Cannot create file \"" + dir_.File("mark.dat") + "\". " + SystemErrorText(EIO),
      {"mark.dat", "velotrax.ini"});
}

TEST_F(FaultFilesTest, ReadOnlyWorkingDirectoryKeepsTheOldFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only attribute does not stop writing into it on Windows "
                  "(files_win32_test refuses a read-only file)";
#else
  if (::geteuid() == 0) {
    // Permission bits do not stop root: only a read-only file system does.
    if (!dir_.MountTmpfs("1m")) GTEST_SKIP() << "mounting a tmpfs is refused here";
    WriteOldFiles();
    ASSERT_TRUE(dir_.RemountReadOnly());
    ExpectSavesFailIntact(
        "Cannot create file \"" + dir_.File("mark.dat") + "\". " + SystemErrorText(EROFS),
        {"mark.dat", "velotrax.ini"});
  } else {
    WriteOldFiles();
    ASSERT_EQ(::chmod(dir_.Path().c_str(), 0555), 0);
    ExpectSavesFailIntact(
        "Cannot create file \"" + dir_.File("mark.dat") + "\". " + SystemErrorText(EACCES),
        {"mark.dat", "velotrax.ini"});
    ::chmod(dir_.Path().c_str(), 0755);
  }
#endif
}

// --- damaged and odd files -------------------------------------------------------------------

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// One line of the table a damaged-file test prints: what a case ended in and the memory it took.
void PrintOutcome(const char* file, const char* name, std::size_t bytes, const std::string& error,
                  long resident_growth_kib) {
  std::printf("%-14s %-46s %10zu %-44s %8ld\n", file, name, bytes,
              error.empty() ? "loaded" : error.substr(0, 44).c_str(), resident_growth_kib);
  std::fflush(stdout);
}

TEST_F(FaultFilesTest, DamagedScoreFilesLoadByTheRulesOrGiveTheConversionError) {
  SaveScores(state_);
  const std::string valid = ReadBytes(dir_.File("mark.dat"));
  const std::string junk_line = "; a line without an equals sign, ignored\r\n";
  std::string ten_megabytes;
  while (ten_megabytes.size() < 10u << 20) ten_megabytes += junk_line;
  const std::string long_name(1 << 20, 'L');
  const std::string empty_error = "'' is not a valid integer value";
  std::printf("%-14s %-46s %10s %-44s %8s\n", "file", "case", "bytes", "outcome", "+RSS KiB");

  const struct {
    const char* name;
    std::string bytes;
    std::string error;  // empty: loads with the values below
    std::string cpu;
    int32_t first_d3d, last_ddraw;
  } cases[] = {
      {"valid", valid, "", "Old PC", 10, 541},
      {"empty", "", empty_error, "", 0, 0},
      {"cut in the header", valid.substr(0, 2), empty_error, "", 0, 0},
      {"cut in a key", valid.substr(0, valid.find("720a=") + 2), empty_error, "Old PC", 10, 0},
      {"cut after an equals sign", valid.substr(0, valid.find("=", 20) + 1), empty_error, "Old PC",
       0, 0},
      {"cut before the last line end", valid.substr(0, valid.size() - 2), "", "Old PC", 10, 541},
      {"LF line ends", Replace(valid, "\r\n", "\n"), "", "Old PC", 10, 541},
      {"CR-only line ends are one line", Replace(valid, "\r\n", "\r"), empty_error, "", 0, 0},
      {"binary", RandomBytes(4096, 1), empty_error, "", 0, 0},
      {"binary with NUL bytes in a valid file", Replace(valid, "Old PC", std::string("O\0d", 3)),
       "", std::string("O\0d", 3), 10, 541},
      {"10 MB of lines without entries", "[0]\r\n" + ten_megabytes + valid.substr(5), "", "Old PC",
       10, 541},
      {"one line of 1 MB", Replace(valid, "cpu=Old PC", "cpu=" + long_name), "",
       long_name.substr(0, 2047), 10, 541},
      {"repeated section and keys: the first counts",
       valid + Replace(Replace(valid, "=", "=9"), "cpu=9", "cpu="), "", "Old PC", 10, 541},
      {"a score that is no number", Replace(valid, "a=541", "a=541x"),
       "'541x' is not a valid integer value", "Old PC", 10, 0},
      {"a score out of range", Replace(valid, "a=541", "a=2147483648"),
       "'2147483648' is not a valid integer value", "Old PC", 10, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramState state;
    Prepare(state, dir_.Path());
    for (Tgameinfo& game : state.games) game.d3d = game.ddraw = 0;
    state.games[0].cpu.clear();
    WriteBytes(dir_.File("mark.dat"), c.bytes);
    const long resident_before = velotrax::testing::ResidentKiB();
    std::string error;
    try {
      LoadScores(state);
    } catch (const EConvertError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(state.games[0].cpu, c.cpu);
    EXPECT_EQ(state.games[1].d3d, c.first_d3d);
    EXPECT_EQ(state.games[game_count - 1].ddraw, c.last_ddraw);
    // A generous bound: the whole file held a few times over, not a copy per value read.
    const long growth = velotrax::testing::ResidentKiB() - resident_before;
    PrintOutcome("mark.dat", c.name, c.bytes.size(), error, growth);
    EXPECT_LT(growth, 200 * 1024);
  }
}

TEST_F(FaultFilesTest, OddReferenceCountsKeepRowZeroAndStayBounded) {
  SaveScores(state_);
  const std::string body = ReadBytes(dir_.File("mark.dat")).substr(5);  // after "[0]\r\n"
  const struct {
    const char* name;
    std::string count;
    std::string error;
    int32_t rows;  // reference rows after row 0
  } cases[] = {
      {"negative", "-5", "", 0},
      {"most negative", "-2147483648", "", 0},
      {"one, as present", "1", "", 1},
      {"huge: stops at the first missing section", "2147483647", "'' is not a valid integer value",
       1},
      {"hexadecimal huge", "$7FFFFFFF", "'' is not a valid integer value", 1},
      {"beyond 32 bits", "99999999999", "'99999999999' is not a valid integer value", 0},
      {"missing", "", "'' is not a valid integer value", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = "[0]\r\nreference=" + c.count + "\r\n[1]\r\n" + body;
    WriteBytes(dir_.File("reference.dat"), bytes);
    ProgramState state;
    Prepare(state, dir_.Path());
    std::vector<std::string> items;
    const long resident_before = velotrax::testing::ResidentKiB();
    std::string error;
    try {
      LoadReferences(state, [&](const std::string& name) { items.push_back(name); });
    } catch (const EConvertError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    ASSERT_GE(state.references.size(), 1u);
    EXPECT_EQ(state.references[0][0].cpu, "");
    // Every selector item names a row that exists.
    EXPECT_EQ(items.size(), static_cast<std::size_t>(c.rows));
    EXPECT_GE(state.references.size(), items.size() + 1);
    if (c.rows == 1) {
      EXPECT_EQ(state.references[1][1].d3d, 10);
    }
    const long growth = velotrax::testing::ResidentKiB() - resident_before;
    PrintOutcome("reference.dat", c.name, bytes.size(), error, growth);
    EXPECT_LT(growth, 100 * 1024);
  }
}

TEST_F(FaultFilesTest, DamagedSettingsFilesLoadByTheRulesOrGiveTheDescribedError) {
  const std::string valid = "[velotrax]\r\nmamefile=mamep.exe\r\nselected=23\r\nmethode=3\r\n";
  std::string ten_megabytes = "[velotrax]\r\n";
  while (ten_megabytes.size() < 10u << 20) ten_megabytes += "# padding line\r\n";
  const struct {
    const char* name;
    std::string bytes;
    std::string error;
    std::string mame_file;
    int selected;
    PassMode mode;
  } cases[] = {
      {"valid", valid, "", "mamep.exe", 23, PassMode::both},
      {"truncated in a key", valid.substr(0, valid.find("selected") + 3),
       "'' is not a valid integer value", "mamep.exe", 7, PassMode::d3d},
      {"empty: no keys", "", "'' is not a valid integer value", "", 7, PassMode::d3d},
      {"binary", RandomBytes(2048, 7), "'' is not a valid integer value", "", 7, PassMode::d3d},
      {"CR-only line ends", Replace(valid, "\r\n", "\r"), "'' is not a valid integer value", "", 7,
       PassMode::d3d},
      {"10 MB", ten_megabytes + valid.substr(12), "", "mamep.exe", 23, PassMode::both},
      {"one line of 1 MB", Replace(valid, "mamep.exe", std::string(1 << 20, 'm')), "",
       std::string(2047, 'm'), 23, PassMode::both},
      {"repeated section and keys: the first counts",
       valid + "[VELOTRAX]\r\nselected=40\r\nmethode=1\r\nmethode=2\r\n", "", "mamep.exe", 23,
       PassMode::both},
      {"selected out of range", Replace(valid, "=23", "=-4000000000"),
       "'-4000000000' is not a valid integer value", "mamep.exe", 7, PassMode::d3d},
      {"selected beyond the selector", Replace(valid, "=23", "=55"), "", "mamep.exe", 0,
       PassMode::both},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir_.File("velotrax.ini"), c.bytes);
    ProgramState state;
    Prepare(state, dir_.Path());
    FakeSettingsHost host;
    const long resident_before = velotrax::testing::ResidentKiB();
    std::string error;
    try {
      LoadSettings(state, host);
    } catch (const EConvertError& e) {
      error = e.what();
    }
    const long growth = velotrax::testing::ResidentKiB() - resident_before;
    PrintOutcome("velotrax.ini", c.name, c.bytes.size(), error, growth);
    EXPECT_LT(growth, 200 * 1024);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(state.mame_file, c.mame_file);
    EXPECT_EQ(host.selected, c.selected);
    EXPECT_EQ(host.mode, c.mode);
  }
}

}  // namespace
}  // namespace velotrax
