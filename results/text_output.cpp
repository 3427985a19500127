#include "results/text_output.h"

#include <cstdint>
#include <cstdio>

namespace velotrax::results {

namespace {

// Windows-1252 at 0x80..0x9F; the five holes of the code page keep their C1 code points, as the
// desktop program's windows show them.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes the code point at position i of valid UTF-8 and moves i past it.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < length && i + k < s.size(); ++k) c = (c << 6) | (byte(i + k) & 0x3F);
  i += length;
  return c;
}

// Length of the well-formed sequence starting at i, or 0.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// What ForEachCodePoint passes for a byte that starts no valid UTF-8 sequence.
constexpr char32_t kStrayByte = 0xFFFFFFFF;

// Calls visit with each code point of utf8 in order, and with kStrayByte for each byte that
// starts no valid sequence.
template <typename Visit>
void ForEachCodePoint(std::string_view utf8, Visit visit) {
  for (std::size_t i = 0; i < utf8.size();) {
    if (SequenceLength(utf8, i) == 0) {
      visit(kStrayByte);
      ++i;
    } else {
      visit(NextCodePoint(utf8, i));
    }
  }
}

// The text in double quotes after lead, its quotes doubled.
std::string Quoted(std::string_view lead, std::string_view utf8) {
  std::string out = "\"";
  out += lead;
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string DisplayText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char32_t{c});
  }
  return out;
}

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (char ch : utf8) {
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string CutText(std::string_view utf8, std::size_t characters) {
  if (DisplayWidth(utf8) <= characters) return std::string(utf8);
  std::string out;
  std::size_t count = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && ++count > characters - 3) break;
    out += c;
  }
  return out + "...";
}

std::string CsvField(std::string_view utf8) {
  // Blanks at either end are quoted too: many readers drop them from a bare field.
  const bool blank_edge = !utf8.empty() && (utf8.front() == ' ' || utf8.back() == ' ' ||
                                            utf8.front() == '\t' || utf8.back() == '\t');
  if (!blank_edge && utf8.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(utf8);
  }
  return Quoted("", utf8);
}

std::string SpreadsheetCsvField(std::string_view utf8) {
  if (utf8.empty() || std::string_view("=+-@\t\r").find(utf8.front()) == std::string_view::npos) {
    return CsvField(utf8);
  }
  return Quoted("'", utf8);
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  ForEachCodePoint(utf8, [&out](char32_t c) {
    switch (c) {
      case kStrayByte:  // never for DisplayText's output; a stray byte must not break the JSON
        out += "\\ufffd";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029) {
          char escaped[16];  // one \uXXXX escape, with room for the compiler's range check
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          AppendUtf8(out, c);
        }
    }
  });
  out += '"';
  return out;
}

std::string XmlText(std::string_view utf8) {
  std::string out;
  ForEachCodePoint(utf8, [&out](char32_t c) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // XML 1.0 carries no other control character below 0x20, and no U+FFFE or U+FFFF.
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF ||
            c == kStrayByte) {
          AppendUtf8(out, 0xFFFD);
        } else {
          AppendUtf8(out, c);
        }
    }
  });
  return out;
}

std::string MarkdownCell(std::string_view utf8) {
  std::string out;
  for (char c : TerminalText(utf8)) {
    switch (c) {
      case '\\':
      case '|':
      case '*':
      case '_':
      case '`':
      case '[':
      case ']':
      case '<':
      case '>':
      case '#':
        out += '\\';
        out += c;
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string TerminalText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&out](char32_t c) {
    if (c == kStrayByte) {
      AppendUtf8(out, 0xFFFD);
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      out += ' ';
    } else {
      AppendUtf8(out, c);
    }
  });
  return out;
}

}  // namespace velotrax::results
