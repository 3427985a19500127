// Plain, slow restatements of the rules the fuzz targets hold the program's code to. They are
// written from the rules, not from the code, and favour obviousness over speed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax::reference {

// Stops the fuzzer with a readable note; libFuzzer keeps the input that led here.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "\nRULE BROKEN: %s\n  detail: [%.*s]\n", what,
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void Check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) Fail(what, detail);
}

// The integer a text stands for, or nothing when the text is not an integer.
inline std::optional<int32_t> TextToIntModel(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool minus = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) minus = text[i++] == '-';
  const std::string_view rest = text.substr(i);
  int base = 10;
  std::string_view digits = rest;
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    digits = rest.substr(2);
  } else if (rest.starts_with("$") || rest.starts_with("x") || rest.starts_with("X")) {
    base = 16;
    digits = rest.substr(1);
  }
  if (digits.empty()) return std::nullopt;
  auto digit_value = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (char c : digits) {
    if (digit_value(c) < 0) return std::nullopt;
  }
  // Leading zeros are free; what counts is the number of significant digits.
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  if (base == 16) {
    if (digits.size() > 8) return std::nullopt;
    uint64_t pattern = std::strtoull(std::string(digits).c_str(), nullptr, 16);
    uint32_t value = static_cast<uint32_t>(pattern);
    if (minus) value = ~value + 1u;
    return static_cast<int32_t>(value);
  }
  if (digits.size() > 10) return std::nullopt;
  const int64_t magnitude = std::strtoll(std::string(digits).c_str(), nullptr, 10);
  const int64_t value = minus ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

inline std::string NotAnIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

// An error's message as what() shows it: a NUL in the text ends it there.
inline std::string AsShown(const std::string& message) {
  return message.substr(0, message.find('\0'));
}

// What the frame-rate extraction yields: a value, or the text the integer conversion refuses.
struct FrameRateOutcome {
  bool refused = false;
  int32_t value = 0;
  std::string refused_text;
  bool operator==(const FrameRateOutcome&) const = default;
};

inline FrameRateOutcome FrameRateModel(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.find("FPS") == std::string::npos) continue;
    std::string from_14th;
    for (std::size_t i = 13; i < line.size(); ++i) from_14th += line[i];
    for (std::size_t p = 0; p < from_14th.size(); ++p) {
      if (from_14th[p] != '.' && from_14th[p] != ',') continue;
      const std::string integer = from_14th.substr(0, p);
      const std::optional<int32_t> value = TextToIntModel(integer);
      if (!value) return {true, 0, integer};
      return {false, *value, {}};
    }
  }
  return {};
}

// The screen of a simple terminal fed a whole output at once: its finished lines (each ended by
// a line feed) and what stands on the last, unfinished line.
struct TerminalScreen {
  std::vector<std::string> finished;
  std::string last;
};

inline TerminalScreen TerminalModel(std::string_view output) {
  TerminalScreen screen;
  std::string line;
  std::size_t column = 0;
  auto put = [&](char c) {
    if (column == line.size()) {
      line.push_back(c);
    } else {
      line[column] = c;
    }
    ++column;
  };
  for (char c : output) {
    switch (c) {
      case '\0':
      case '\a':
        put(' ');
        break;
      case '\b':
        if (column > 0) --column;
        break;
      case '\t':
        for (int i = 0; i < 8; ++i) put(' ');
        break;
      case '\n':
        screen.finished.push_back(line);
        line.clear();
        column = 0;
        break;
      case '\r':
        column = 0;
        break;
      default:
        put(c);
    }
  }
  screen.last = line;
  return screen;
}

// Splits a command line by the Windows convention: blanks and tabs outside quotes separate
// words, a double quote toggles quoting, backslashes are literal except before a double quote,
// where each pair gives one backslash and an odd one makes the quote literal.
inline std::vector<std::string> CommandLineModel(std::string_view text) {
  std::vector<std::string> words;
  std::optional<std::string> word;
  bool quoting = false;
  std::size_t pending_backslashes = 0;
  auto flush_backslashes = [&] {
    if (pending_backslashes > 0) {
      if (!word) word.emplace();
      word->append(pending_backslashes, '\\');
    }
    pending_backslashes = 0;
  };
  for (char c : text) {
    if (c == '\\') {
      ++pending_backslashes;
      continue;
    }
    if (c == '"') {
      if (!word) word.emplace();
      word->append(pending_backslashes / 2, '\\');
      const bool literal = pending_backslashes % 2 == 1;
      pending_backslashes = 0;
      if (literal) {
        word->push_back('"');
      } else {
        quoting = !quoting;
      }
      continue;
    }
    flush_backslashes();
    if ((c == ' ' || c == '\t') && !quoting) {
      if (word) words.push_back(*word);
      word.reset();
      continue;
    }
    if (!word) word.emplace();
    word->push_back(c);
  }
  flush_backslashes();
  if (word) words.push_back(*word);
  return words;
}

// The quoting that a program uses to hand a word list over as one Windows command line.
inline std::string QuoteForCommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += '"';
    std::size_t backslashes = 0;
    for (char c : word) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        line.append(backslashes * 2 + 1, '\\');
      } else {
        line.append(backslashes, '\\');
      }
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

// A JSON text (RFC 8259) read by the grammar alone, with values nested at most deepest levels
// below the top: the value in a canonical spelling ("n", "t", "f", "d" and the number's %.17g,
// "s" and the string's length and bytes, arrays in [], objects in {}), or nothing when the text
// is not JSON. Numbers must be finite doubles.
class JsonModel {
 public:
  static std::optional<std::string> Read(std::string_view text, int deepest) {
    JsonModel model(text, deepest);
    std::optional<std::string> value = model.Value(0);
    if (!value) return std::nullopt;
    model.Blanks();
    if (model.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  JsonModel(std::string_view text, int deepest) : text_(text), deepest_(deepest) {}

  int Peek() const { return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : -1; }
  bool IsDigit() const { return Peek() >= '0' && Peek() <= '9'; }
  void Blanks() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++at_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<std::string> Value(int depth) {
    if (depth > deepest_) return std::nullopt;
    Blanks();
    if (Literal("null")) return "n";
    if (Literal("true")) return "t";
    if (Literal("false")) return "f";
    if (Peek() == '"') {
      const std::optional<std::string> text = String();
      if (!text) return std::nullopt;
      return "s" + std::to_string(text->size()) + ":" + *text;
    }
    if (Peek() == '[') {
      ++at_;
      std::string out = "[";
      Blanks();
      if (Peek() == ']') {
        ++at_;
        return out + "]";
      }
      while (true) {
        const std::optional<std::string> item = Value(depth + 1);
        if (!item) return std::nullopt;
        out += *item;
        Blanks();
        if (Peek() == ']') {
          ++at_;
          return out + "]";
        }
        if (Peek() != ',') return std::nullopt;
        ++at_;
        out += ",";
      }
    }
    if (Peek() == '{') {
      ++at_;
      std::string out = "{";
      Blanks();
      if (Peek() == '}') {
        ++at_;
        return out + "}";
      }
      while (true) {
        Blanks();
        if (Peek() != '"') return std::nullopt;
        const std::optional<std::string> name = String();
        if (!name) return std::nullopt;
        Blanks();
        if (Peek() != ':') return std::nullopt;
        ++at_;
        const std::optional<std::string> member = Value(depth + 1);
        if (!member) return std::nullopt;
        out += "s" + std::to_string(name->size()) + ":" + *name + ":" + *member;
        Blanks();
        if (Peek() == '}') {
          ++at_;
          return out + "}";
        }
        if (Peek() != ',') return std::nullopt;
        ++at_;
        out += ",";
      }
    }
    return Number();
  }

  // number = [ "-" ] ( "0" / digit1-9 *digit ) [ "." 1*digit ] [ ( "e" / "E" ) [ "-" / "+" ]
  // 1*digit ]
  std::optional<std::string> Number() {
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (!IsDigit()) return std::nullopt;
    if (Peek() == '0') {
      ++at_;
    } else {
      while (IsDigit()) ++at_;
    }
    if (Peek() == '.') {
      ++at_;
      if (!IsDigit()) return std::nullopt;
      while (IsDigit()) ++at_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (!IsDigit()) return std::nullopt;
      while (IsDigit()) ++at_;
    }
    const double value =
        std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
    if (value - value != 0) return std::nullopt;  // infinite
    char shown[40];
    std::snprintf(shown, sizeof shown, "d%.17g", value);
    return std::string(shown);
  }

  static void Encode(std::string& out, uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  std::optional<uint32_t> Hex4() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const int c = Peek();
      int nibble = -1;
      if (c >= '0' && c <= '9') nibble = c - '0';
      if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
      if (nibble < 0) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(nibble);
      ++at_;
    }
    return value;
  }

  // One character written as UTF-8, by the table of well-formed byte sequences (RFC 3629).
  bool Utf8Character(std::string& out) {
    const int first = Peek();
    int length = 0;
    int low = 0x80, high = 0xBF;  // the second byte's range
    if (first >= 0xC2 && first <= 0xDF) {
      length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      length = 3;
      if (first == 0xE0) low = 0xA0;
      if (first == 0xED) high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
      length = 4;
      if (first == 0xF0) low = 0x90;
      if (first == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (at_ + static_cast<std::size_t>(length) > text_.size()) return false;
    for (int k = 1; k < length; ++k) {
      const int byte = static_cast<unsigned char>(text_[at_ + static_cast<std::size_t>(k)]);
      if (k == 1 ? byte < low || byte > high : byte < 0x80 || byte > 0xBF) return false;
    }
    out.append(text_.substr(at_, static_cast<std::size_t>(length)));
    at_ += static_cast<std::size_t>(length);
    return true;
  }

  std::optional<std::string> String() {
    ++at_;
    std::string out;
    while (true) {
      const int c = Peek();
      if (c < 0x20) return std::nullopt;  // the end of the text, or a control character
      if (c == '"') {
        ++at_;
        return out;
      }
      if (c >= 0x80) {
        if (!Utf8Character(out)) return std::nullopt;
        continue;
      }
      ++at_;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const int escape = Peek();
      ++at_;
      const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (escape >= 0 && simple.find(static_cast<char>(escape)) != std::string_view::npos) {
        out += meaning[simple.find(static_cast<char>(escape))];
        continue;
      }
      if (escape != 'u') return std::nullopt;
      std::optional<uint32_t> unit = Hex4();
      if (!unit || (*unit >= 0xDC00 && *unit <= 0xDFFF)) return std::nullopt;
      if (*unit >= 0xD800 && *unit <= 0xDBFF) {
        if (!Literal("\\u")) return std::nullopt;
        const std::optional<uint32_t> low = Hex4();
        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
        unit = 0x10000 + (*unit - 0xD800) * 0x400 + (*low - 0xDC00);
      }
      Encode(out, *unit);
    }
  }

  std::string_view text_;
  int deepest_;
  std::size_t at_ = 0;
};

}  // namespace velotrax::reference
