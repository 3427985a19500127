// Many benchmark passes in a row through the real runner and the sequencer, with a fast stand-in
// emulator: the process's descriptors, threads and resident memory are sampled every 100
// passes and must stay flat. VELOTRAX_SOAK_PASSES sets the number of passes (200 by default;
// `make soak` runs 1,000).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/sequencer.h"
#include "tests/helpers_common/fake_sequencer_host.h"
#include "tests/helpers_common/process_probe.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using namespace std::chrono_literals;
namespace probe = velotrax::testing;

int SoakPasses() {
  const char* text = std::getenv("VELOTRAX_SOAK_PASSES");
  const int passes = text != nullptr ? std::atoi(text) : 0;
  return passes > 0 ? passes : 200;
}

struct Sample {
  int passes;
  std::size_t descriptors, threads;
  long resident_kib;
};

TEST(Soak, PassesInARowLeaveNoDescriptorThreadOrChildAndKeepMemoryFlat) {
  const int passes = SoakPasses();
  probe::TempDir dir;
  ProgramState state;
  ASSERT_TRUE(probe::PrepareBenchmarkState(state, dir.Path(),
                                           std::string(VELOTRAX_HELPER_DIR) + "/helper-fault_fps"));
  probe::FakeSequencerHost host(state);

  // Settled: the workers of the last pass have ended and its emulator has been reaped.
  auto settle = [&](const probe::ProcessSnapshot& baseline) {
    return probe::BackTo(baseline, 30s);
  };
  probe::ProcessSnapshot baseline;
  std::vector<Sample> samples;
  int done = 0;
  auto sample = [&] {
    EXPECT_TRUE(settle(baseline)) << "after " << done << " passes";
    samples.push_back({done, probe::OpenDescriptors(), probe::Threads(), probe::ResidentKiB()});
  };
  sample();

  // Single passes of either method and combined benchmarks, whose second pass the sequencer
  // starts from inside the end event of the first.
  const PassMode modes[] = {PassMode::ddraw, PassMode::d3d, PassMode::both};
  int benchmark = 0;
  while (done < passes) {
    host.mode = passes - done >= 2 ? modes[benchmark % 3] : PassMode::ddraw;
    host.selected = 1 + benchmark % (game_count - 1);
    const int runs = host.mode == PassMode::both ? 2 : 1;
    StartBenchmark(state, host);
    ASSERT_TRUE(host.WaitForPassEnds(static_cast<std::size_t>(done + runs)))
        << "benchmark " << benchmark << " did not end";
    ASSERT_TRUE(host.errors.empty()) << host.errors.front();
    const Tgameinfo& game = state.games[static_cast<std::size_t>(host.selected)];
    if (host.mode != PassMode::d3d) {
      ASSERT_EQ(game.ddraw, 123);
    }
    if (host.mode != PassMode::ddraw) {
      ASSERT_EQ(game.d3d, 123);
    }
    ASSERT_EQ(host.status, "Status : Ready");
    const int before = done;
    done += runs;
    ++benchmark;
    if (done / 100 != before / 100 || done >= passes) sample();
  }

  std::printf("\n%8s %12s %8s %12s\n", "passes", "descriptors", "threads", "VmRSS KiB");
  for (const Sample& s : samples) {
    std::printf("%8d %12zu %8zu %12ld\n", s.passes, s.descriptors, s.threads, s.resident_kib);
  }
  std::fflush(stdout);

  ASSERT_GE(samples.size(), 2u);
  for (const Sample& s : samples) {
    EXPECT_LE(s.descriptors, samples.front().descriptors) << "after " << s.passes << " passes";
    EXPECT_LE(s.threads, samples.front().threads) << "after " << s.passes << " passes";
  }
  // Growth from the second sample on (the first passes warm the allocator up), generously
  // bounded: a leak of one line per pass would not show, a leak of a pass's output would.
  const long grown = samples.back().resident_kib - samples[1].resident_kib;
  EXPECT_LT(grown, 16 * 1024) << "resident memory grew by " << grown << " KiB";
  EXPECT_TRUE(probe::Children().empty());
}

}  // namespace
}  // namespace velotrax
