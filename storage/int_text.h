// Conversions between text and 32-bit signed integers; every number read from or written to a
// file passes through them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velotrax {

// Decimal or hexadecimal ($, x, 0x) text to integer; throws EConvertError.
int32_t TextToInt(std::string_view text);

// Decimal text of a value, "-" before a negative one.
std::string IntToText(int32_t value);

}  // namespace velotrax
