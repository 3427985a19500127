// Emulators that misbehave, run through the real runner and the sequencer on an event loop:
// killed mid-pass, flooding its output, never ending a line, closing its output early, leaving a
// grandchild that holds the pipe, not executable, a directory. Each pass ends in the described
// state, and no descriptor, thread or child is left behind, with memory bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "base/errors.h"
#include "core/sequencer.h"
#include "tests/helpers_common/fake_sequencer_host.h"
#include "tests/helpers_common/process_probe.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
using velotrax::testing::MessageOf;
using velotrax::testing::ProcessSnapshot;
using velotrax::testing::WriteBytes;

std::string Helper(const std::string& name) {
  return std::string(VELOTRAX_HELPER_DIR) + "/helper-" + name;
}

constexpr long kMiB = 1024;  // in KiB

class FaultRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velotrax::testing::ResetPeakResident();
    // Counts the output the runner took from the pipe and assembled (an overflow drops some).
    host_.Runner().OnRawRead = [this](TJvCreateProcess&, std::string_view s) {
      bytes_taken_ += s.size();
    };
  }

  // The emulator of the test; empty leaves mame.exe for the test to make.
  void Install(const std::string& helper) {
    ASSERT_TRUE(velotrax::testing::PrepareBenchmarkState(state_, dir_.Path(),
                                                         helper.empty() ? "" : Helper(helper)));
  }

  // One DirectDraw pass of game 1 to its end.
  void RunPass() {
    StartBenchmark(state_, host_);
    ASSERT_TRUE(host_.WaitForPassEnds(1)) << "the pass did not end";
    EXPECT_EQ(host_.status, "Status : Ready");
    EXPECT_TRUE(host_.errors.empty()) << host_.errors.front();
    EXPECT_EQ(host_.restored, 1);
    EXPECT_FALSE(host_.Runner().Watching());
    EXPECT_TRUE(state_.pass_log.empty());
  }

  // One line per fault for the table printed at the end.
  struct Row {
    std::string fault;
    std::string exit_codes;
    int32_t score;
    std::size_t descriptors_before, descriptors_after, threads_before, threads_after, children;
    long peak_growth_kib;
    uint64_t bytes_taken;
  };
  static std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
  }
  static void TearDownTestSuite() {
    std::printf("\n%-52s %5s %5s %10s %10s %8s %13s %14s\n", "fault", "exit", "score", "fds",
                "threads", "children", "peak RSS +KiB", "bytes taken");
    for (const Row& r : Rows()) {
      std::printf("%-52s %5s %5d %4zu->%-4zu %4zu->%-4zu %8zu %13ld %14llu\n", r.fault.c_str(),
                  r.exit_codes.c_str(), r.score, r.descriptors_before, r.descriptors_after,
                  r.threads_before, r.threads_after, r.children, r.peak_growth_kib,
                  static_cast<unsigned long long>(r.bytes_taken));
    }
    std::fflush(stdout);
  }

  void ExpectNothingLeft(long peak_bound_kib) {
    const bool settled = velotrax::testing::BackTo(before_, 30s);
    std::string codes;
    for (uint32_t code : host_.exit_codes)
      codes += (codes.empty() ? "" : ",") + std::to_string(code);
    Rows().push_back({::testing::UnitTest::GetInstance()->current_test_info()->name(), codes,
                      state_.games[1].ddraw, before_.descriptors,
                      velotrax::testing::OpenDescriptors(), before_.threads,
                      velotrax::testing::Threads(), velotrax::testing::Children().size(),
                      velotrax::testing::PeakResidentKiB() - before_.resident_kib, bytes_taken_});
    EXPECT_TRUE(settled) << "descriptors " << before_.descriptors << " -> "
                         << velotrax::testing::OpenDescriptors() << ", threads " << before_.threads
                         << " -> " << velotrax::testing::Threads() << ", children "
                         << velotrax::testing::Children().size();
    EXPECT_LT(velotrax::testing::PeakResidentKiB() - before_.resident_kib, peak_bound_kib);
  }

  velotrax::testing::TempDir dir_;
  ProgramState state_;
  velotrax::testing::FakeSequencerHost host_{state_};
  ProcessSnapshot before_;
  uint64_t bytes_taken_ = 0;
};

TEST_F(FaultRunnerTest, KilledMidPassEndsThePassWithNoScore) {
  Install("fault_killed");
  state_.games[1].ddraw = 300;
  RunPass();
  EXPECT_EQ(host_.exit_codes, std::vector<uint32_t>{128 + SIGKILL});
  // The unfinished "Average FPS: 9" has no separator: nothing measured.
  EXPECT_EQ(state_.games[1].ddraw, 0);
  ExpectNothingLeft(64 * kMiB);
}

// GCC says it builds with AddressSanitizer by a macro, clang by a feature test.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELOTRAX_CLANG_ASAN
#endif
#endif

TEST_F(FaultRunnerTest, OutputFloodIsTakenInBoundedMemory) {
  Install("fault_flood");
  // 1 GiB, a quarter of it under the sanitizers, which make every byte slow; the environment
  // may ask for another amount.
#if defined(__SANITIZE_ADDRESS__) || defined(VELOTRAX_CLANG_ASAN)
  const char* flood = "268435456";
#else
  const char* flood = "1073741824";
#endif
  if (const char* bytes = std::getenv("VELOTRAX_FLOOD_BYTES")) flood = bytes;
  WriteBytes(dir_.File("flood_bytes"), flood);
  RunPass();
  EXPECT_EQ(host_.exit_codes, std::vector<uint32_t>{0});
  EXPECT_EQ(state_.games[1].ddraw, 77);
  ExpectNothingLeft(256 * kMiB);
}

TEST_F(FaultRunnerTest, OutputWithoutLineFeedIsTakenInBoundedMemory) {
  Install("fault_no_newline");
  RunPass();
  EXPECT_EQ(host_.exit_codes, std::vector<uint32_t>{0});
  // The frame-rate line written over the start of the endless line still counts.
  EXPECT_EQ(state_.games[1].ddraw, 12);
  ExpectNothingLeft(256 * kMiB);
}

TEST_F(FaultRunnerTest, OutputClosedEarlyWaitsForTheEmulatorsEnd) {
  Install("fault_close_early");
  RunPass();
  // The exit code is only known once the emulator has ended: the pass waited for it.
  EXPECT_EQ(host_.exit_codes, std::vector<uint32_t>{4});
  EXPECT_EQ(state_.games[1].ddraw, 55);
  ExpectNothingLeft(64 * kMiB);
}

TEST_F(FaultRunnerTest, GrandchildHoldingThePipeDoesNotHoldThePass) {
  Install("fault_grandchild");
  RunPass();
  EXPECT_EQ(state_.games[1].ddraw, 88);
  int grandchild = 0;
  std::ifstream(dir_.File("grandchild.pid")) >> grandchild;
  ASSERT_GT(grandchild, 1);
  EXPECT_EQ(::kill(grandchild, 0), 0) << "the grandchild should still hold the pipe";
  ::kill(grandchild, SIGKILL);
  ExpectNothingLeft(64 * kMiB);
}

TEST_F(FaultRunnerTest, EmulatorThatCannotStartIsReportedAndALaterPassWorks) {
  const struct {
    const char* name;
    void (*make)(const std::string& path);
    int error;
  } cases[] = {
      {"not executable",
       [](const std::string& path) {
         WriteBytes(path, "#!/bin/sh\necho 'Average FPS: 1.0'\n");
         ::chmod(path.c_str(), 0644);
       },
       EACCES},
      {"a directory", [](const std::string& path) { ::mkdir(path.c_str(), 0755); }, EACCES},
      {"missing", [](const std::string&) {}, ENOENT},
  };
  Install("");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string emulator = dir_.File("mame.exe");
    std::filesystem::remove_all(emulator);
    c.make(emulator);
    state_.pass_log.clear();
    EXPECT_EQ(MessageOf<EOSError>([&] { StartBenchmark(state_, host_); }),
              "System Error.  Code: " + std::to_string(c.error) + ".\r\n" + std::strerror(c.error));
    EXPECT_FALSE(host_.Runner().Watching());
    EXPECT_EQ(host_.status, "Status : Benchmarking 720 using DDraw Please Wait...");
    EXPECT_EQ(state_.pass_log, std::vector<std::string>{"Benchmarking : 720"});
    // Nothing follows a start that failed.
    EXPECT_FALSE(host_.WaitForPassEnds(1, 200ms));
    EXPECT_TRUE(velotrax::testing::BackTo(before_, 30s));
  }
  std::filesystem::remove_all(dir_.File("mame.exe"));
  ASSERT_EQ(::symlink(Helper("fault_fps").c_str(), dir_.File("mame.exe").c_str()), 0);
  state_.pass_log.clear();
  RunPass();
  EXPECT_EQ(state_.games[1].ddraw, 123);
  ExpectNothingLeft(64 * kMiB);
}

}  // namespace
}  // namespace velotrax
