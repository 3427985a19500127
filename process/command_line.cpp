#include "process/command_line.h"

#include <utility>

namespace velotrax {

std::vector<std::string> SplitCommandLine(std::string_view command_line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  while (i < n) {
    const char c = command_line[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) {
        words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
      ++i;
      continue;
    }
    in_word = true;
    if (c == '\\') {
      std::size_t backslashes = 0;
      while (i < n && command_line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && command_line[i] == '"') {
        // Before a quote, each pair is one backslash; an odd one out makes the quote literal.
        word.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          word.push_back('"');
          ++i;
        }
      } else {
        word.append(backslashes, '\\');
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      ++i;
      continue;
    }
    word.push_back(c);
    ++i;
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace velotrax
