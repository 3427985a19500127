// The JSON reader behind the comparison of runs takes JSON texts and nothing else: what the
// grammar allows reads to the right value, everything else is refused with the place it breaks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/errors.h"
#include "results/json_reader.h"

namespace velotrax::results {
namespace {

using ::testing::HasSubstr;

TEST(ResultsJsonTest, StringsAndNumbersReadAsTheGrammarWritesThem) {
  const struct {
    const char* text;
    std::string value;
  } strings[] = {{R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
                 {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},  // a surrogate pair is one character
                 {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
                 {"\"caf\xC3\xA9 \x7F\"", "caf\xC3\xA9 \x7F"}};
  for (const auto& c : strings) {
    SCOPED_TRACE(c.text);
    const JsonValue value = ParseJson(c.text);
    EXPECT_EQ(value.kind, JsonValue::Kind::string);
    EXPECT_EQ(value.text, c.value);
  }
  const struct {
    const char* text;
    double value;
  } numbers[] = {{"0", 0},      {"-0", 0},      {"12", 12},   {"-1.5", -1.5}, {"0.25", 0.25},
                 {"1e3", 1000}, {"2E-2", 0.02}, {"5e+1", 50}, {" 7 \r\n", 7}, {"1e-400", 0}};
  for (const auto& c : numbers) {
    SCOPED_TRACE(c.text);
    const JsonValue value = ParseJson(c.text);
    EXPECT_EQ(value.kind, JsonValue::Kind::number);
    EXPECT_EQ(value.number, c.value);
  }
  const JsonValue document = ParseJson(R"({"a": [true, false, null], "b": {}})");
  ASSERT_NE(document.Find("a"), nullptr);
  EXPECT_EQ(document.Find("a")->items.size(), 3u);
}

TEST(ResultsJsonTest, WhatIsNotJsonIsRefusedWithWhereItBreaks) {
  const struct {
    const char* why;
    std::vector<const char*> texts;
  } refused[] = {
      {"four hex digits expected after \\u at byte 4", {R"("\u-001")", R"("\u 041")"}},
      {"four hex digits expected after \\u", {R"("\u0x41")", R"("\u12")"}},
      {"a high surrogate without a low one after it at byte 2",
       {R"("\ud800\u0041")", R"("\ud800x")"}},
      {"a low surrogate without a high one", {R"("\udc00")"}},
      {"a control character in a string", {"\"a\tb\""}},
      // cut short, a surrogate, above U+10FFFF
      {"a string that is not UTF-8 at byte 1",
       {"\"\xC3\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\""}},
      {"a bad escape", {R"("\x")"}},
      {"an unterminated string", {R"("open)"}},
      // No byte-order mark; only space, tab, CR and LF are blanks.
      {"a value expected at byte 1", {"+1", ".5", "-", "Infinity", "nul", "\xEF\xBB\xBF{}", "\f1"}},
      {"a value expected at byte 4", {"[1,]"}},
      {"a digit expected after the decimal point", {"1.", "1.e5"}},
      {"a digit expected in the exponent", {"1e", "1e+"}},
      {"text after the document at byte 2", {"01", "0x10"}},
      {"text after the document at byte 5", {"[1] x"}},
      {"']' expected", {"[-01]"}},
      {"a number out of range at byte 1", {"1e400"}},
      {"':' expected", {"{\"a\" 1}"}},
      {"a member name expected", {"{\"a\":1,}"}},
      {"unexpected end", {""}}};
  for (const auto& c : refused) {
    for (const char* text : c.texts) {
      SCOPED_TRACE(text);
      try {
        ParseJson(text);
        ADD_FAILURE() << "accepted";
      } catch (const EResultsError& e) {
        EXPECT_THAT(e.what(), HasSubstr(c.why));
      }
    }
  }
}

}  // namespace
}  // namespace velotrax::results
