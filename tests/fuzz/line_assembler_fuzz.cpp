// The line assembler against a terminal fed the whole output at once, over arbitrary cuts of the
// output into pieces: the complete lines are the same whatever the cuts, no reported text holds
// a byte the terminal acts on, the raw pieces add up to the output, and the pass log made of the
// reports gives the frame rate of the complete lines.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "process/line_assembler.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

namespace {

struct Report {
  std::string text;
  bool starts_on_new_line;
};

// Piece sizes from 1 to 1024, mostly small, drawn from a seed.
std::vector<size_t> Cuts(uint32_t seed, size_t total) {
  std::vector<size_t> sizes;
  while (total > 0) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t pick = seed >> 16;
    size_t size = (pick & 3) == 0 ? 1 + pick % 1024 : 1 + pick % 9;
    if (size > total) size = total;
    sizes.push_back(size);
    total -= size;
  }
  return sizes;
}

// Each line's last reported state, in order: a report that starts on a new line opens a line,
// one that does not replaces the state of the line reported last.
std::vector<std::string> FinalStates(const std::vector<Report>& reports) {
  std::vector<std::string> lines;
  for (const Report& report : reports) {
    if (report.starts_on_new_line || lines.empty()) {
      Check(report.starts_on_new_line || !lines.empty(), "first report does not start a line");
      lines.push_back(report.text);
    } else {
      lines.back() = report.text;
    }
  }
  return lines;
}

// What a pass log that appends every report makes of the frame rate.
reference::FrameRateOutcome FrameRateOf(const std::vector<std::string>& log) {
  reference::FrameRateOutcome outcome;
  try {
    outcome.value = ExtractFrameRate(log);
  } catch (const EConvertError& e) {
    outcome.refused = true;
    outcome.refused_text = e.what();
  }
  return outcome;
}

void Assemble(const std::string& output, const std::vector<size_t>& cuts, bool owner_data,
              const reference::TerminalScreen& screen) {
  LineAssembler assembler;
  assembler.OwnerData = owner_data;
  std::vector<Report> reports;
  std::string raw;
  assembler.OnRead = [&](std::string_view s, bool starts_on_new_line) {
    Check(s.find_first_of(std::string_view("\0\a\b\t\n\r", 6)) == std::string_view::npos,
          "a reported line holds a byte the terminal acts on", s);
    reports.push_back({std::string(s), starts_on_new_line});
  };
  assembler.OnRawRead = [&](std::string_view s) { raw.append(s); };
  assembler.ResetLine();
  size_t at = 0;
  for (size_t size : cuts) {
    assembler.AssemblePiece(output.data() + at, size);
    at += size;
    Check(assembler.Cursor() <= assembler.CurrentLine().size(), "cursor beyond the line");
  }
  assembler.FinishOutput();
  Check(raw == output, "raw pieces do not add up to the output");

  if (output.empty()) {
    Check(reports.empty(), "an empty output reported something");
    return;
  }
  // Every finished line, then the last line as it stands (empty after a final line feed).
  std::vector<std::string> expected = screen.finished;
  expected.push_back(screen.last);
  const std::vector<std::string> got = FinalStates(reports);
  Check(got == expected, "complete lines differ from the terminal's", output);
  if (!owner_data) {
    Check(assembler.Lines() == got, "the kept line list differs from the reported lines");
  }

  // The pass log as the sequencer keeps it holds each line once, in its last state (its first
  // 4096 bytes), so the frame rate does not depend on where the output was cut.
  ProgramState state;
  for (const Report& report : reports) OnOutputLine(state, report.text, report.starts_on_new_line);
  std::vector<std::string> kept;
  for (const std::string& line : expected) kept.push_back(line.substr(0, 4096));
  Check(state.pass_log == kept, "the pass log differs from the lines", output);
  Check(FrameRateOf(state.pass_log) == FrameRateOf(kept),
        "the frame rate depends on where the output was cut", output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint32_t seed = provider.ConsumeIntegral<uint32_t>();
  const bool owner_data = provider.ConsumeBool();
  const std::string output = provider.ConsumeRemainingBytesAsString();
  const reference::TerminalScreen screen = reference::TerminalModel(output);
  Assemble(output, Cuts(seed, output.size()), owner_data, screen);
  // The same output in one piece per 1024 bytes, as a reader that is never behind delivers it.
  std::vector<size_t> whole;
  for (size_t left = output.size(); left > 0; left -= std::min<size_t>(left, 1024)) {
    whole.push_back(std::min<size_t>(left, 1024));
  }
  Assemble(output, whole, !owner_data, screen);
  return 0;
}
