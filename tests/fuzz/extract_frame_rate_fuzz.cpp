// The frame-rate extraction against the rules, on arbitrary pass logs: the same value, or the
// conversion error for the same text.
#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      lines.emplace_back();
    } else {
      lines.back().push_back(static_cast<char>(data[i]));
    }
  }
  const reference::FrameRateOutcome expected = reference::FrameRateModel(lines);
  reference::FrameRateOutcome got;
  try {
    got.value = ExtractFrameRate(lines);
  } catch (const EConvertError& e) {
    got.refused = true;
    got.refused_text = e.what();
  }
  if (expected.refused) {
    Check(got.refused, "ExtractFrameRate did not raise the conversion error");
    Check(got.refused_text ==
              reference::AsShown(reference::NotAnIntegerMessage(expected.refused_text)),
          "ExtractFrameRate raised for another text", got.refused_text);
  } else {
    Check(!got.refused, "ExtractFrameRate raised where the rules give a value", got.refused_text);
    Check(got.value == expected.value, "ExtractFrameRate gave another value");
  }
  return 0;
}
