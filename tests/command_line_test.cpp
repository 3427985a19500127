// How the runner splits a child's command line into the words the child sees.
#include "process/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velotrax {
namespace {

TEST(CommandLine, SplitsCommandLinesTheWindowsWay) {
  using Words = std::vector<std::string>;
  struct Case {
    const char* line;
    Words words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  lead  trail  ", {"lead", "trail"}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(x"y z"w)", {"xy zw"}},
      {R"("")", {""}},
      {R"(a "" b)", {"a", "", "b"}},
      {R"(a\b c\\d)", {R"(a\b)", R"(c\\d)"}},
      {R"(a\"b)", {R"(a"b)"}},           // 1 backslash: a literal quote
      {R"(a\\"b c")", {R"(a\b c)"}},     // 2: one backslash, then the quote opens
      {R"(a\\\"b)", {R"(a\"b)"}},        // 3: one backslash and a literal quote
      {R"(a\\\\"b c")", {R"(a\\b c)"}},  // 4: two backslashes, the quote opens
      {R"("C:\Program Files\x\\" next)", {R"(C:\Program Files\x\)", "next"}},
      {R"("unclosed quote  runs on)", {"unclosed quote  runs on"}},
      {"trailing\\", {"trailing\\"}},
      {"tab\"\t\"in", {"tab\tin"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(SplitCommandLine(c.line), c.words);
  }
}

}  // namespace
}  // namespace velotrax
