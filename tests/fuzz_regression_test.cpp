// Faults the fuzzing and the fault runs turned up, each kept as a case: the frame rate must not
// depend on where the emulator's output was cut, and an output that floods or never ends a line
// must not fill the memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/sequencer.h"
#include "process/line_assembler.h"

namespace velotrax {
namespace {

// The pass log the sequencer keeps for an output delivered in the given pieces.
std::vector<std::string> PassLogFor(const std::vector<std::string>& pieces) {
  ProgramState state;
  LineAssembler assembler;
  assembler.OnRead = [&](std::string_view s, bool starts_on_new_line) {
    OnOutputLine(state, s, starts_on_new_line);
  };
  assembler.ResetLine();
  for (const std::string& piece : pieces) assembler.AssemblePiece(piece.data(), piece.size());
  assembler.FinishOutput();
  return state.pass_log;
}

TEST(FuzzRegression, FrameRateIsTheSameWhereverTheOutputIsCut) {
  const struct {
    const char* name;
    std::string output;
    int32_t fps;
  } cases[] = {
      // A progress line rewritten after a carriage return: its earlier state must not count.
      {"rewritten line", "Average FPS: 99.9\rAverage FPS: 12.5 (5000 frames)\n", 12},
      {"backspaced digits", "Average FPS: 99\b\b45.0\n", 45},
      // The kind of output the fuzzer found: a separator that a carriage return overwrote.
      {"separator overwritten", "Average FPS: 12.5\rAverage FPS: 99x\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t cut = 0; cut <= c.output.size(); ++cut) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      std::vector<std::string> pieces;
      if (cut > 0) pieces.push_back(c.output.substr(0, cut));
      if (cut < c.output.size()) pieces.push_back(c.output.substr(cut));
      EXPECT_EQ(ExtractFrameRate(PassLogFor(pieces)), c.fps);
    }
  }
}

TEST(FuzzRegression, EndlessLineIsKeptOnceAndBounded) {
  const std::string block(1024, 'y');
  std::vector<std::string> pieces(4096, block);  // 4 MiB without a line feed
  pieces.push_back("\rAverage FPS: 7.5 (5000 frames)");
  const std::vector<std::string> log = PassLogFor(pieces);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_LE(log.front().size(), 4096u);
  EXPECT_EQ(ExtractFrameRate(log), 7);

  LineAssembler assembler;
  assembler.ResetLine();
  for (const std::string& piece : pieces) assembler.AssemblePiece(piece.data(), piece.size());
  EXPECT_EQ(assembler.CurrentLine().size(), LineAssembler::kMaxLineLength);
  EXPECT_EQ(assembler.CurrentLine().rfind("Average FPS: 7.5 (5000 frames)yyy", 0), 0u);
}

TEST(FuzzRegression, FloodOfLinesKeepsTheLogBoundedAndTheFrameRateLine) {
  const struct {
    const char* name;
    int lines_before, lines_between;
    std::vector<std::string> deciding;  // frame-rate lines, in order, with lines_between between
    int32_t fps;
  } cases[] = {
      {"after the flood", 50000, 0, {"Average FPS: 61.5"}, 61},
      {"the first of two after the flood",
       20000,
       3000,
       {"Average FPS: 10.0", "Average FPS: 20.0"},
       10},
      {"before the flood", 10, 60000, {"Average FPS: 33.3", "Average FPS: 44.4"}, 33},
      {"none", 30000, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramState state;
    OnOutputLine(state, "Benchmarking : pacman");
    auto flood = [&](int count) {
      for (int i = 0; i < count; ++i) OnOutputLine(state, "frame " + std::to_string(i), true);
    };
    flood(c.lines_before);
    for (const std::string& line : c.deciding) {
      // Arriving in two pieces: first without its separator, then whole.
      OnOutputLine(state, line.substr(0, 15), true);
      OnOutputLine(state, line, false);
      flood(c.lines_between);
    }
    flood(100);
    EXPECT_LE(state.pass_log.size(), 10002u);
    EXPECT_EQ(state.pass_log.front(), "Benchmarking : pacman");
    EXPECT_EQ(ExtractFrameRate(state.pass_log), c.fps);
  }
}

}  // namespace
}  // namespace velotrax
