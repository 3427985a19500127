#include "results/json_reader.h"

#include <cmath>
#include <cstdlib>

#include "results/errors.h"
#include "results/text_output.h"

namespace velotrax::results {

namespace {

// Deep enough for any export; a hostile file cannot exhaust the stack.
constexpr int kDeepest = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  JsonValue Document() {
    JsonValue value = Value(0);
    Blank();
    if (i_ != s_.size()) Fail("text after the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EResultsError("not a JSON document: " + what + " at byte " + std::to_string(i_ + 1));
  }

  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }

  bool Take(char c) {
    Blank();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  void Expect(char c) {
    if (!Take(c)) Fail(std::string("'") + c + "' expected");
  }

  bool Word(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  JsonValue Value(int depth) {
    if (depth > kDeepest) Fail("nesting too deep");
    Blank();
    if (i_ >= s_.size()) Fail("unexpected end");
    JsonValue value;
    const char c = s_[i_];
    if (c == '{') {
      ++i_;
      value.kind = JsonValue::Kind::object;
      if (Take('}')) return value;
      do {
        Blank();
        if (i_ >= s_.size() || s_[i_] != '"') Fail("a member name expected");
        std::string name = String();
        Expect(':');
        value.members.push_back({std::move(name), Value(depth + 1)});
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++i_;
      value.kind = JsonValue::Kind::array;
      if (Take(']')) return value;
      do {
        value.items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.kind = JsonValue::Kind::string;
      value.text = String();
    } else if (Word("null")) {
    } else if (Word("true")) {
      value.kind = JsonValue::Kind::boolean;
      value.boolean = true;
    } else if (Word("false")) {
      value.kind = JsonValue::Kind::boolean;
    } else {
      value.kind = JsonValue::Kind::number;
      value.number = Number();
    }
    return value;
  }

  bool IsDigit(std::size_t at) const { return at < s_.size() && s_[at] >= '0' && s_[at] <= '9'; }

  void Digits() {
    while (IsDigit(i_)) ++i_;
  }

  // A number as JSON writes it: an optional minus, 0 or a digit 1-9 with more digits, then an
  // optional fraction and exponent, each with at least one digit. No plus, no leading zero, no
  // bare point.
  double Number() {
    const std::size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (!IsDigit(i_)) {
      i_ = start;
      Fail("a value expected");
    }
    if (s_[i_++] != '0') Digits();
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      if (!IsDigit(i_)) Fail("a digit expected after the decimal point");
      Digits();
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!IsDigit(i_)) Fail("a digit expected in the exponent");
      Digits();
    }
    // The text is a number the C locale reads the same way; only its size can be wrong.
    const std::string number(s_.substr(start, i_ - start));
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) {
      i_ = start;
      Fail("a number out of range");
    }
    return value;
  }

  // The four hex digits of a \u escape, exactly four.
  char32_t Hex4() {
    char32_t value = 0;
    for (int digit = 0; digit < 4; ++digit, ++i_) {
      const char c = i_ < s_.size() ? s_[i_] : '\0';
      const int nibble = c >= '0' && c <= '9'   ? c - '0'
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
      if (nibble < 0) Fail("four hex digits expected after \\u");
      value = value << 4 | static_cast<char32_t>(nibble);
    }
    return value;
  }

  // The character of a \u escape whose "\u" is read: a surrogate pair is one character; a
  // surrogate without its partner stands for none and is refused.
  char32_t Escaped() {
    const std::size_t start = i_ - 2;
    const char32_t first = Hex4();
    if (first >= 0xDC00 && first < 0xE000) {
      i_ = start;
      Fail("a low surrogate without a high one before it");
    }
    if (first < 0xD800 || first >= 0xDC00) return first;
    if (!Word("\\u")) {
      i_ = start;
      Fail("a high surrogate without a low one after it");
    }
    const char32_t second = Hex4();
    if (second < 0xDC00 || second >= 0xE000) {
      i_ = start;
      Fail("a high surrogate without a low one after it");
    }
    return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  }

  std::string String() {
    const std::size_t start = i_;
    ++i_;  // the opening quote
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      const char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) break;
      const char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          AppendUtf8(out, Escaped());
          break;
        default:
          Fail("a bad escape");
      }
    }
    if (i_ >= s_.size()) Fail("an unterminated string");
    ++i_;
    // The escapes give whole characters, so only the bytes taken as they stand can break this.
    if (!IsValidUtf8(out)) {
      i_ = start;
      Fail("a string that is not UTF-8");
    }
    return out;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const auto& [key, value] : members) {
    if (key == name) return &value;
  }
  return nullptr;
}

JsonValue ParseJson(std::string_view text) {
  return Parser(text).Document();
}

}  // namespace velotrax::results
