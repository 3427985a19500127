// The readers of what the emulator says about itself (-help, -showusage), about a game (-listxml)
// and about a pass, on any output: the lines up to the first empty one are the -help answer,
// the rest the -showusage answer, and all of them the -listxml answer and the pass's output.
// Each reader must stay within what the lines hold and never crash.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulator_dialect.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines, help, usage;
  std::size_t start = 0;
  bool in_help = true;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    lines.push_back(line);
    in_help = in_help && !line.empty();
    (in_help ? help : usage).push_back(line);
    start = end + 1;
  }

  const EmulatorIdentity identity = IdentityFromOutput(help, usage);
  if (!identity.version.empty()) {
    Check(identity.version[0] >= '0' && identity.version[0] <= '9', "version starts with a digit",
          identity.version);
    Check(static_cast<unsigned char>(identity.version.back()) > ' ', "version ends in a blank",
          identity.version);
    Check(std::ranges::any_of(help,
                              [&](const std::string& l) {
                                return l.find(" v" + identity.version) != std::string::npos;
                              }),
          "the version is in no -help line", identity.version);
  }
  if (identity.dialect == EmulatorDialect::current) {
    auto offers = [&](const char* option) {
      return std::ranges::any_of(usage,
                                 [&](const std::string& l) { return l.starts_with(option); });
    };
    Check(offers("-seconds_to_run") && offers("-video "),
          "a current build without -seconds_to_run and -video", text);
  }

  const double refresh = RefreshFromListXml(lines);
  Check(std::isfinite(refresh), "refresh rate", text);
  if (refresh != 0) {
    Check(std::ranges::any_of(lines,
                              [](const std::string& l) {
                                const std::size_t display = l.find("<display ");
                                return display != std::string::npos &&
                                       l.find(" refresh=\"", display) != std::string::npos;
                              }),
          "a refresh rate without a display's refresh attribute", text);
  }

  const std::string reason = EmulatorReason(lines);
  if (!reason.empty()) {
    Check(reason.starts_with("Fatal error:") || reason.starts_with("Error:") ||
              reason.starts_with("Unknown system"),
          "the emulator's reason", reason);
  }

  PassPlan plan;
  plan.dialect = EmulatorDialect::current;
  plan.refresh = refresh;
  const PassResult result = ReadPassResult(plan, lines, [](const std::vector<std::string>&) {
    Check(false, "a current pass read as a classic one");
    return 0;
  });
  Check(result.fps >= 0, "negative frame rate", text);
  Check(result.fps == 0 || result.reason.empty(), "a frame rate with a reason", result.reason);
  Check(result.fps > 0 || !result.reason.empty() || refresh > 0, "no frame rate and no reason",
        text);
  return 0;
}
