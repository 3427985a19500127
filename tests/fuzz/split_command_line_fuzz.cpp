// Command-line splitting: arbitrary text splits as the convention says, and any list of
// arguments quoted the usual way comes back unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "process/command_line.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Check(SplitCommandLine(text) == reference::CommandLineModel(text),
        "SplitCommandLine differs from the convention", text);

  FuzzedDataProvider provider(data, size);
  std::vector<std::string> words;
  while (provider.remaining_bytes() > 0 && words.size() < 16) {
    words.push_back(provider.ConsumeRandomLengthString(64));
  }
  const std::string line = reference::QuoteForCommandLine(words);
  Check(SplitCommandLine(line) == words, "quoted arguments do not split back", line);
  return 0;
}
