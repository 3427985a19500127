#include "storage/int_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/errors.h"
#include "tests/helpers_common/temp_dir.h"

namespace velotrax {
namespace {

using testing::MessageOf;

struct Accepted {
  std::string text;
  int32_t value;
};

TEST(TextToInt, AcceptsDecimalAndHexadecimalTexts) {
  const Accepted table[] = {
      {"42", 42},
      {"+42", 42},
      {"$2A", 42},
      {"   42", 42},
      {"-0x10", -16},
      {"x1F", 31},
      {"X1f", 31},
      {"0X1F", 31},
      {"$ff", 255},
      {"0", 0},
      {"-0", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"+2147483647", 2147483647},
      {"$7FFFFFFF", 2147483647},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"-$80000000", INT32_MIN},
      {"-$1", -1},
      {"$000000000001", 1},  // leading zeros are not significant digits
      {"0000000000002147483647", 2147483647},
  };
  for (const Accepted& row : table) {
    SCOPED_TRACE("text: [" + row.text + "]");
    EXPECT_EQ(TextToInt(row.text), row.value);
  }
}

TEST(TextToInt, RejectsEverythingElseWithTheTextInTheMessage) {
  const std::string table[] = {
      "",
      " ",
      "   ",
      "42 ",
      "4 2",
      "- 42",
      "12.5",
      "-",
      "+",
      "$",
      "0x",
      "x",
      "+-1",
      "--1",
      "\t42",
      "2147483648",
      "-2147483649",
      "21474836470",
      "99999999999999999999",
      "$100000000",
      "0x1G",
      "1e3",
      "abc",
      "0b101",
  };
  for (const std::string& text : table) {
    SCOPED_TRACE("text: [" + text + "]");
    EXPECT_EQ(MessageOf<EConvertError>([&] { TextToInt(text); }),
              "'" + text + "' is not a valid integer value");
  }
}

TEST(TextToInt, EmptyTextGivesTwoQuotesSideBySide) {
  EXPECT_EQ(MessageOf<EConvertError>([] { TextToInt(""); }), "'' is not a valid integer value");
}

TEST(IntToText, WritesPlainDecimalsThatReadBack) {
  const Accepted table[] = {
      {"0", 0}, {"-5", -5}, {"812", 812}, {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}};
  for (const Accepted& row : table) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(IntToText(row.value), row.text);
    EXPECT_EQ(TextToInt(IntToText(row.value)), row.value);
  }
}

}  // namespace
}  // namespace velotrax
