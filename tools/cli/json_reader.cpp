#include "tools/cli/json_reader.h"

#include <cstdlib>

#include "tools/cli/cli.h"
#include "tools/cli/text_output.h"

namespace velotrax::cli {

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
    throw CliError("not a JSON document: " + what + " at byte " + std::to_string(i_ + 1));
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
      const std::size_t start = i_;
      while (i_ < s_.size() &&
             std::string_view("+-0123456789.eE").find(s_[i_]) != std::string_view::npos) {
        ++i_;
      }
      const std::string number(s_.substr(start, i_ - start));
      char* end = nullptr;
      value.number = std::strtod(number.c_str(), &end);
      if (number.empty() || end != number.c_str() + number.size()) {
        i_ = start;
        Fail("a value expected");
      }
      value.kind = JsonValue::Kind::number;
    }
    return value;
  }

  unsigned Hex4() {
    if (i_ + 4 > s_.size()) Fail("a short \\u escape");
    const std::string digits(s_.substr(i_, 4));
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (end != digits.c_str() + 4) Fail("a bad \\u escape");
    i_ += 4;
    return static_cast<unsigned>(value);
  }

  std::string String() {
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
        case 'u': {
          unsigned c1 = Hex4();
          if (c1 >= 0xD800 && c1 < 0xDC00 && Word("\\u")) {
            const unsigned c2 = Hex4();
            c1 = c2 >= 0xDC00 && c2 < 0xE000 ? 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00)
                                             : 0xFFFD;
          } else if (c1 >= 0xD800 && c1 < 0xE000) {
            c1 = 0xFFFD;
          }
          AppendUtf8(out, c1);
          break;
        }
        default:
          Fail("a bad escape");
      }
    }
    if (i_ >= s_.size()) Fail("an unterminated string");
    ++i_;
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

}  // namespace velotrax::cli
