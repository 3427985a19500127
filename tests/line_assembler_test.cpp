#include "process/line_assembler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/helpers_common/line_reports.h"

namespace velotrax {
namespace {

using Report = std::pair<std::string, bool>;
using Reports = std::vector<Report>;

// Feeds the pieces after a ResetLine, then FinishOutput, and returns every report.
Reports Assemble(const std::vector<std::string>& pieces, LineAssembler* assembler = nullptr) {
  LineAssembler local;
  LineAssembler& a = assembler != nullptr ? *assembler : local;
  Reports reports;
  a.OnRead = [&](std::string_view s, bool starts_on_new_line) {
    reports.emplace_back(std::string(s), starts_on_new_line);
  };
  a.ResetLine();
  for (const std::string& piece : pieces) a.AssemblePiece(piece.data(), piece.size());
  a.FinishOutput();
  return reports;
}

std::string Bytes(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

const std::string LF = "\n", CR = "\r", BS = "\b", TAB = "\t", NUL(1, '\0');

TEST(LineAssembler, TerminalLikeExamples) {
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    Reports expected;
  } cases[] = {
      {"two lines in one piece",
       {Bytes({"A", LF, "B", LF})},
       {{"A", true}, {"B", true}, {"", true}}},
      {"a line over two pieces",
       {"abc", Bytes({"def", LF})},
       {{"abc", true}, {"abcdef", false}, {"", true}}},
      {"no line feed at the end", {"x"}, {{"x", true}, {"x", false}}},
      {"carriage return overwrites",
       {Bytes({"Progress 10%", CR, "Done", LF})},
       {{"Doneress 10%", true}, {"", true}}},
      {"tab is eight blanks", {Bytes({"ab", TAB, "c", LF})}, {{"ab        c", true}, {"", true}}},
      {"backspace steps back", {Bytes({"abc", BS, BS, "X", LF})}, {{"aXc", true}, {"", true}}},
      {"backspace stops at column 0", {Bytes({BS, BS, "X", LF})}, {{"X", true}, {"", true}}},
      {"NUL shows as a blank", {Bytes({"a", NUL, "b", LF})}, {{"a b", true}, {"", true}}},
      {"BEL shows as a blank", {"a\ab\n"}, {{"a b", true}, {"", true}}},
      {"tab after a carriage return",
       {Bytes({"abcdefghijkl", CR, TAB, "X", LF})},
       {{"        Xjkl", true}, {"", true}}},
      {"empty output", {}, {}},
      {"a lone line feed", {LF}, {{"", true}, {"", true}}},
      {"control bytes at the ends of pieces",
       {Bytes({"ab", CR}), Bytes({"c", LF})},
       {{"ab", true}, {"cb", false}, {"", true}}},
      {"other control bytes and high bytes stay",
       {"\x01\x1b[0m\x7f\xe9\xff\n"},
       {{"\x01\x1b[0m\x7f\xe9\xff", true}, {"", true}}},
      {"backspace then carriage return then overwrite past the end",
       {Bytes({"ab", BS, CR, "wxyz", LF})},
       {{"wxyz", true}, {"", true}}},
      {"backspace leaves the rest of the line",
       {Bytes({"abc", BS, BS, BS, LF})},
       {{"abc", true}, {"", true}}},
      {"line feed keeps nothing of the old line",
       {Bytes({"long line", LF, "ab", LF})},
       {{"long line", true}, {"ab", true}, {"", true}}},
      {"cursor of an overwritten line continues after a new piece",
       {Bytes({"12345", CR, "ab"}), Bytes({"c", LF})},
       {{"ab345", true}, {"abc45", false}, {"", true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Assemble(c.pieces), c.expected);
  }
}

TEST(LineAssembler, NoReportHoldsALayoutByte) {
  std::string noisy;
  for (int i = 0; i < 2000; ++i) noisy.push_back(static_cast<char>((i * 37) % 256));
  for (const Report& report : Assemble({noisy.substr(0, 1024), noisy.substr(1024)})) {
    for (char c : {'\0', '\a', '\b', '\t', '\n', '\r'}) {
      EXPECT_EQ(report.first.find(c), std::string::npos) << static_cast<int>(c);
    }
  }
}

// However the output is cut into pieces, the complete lines come out the same.
TEST(LineAssembler, CompleteLinesDoNotDependOnWhereThePiecesAreCut) {
  const std::string output = Bytes(
      {"first", LF, "50%", CR, "100%", LF, "a", TAB, "b", BS, "c", LF, NUL, "x", CR, LF, "tail"});
  const std::vector<std::string> whole = testing::TerminalLines(Assemble({output}));
  ASSERT_EQ(whole, (std::vector<std::string>{"first", "100%", "a        c", " x", "tail"}));
  for (std::size_t cut1 = 1; cut1 < output.size(); ++cut1) {
    for (std::size_t cut2 = cut1; cut2 < output.size(); ++cut2) {
      SCOPED_TRACE(std::to_string(cut1) + "," + std::to_string(cut2));
      std::vector<std::string> pieces = {output.substr(0, cut1), output.substr(cut1, cut2 - cut1),
                                         output.substr(cut2)};
      if (pieces[1].empty()) pieces.erase(pieces.begin() + 1);
      ASSERT_EQ(testing::TerminalLines(Assemble(pieces)), whole);
    }
  }
}

TEST(LineAssembler, RawReadSeesThePieceUnchangedBeforeAnyReport) {
  LineAssembler a;
  std::vector<std::string> events;
  a.OnRawRead = [&](std::string_view s) { events.push_back("raw:" + std::string(s)); };
  a.OnRead = [&](std::string_view s, bool) { events.push_back("line:" + std::string(s)); };
  a.ResetLine();
  const std::string piece = Bytes({"a", NUL, "b", LF, "c"});
  a.AssemblePiece(piece.data(), piece.size());
  EXPECT_EQ(events, (std::vector<std::string>{"raw:" + piece, "line:a b", "line:c"}));
}

TEST(LineAssembler, OwnLineListReplacesTheUnfinishedLine) {
  LineAssembler a;
  a.OwnerData = false;
  Assemble({"abc", Bytes({"def", LF}), "g"}, &a);
  EXPECT_EQ(a.Lines(), (std::vector<std::string>{"abcdef", "g"}));
  // A new run keeps the list and adds to it.
  Assemble({Bytes({"h", LF})}, &a);
  EXPECT_EQ(a.Lines(), (std::vector<std::string>{"abcdef", "g", "h", ""}));

  LineAssembler owner_data;
  Assemble({Bytes({"x", LF})}, &owner_data);
  EXPECT_TRUE(owner_data.Lines().empty());
}

TEST(LineAssembler, ResetLineStartsAFreshLine) {
  LineAssembler a;
  Reports first = Assemble({Bytes({"abc", CR, "x"})}, &a);
  EXPECT_EQ(a.CurrentLine(), "xbc");
  EXPECT_EQ(a.Cursor(), 1u);
  Reports second = Assemble({"y"}, &a);
  EXPECT_EQ(second, (Reports{{"y", true}, {"y", false}}));
}

TEST(LineAssembler, FailingHandlerLeavesThePieceAtOnce) {
  LineAssembler a;
  int reads = 0;
  a.OnRead = [&](std::string_view, bool) {
    if (++reads == 1) throw std::runtime_error("handler failed");
  };
  a.ResetLine();
  const std::string piece = Bytes({"one", LF, "two", LF});
  EXPECT_THROW(a.AssemblePiece(piece.data(), piece.size()), std::runtime_error);
  // Left at the first line feed: the line was not yet cleared and nothing after it was read.
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(a.CurrentLine(), "one");
  EXPECT_EQ(a.Cursor(), 3u);

  LineAssembler raw_fails;
  raw_fails.OnRawRead = [](std::string_view) { throw std::runtime_error("raw failed"); };
  raw_fails.OnRead = [&](std::string_view, bool) { ADD_FAILURE() << "assembled after a failure"; };
  raw_fails.ResetLine();
  EXPECT_THROW(raw_fails.AssemblePiece(piece.data(), piece.size()), std::runtime_error);
  EXPECT_EQ(raw_fails.CurrentLine(), "");
}

}  // namespace
}  // namespace velotrax
