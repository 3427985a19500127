// The JSON reader behind velotrax-cli compare takes JSON texts and nothing else: what the
// grammar allows reads to the right value, everything else is refused with the place it breaks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tools/cli/cli.h"
#include "tools/cli/json_reader.h"

namespace velotrax::cli {
namespace {

using ::testing::HasSubstr;

TEST(CliJsonTest, StringsAndNumbersReadAsTheGrammarWritesThem) {
  const struct {
    const char* text;
    std::string value;
  } strings[] = {
      {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},  // a surrogate pair is one character
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"\"caf\xC3\xA9 \x7F\"", "caf\xC3\xA9 \x7F"},
  };
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

TEST(CliJsonTest, WhatIsNotJsonIsRefusedWithWhereItBreaks) {
  const struct {
    const char* text;
    const char* why;
  } refused[] = {
      {R"("\u-001")", "four hex digits expected after \\u at byte 4"},
      {R"("\u 041")", "four hex digits expected"},
      {R"("\u0x41")", "four hex digits expected"},
      {R"("\u12")", "four hex digits expected"},
      {R"("\ud800\u0041")", "a high surrogate without a low one after it at byte 2"},
      {R"("\ud800x")", "a high surrogate without a low one"},
      {R"("\udc00")", "a low surrogate without a high one"},
      {"\"a\tb\"", "a control character in a string"},
      {"\"\xC3\"", "a string that is not UTF-8 at byte 1"},
      {"\"\xED\xA0\x80\"", "a string that is not UTF-8"},      // a surrogate in UTF-8
      {"\"\xF4\x90\x80\x80\"", "a string that is not UTF-8"},  // above U+10FFFF
      {R"("\x")", "a bad escape"},
      {R"("open)", "an unterminated string"},
      {"+1", "a value expected at byte 1"},
      {".5", "a value expected"},
      {"-", "a value expected"},
      {"1.", "a digit expected after the decimal point"},
      {"1.e5", "a digit expected after the decimal point"},
      {"1e", "a digit expected in the exponent"},
      {"1e+", "a digit expected in the exponent"},
      {"01", "text after the document at byte 2"},
      {"[-01]", "']' expected"},
      {"1e400", "a number out of range at byte 1"},
      {"0x10", "text after the document"},
      {"Infinity", "a value expected"},
      {"[1,]", "a value expected"},
      {"{\"a\" 1}", "':' expected"},
      {"{\"a\":1,}", "a member name expected"},
      {"[1] x", "text after the document"},
      {"nul", "a value expected"},
      {"\xEF\xBB\xBF{}", "a value expected"},  // no byte-order mark
      {"", "unexpected end"},
      {"\f1", "a value expected"},  // only space, tab, CR and LF are blanks
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.text);
    try {
      ParseJson(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const CliError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.why));
    }
  }
}

}  // namespace
}  // namespace velotrax::cli
