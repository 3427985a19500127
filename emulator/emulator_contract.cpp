#include "process/emulator_contract.h"

namespace velotrax {

EmulatorInvocation ComposeInvocation(std::string_view base_dir, std::string_view mame_file,
                                     std::string_view rom, bool is_d3d) {
  return ComposeInvocationWith(base_dir, mame_file, rom,
                               is_d3d ? D3DOptionString : DDrawOptionString);
}

EmulatorInvocation ComposeInvocationWith(std::string_view base_dir, std::string_view mame_file,
                                         std::string_view rom, std::string_view options) {
  EmulatorInvocation invocation;
  invocation.CurrentDirectory = std::string(base_dir);
  invocation.ApplicationName = std::string(base_dir) + std::string(mame_file);
  invocation.CommandLine =
      std::string(mame_file) + " " + std::string(rom) + " " + std::string(options);
  return invocation;
}

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
