// The profile (INI) syntax, read in one place: lines, section headers, entries, and the lookup
// of a value by section and key with the letter case of ASCII names ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax {

// The text without the blanks (spaces and tabs) at its start and end.
std::string_view TrimBlanks(std::string_view text);
// True when a and b are equal once "A" to "Z" are lower-cased.
bool SameIgnoringCase(std::string_view a, std::string_view b);
// The line starting at begin, without its LF or CR LF; begin moves to the next line.
std::string_view NextProfileLine(std::string_view bytes, std::size_t& begin);

// One profile file, parsed; names and values are kept as places in the file's bytes. A repeated
// section adds its new keys to its first occurrence; a repeated key keeps its first value.
class ParsedProfile {
 public:
  // Where a text lies in the bytes.
  struct Span {
    uint32_t begin = 0, size = 0;
  };
  struct Entry {
    Span key;        // blanks removed, spelled as in the file
    Span value;      // blanks and one pair of enclosing quotes removed
    Span raw_value;  // everything after the "=", up to the line break
    uint32_t line = 0;
    uint32_t section = 0;  // index into Sections()
  };
  struct Section {
    Span name;                     // blanks removed, spelled as in the file
    uint32_t last_entry_line = 0;  // of the first occurrence; its header when it has no entry
    uint32_t first_entry;          // index into Entries(), kNone without entries
  };
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  // The largest file taken in: every place in it fits in 32 bits.
  static constexpr std::size_t kMaxBytes = 0xFFFFFFFEu;

  ParsedProfile() = default;
  // Parses bytes; bytes longer than kMaxBytes parse as an empty file.
  explicit ParsedProfile(std::string bytes);

  // The file's bytes as parsed.
  const std::string& Bytes() const { return bytes_; }
  // The text at a place in the bytes.
  std::string_view Text(Span span) const {
    return std::string_view(bytes_).substr(span.begin, span.size);
  }
  // Sections in file order, first occurrences only.
  const std::vector<Section>& Sections() const { return sections_; }
  // Entries in file order, the first of each key of a section only.
  const std::vector<Entry>& Entries() const { return entries_; }
  // The index of the section of that name (blanks around it ignored), or kNone.
  uint32_t FindSection(std::string_view name) const;
  // The index of the entry, or kNone. hint: an entry index that probably precedes the one asked
  // for (readers mostly ask in file order), kNone when there is none.
  uint32_t FindEntry(uint32_t section, std::string_view key, uint32_t hint = kNone) const;
  // The file's text with value stored under section and key; every other line is kept and
  // every line is ended with CR LF.
  std::string WithValue(std::string_view section, std::string_view key,
                        std::string_view value) const;

 private:
  Span SpanOf(std::string_view text) const;

  std::string bytes_;
  std::size_t line_count_ = 0;
  std::vector<Section> sections_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> section_slots_;  // open addressing: index + 1, 0 for a free slot
  std::vector<uint32_t> entry_slots_;
};

}  // namespace velotrax
