// Shared test helper for the runner's read reports: the lines a terminal would show.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velotrax::testing {

// Rebuilds the lines from reports of (text, starts on a new line): a report that does not start
// a new line replaces the one before it, as a carriage return does on a terminal.
inline std::vector<std::string> TerminalLines(
    const std::vector<std::pair<std::string, bool>>& reports) {
  std::vector<std::string> lines;
  for (const auto& [text, starts_on_new_line] : reports) {
    if (starts_on_new_line || lines.empty()) {
      lines.push_back(text);
    } else {
      lines.back() = text;
    }
  }
  return lines;
}

}  // namespace velotrax::testing
