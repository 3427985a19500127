#include "storage/int_text.h"

#include "base/errors.h"

namespace velotrax {

namespace {

[[noreturn]] void RaiseNotAnInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t TextToInt(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;

  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }

  bool hexadecimal = false;
  if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
    hexadecimal = true;
    pos += 1;
  } else if (pos + 1 < text.size() && text[pos] == '0' &&
             (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    hexadecimal = true;
    pos += 2;
  }

  // At least one digit, and nothing but digits up to the end.
  if (pos >= text.size()) RaiseNotAnInteger(text);

  if (hexadecimal) {
    uint32_t value = 0;
    for (; pos < text.size(); ++pos) {
      const int digit = HexDigitValue(text[pos]);
      if (digit < 0 || value > 0x0FFFFFFFu) RaiseNotAnInteger(text);
      value = value * 16u + static_cast<uint32_t>(digit);
    }
    // Eight digits are read as a 32-bit pattern: $FFFFFFFF is -1.
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
  }

  int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9' || value > 214748364) RaiseNotAnInteger(text);
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) RaiseNotAnInteger(text);
  return static_cast<int32_t>(value);
}

std::string IntToText(int32_t value) {
  return std::to_string(value);
}

}  // namespace velotrax
