// Plain, slow restatements of the rules the fuzz targets hold the program's code to. They are
// written from the rules, not from the code, and favour obviousness over speed.
#pragma once

#include <cctype>
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

// A JSON text (RFC 8259) read by the grammar alone, nested at most deepest levels below the top:
// the value in a canonical spelling (null, true and false by their first letter, "d" and a
// number's %.17g, "s" and a string's length and bytes, arrays in [], objects in {}), or nothing
// when the text is not JSON or holds a number no double can hold.
class JsonModel {
 public:
  static std::optional<std::string> Read(std::string_view text, int deepest) {
    JsonModel model(text, deepest);
    std::string value;
    if (!model.Value(0, value)) return std::nullopt;
    model.Blanks();
    if (model.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  JsonModel(std::string_view text, int deepest) : text_(text), deepest_(deepest) {}

  std::string_view text_;
  int deepest_;
  std::size_t at_ = 0;

  int Peek() const { return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : -1; }
  bool Take(char c) { return Peek() == c && ++at_ > 0; }
  bool Digits() {
    const std::size_t from = at_;
    while (Peek() >= '0' && Peek() <= '9') ++at_;
    return at_ > from;
  }
  void Blanks() {
    while (Take(' ') || Take('\t') || Take('\n') || Take('\r')) {
    }
  }

  bool Value(int depth, std::string& out) {
    Blanks();
    if (depth > deepest_) return false;
    for (const std::string_view word : {"null", "true", "false"}) {
      if (text_.substr(at_).starts_with(word)) {
        at_ += word.size();
        out += word[0];
        return true;
      }
    }
    if (Peek() == '"') return String(out);
    const bool object = Take('{');
    if (!object && !Take('[')) return Number(out);
    const char close = object ? '}' : ']';
    out += object ? '{' : '[';
    Blanks();
    if (Take(close)) return out += close, true;
    while (true) {
      if (object) {
        Blanks();
        if (Peek() != '"' || !String(out)) return false;
        Blanks();
        if (!Take(':')) return false;
        out += ':';
      }
      if (!Value(depth + 1, out)) return false;
      Blanks();
      if (Take(close)) return out += close, true;
      if (!Take(',')) return false;
      out += ',';
    }
  }

  // [ "-" ] ( "0" / digit1-9 *digit ) [ "." 1*digit ] [ ( "e" / "E" ) [ "-" / "+" ] 1*digit ]
  bool Number(std::string& out) {
    const std::size_t start = at_;
    Take('-');
    if (!Take('0') && !Digits()) return false;
    if (Take('.') && !Digits()) return false;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return false;
    }
    const double value =
        std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
    if (value - value != 0) return false;  // infinite
    char shown[40];
    std::snprintf(shown, sizeof shown, "d%.17g", value);
    out += shown;
    return true;
  }

  static std::string Utf8(uint32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    int more = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;  // the continuation bytes
    std::string bytes(1, static_cast<char>((0xFF80 >> more) | (c >> (6 * more))));
    while (more-- > 0) bytes += static_cast<char>(0x80 | ((c >> (6 * more)) & 0x3F));
    return bytes;
  }

  bool Hex4(uint32_t& value) {
    for (int i = 0; i < 4; ++i, ++at_) {
      const int c = Peek();
      if (!std::isxdigit(c)) return false;
      value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return true;
  }

  // Each character the shortest spelling of a code point that is no surrogate and at most
  // U+10FFFF (RFC 3629).
  static bool WellFormedUtf8(std::string_view text) {
    for (std::size_t at = 0, length = 1; at < text.size(); at += length) {
      const int lead = static_cast<unsigned char>(text[at]);
      length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
      if (length == 0 || at + length > text.size()) return false;
      uint32_t c = static_cast<uint32_t>(length == 1 ? lead : lead & (0x7F >> length));
      for (std::size_t k = 1; k < length; ++k) {
        const int byte = static_cast<unsigned char>(text[at + k]);
        if ((byte & 0xC0) != 0x80) return false;
        c = c << 6 | (byte & 0x3F);
      }
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || Utf8(c) != text.substr(at, length)) {
        return false;
      }
    }
    return true;
  }

  // A string; escapes give well-formed UTF-8 by construction, so the whole of it is well-formed
  // exactly when its raw bytes are.
  bool String(std::string& out) {
    ++at_;
    std::string text;
    while (!Take('"')) {
      const int c = Peek();
      if (c < 0x20) return false;  // the end of the text, or a control character
      ++at_;
      const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (c != '\\') {
        text += static_cast<char>(c);
      } else if (const std::size_t k = simple.find(static_cast<char>(Peek())); k != simple.npos) {
        text += meaning[k];
        ++at_;
      } else {
        uint32_t unit = 0, low = 0;
        if (!Take('u') || !Hex4(unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
          unit = 0x10000 + (unit - 0xD800) * 0x400 + (low - 0xDC00);
        }
        text += Utf8(unit);
      }
    }
    if (!WellFormedUtf8(text)) return false;
    out += "s" + std::to_string(text.size()) + ":" + text;
    return true;
  }
};

}  // namespace velotrax::reference
