// The integer conversions against the rules: every text converts exactly when the rules accept
// it, to the value they give, and every value survives the trip to text and back.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "storage/int_text.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<int32_t> expected = reference::TextToIntModel(text);
  try {
    const int32_t value = TextToInt(text);
    Check(expected.has_value(), "TextToInt accepted a text the rules refuse", text);
    Check(value == *expected, "TextToInt gave another value than the rules", text);
    Check(TextToInt(IntToText(value)) == value, "a converted value does not come back", text);
  } catch (const EConvertError& e) {
    Check(!expected.has_value(), "TextToInt refused a text the rules accept", text);
    Check(e.what() == reference::AsShown(reference::NotAnIntegerMessage(text)),
          "conversion error message", e.what());
  }

  // The first four bytes as a value: its decimal text, and back.
  if (size >= 4) {
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    const std::string written = IntToText(value);
    char expected_text[16];
    std::snprintf(expected_text, sizeof expected_text, "%d", value);
    Check(written == expected_text, "IntToText spelling", written);
    Check(TextToInt(written) == value, "IntToText does not read back", written);
  }
  return 0;
}
