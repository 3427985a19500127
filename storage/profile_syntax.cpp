#include "storage/profile_syntax.h"

#include <algorithm>
#include <cstring>

namespace velotrax {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// FNV-1a over the lower-cased bytes, so that names differing only in letter case meet.
uint32_t HashName(std::string_view text, uint32_t seed) {
  uint32_t hash = 2166136261u ^ seed;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 16777619u;
  }
  return hash;
}

uint32_t EntrySeed(uint32_t section) {
  return section * 0x9E3779B9u;
}

// A power of two at least twice count, so that probes stay short.
std::size_t SlotCount(std::size_t count) {
  std::size_t size = 16;
  while (size < count * 2) size *= 2;
  return size;
}

// The slot holding an index (+ 1) that matches, or the free slot where it belongs.
template <typename Slots, typename Matches>
auto& Probe(Slots& slots, uint32_t hash, Matches matches) {
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    auto& slot = slots[i];
    if (slot == 0 || matches(slot - 1)) return slot;
  }
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // callers mostly ask with the file's own spelling
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view NextProfileLine(std::string_view bytes, std::size_t& begin) {
  const char* at = bytes.data() + begin;
  const void* found = std::memchr(at, '\n', bytes.size() - begin);
  std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data())
                          : bytes.size();
  const std::size_t next = found ? end + 1 : end;
  if (end > begin && bytes[end - 1] == '\r') --end;
  const std::string_view line = bytes.substr(begin, end - begin);
  begin = next;
  return line;
}

ParsedProfile::ParsedProfile(std::string bytes) : bytes_(std::move(bytes)) {
  if (bytes_.size() > kMaxBytes) bytes_.clear();
  line_count_ = static_cast<std::size_t>(std::count(bytes_.begin(), bytes_.end(), '\n'));
  if (!bytes_.empty() && bytes_.back() != '\n') ++line_count_;
  // Nearly every line of a profile is an entry; a file of other lines reserves nothing.
  const std::size_t most_entries = std::min(
      line_count_, static_cast<std::size_t>(std::count(bytes_.begin(), bytes_.end(), '=')));
  entries_.reserve(most_entries);
  entry_slots_.assign(SlotCount(most_entries), 0);
  section_slots_.assign(SlotCount(8), 0);

  uint32_t current = kNone;
  bool first_occurrence = false;
  uint32_t line = 0;
  for (std::size_t begin = 0; begin < bytes_.size(); ++line) {
    const std::string_view text = TrimBlanks(NextProfileLine(bytes_, begin));
    if (text.empty()) continue;
    if (text.front() == '[') {
      const std::size_t close = text.find(']');
      if (close != std::string_view::npos) {
        const std::string_view name = TrimBlanks(text.substr(1, close - 1));
        if ((sections_.size() + 1) * 2 > section_slots_.size()) {
          section_slots_.assign(section_slots_.size() * 2, 0);
          for (uint32_t s = 0; s < sections_.size(); ++s) {
            Probe(section_slots_, HashName(Text(sections_[s].name), 0),
                  [](uint32_t) { return false; }) = s + 1;
          }
        }
        uint32_t& slot = Probe(section_slots_, HashName(name, 0), [&](uint32_t s) {
          return SameIgnoringCase(Text(sections_[s].name), name);
        });
        first_occurrence = slot == 0;
        if (first_occurrence) {
          sections_.push_back({SpanOf(name), line, kNone});
          slot = static_cast<uint32_t>(sections_.size());
        }
        current = slot - 1;
        continue;
      }
    }
    const std::size_t equals = text.find('=');
    if (current == kNone || equals == std::string_view::npos) continue;
    const std::string_view key = TrimBlanks(text.substr(0, equals));
    uint32_t& slot = Probe(entry_slots_, HashName(key, EntrySeed(current)), [&](uint32_t e) {
      return entries_[e].section == current && SameIgnoringCase(Text(entries_[e].key), key);
    });
    if (slot == 0) {
      // The raw value runs to the line break, blanks at the line's end included.
      const std::size_t raw_begin =
          static_cast<std::size_t>(text.data() - bytes_.data()) + equals + 1;
      std::size_t raw_end = raw_begin + (text.size() - equals - 1);
      while (raw_end < bytes_.size() && IsBlank(bytes_[raw_end])) ++raw_end;
      const std::string_view raw(bytes_.data() + raw_begin, raw_end - raw_begin);
      entries_.push_back(
          {SpanOf(key), SpanOf(Unquote(TrimBlanks(raw))), SpanOf(raw), line, current});
      slot = static_cast<uint32_t>(entries_.size());
      if (sections_[current].first_entry == kNone) sections_[current].first_entry = slot - 1;
    }
    if (first_occurrence) sections_[current].last_entry_line = line;
  }
}

ParsedProfile::Span ParsedProfile::SpanOf(std::string_view text) const {
  return {static_cast<uint32_t>(text.data() - bytes_.data()), static_cast<uint32_t>(text.size())};
}

uint32_t ParsedProfile::FindSection(std::string_view name) const {
  name = TrimBlanks(name);
  if (sections_.empty()) return kNone;
  const uint32_t slot = Probe(section_slots_, HashName(name, 0), [&](uint32_t s) {
    return SameIgnoringCase(Text(sections_[s].name), name);
  });
  return slot == 0 ? kNone : slot - 1;
}

uint32_t ParsedProfile::FindEntry(uint32_t section, std::string_view key, uint32_t hint) const {
  if (section >= sections_.size()) return kNone;
  key = TrimBlanks(key);
  const uint32_t next = hint == kNone ? sections_[section].first_entry : hint + 1;
  if (next < entries_.size() && entries_[next].section == section &&
      SameIgnoringCase(Text(entries_[next].key), key)) {
    return next;
  }
  const uint32_t slot = Probe(entry_slots_, HashName(key, EntrySeed(section)), [&](uint32_t e) {
    return entries_[e].section == section && SameIgnoringCase(Text(entries_[e].key), key);
  });
  return slot == 0 ? kNone : slot - 1;
}

std::string ParsedProfile::WithValue(std::string_view section, std::string_view key,
                                     std::string_view value) const {
  std::vector<std::string_view> lines;
  lines.reserve(line_count_ + 3);
  for (std::size_t begin = 0; begin < bytes_.size();) {
    lines.push_back(NextProfileLine(bytes_, begin));
  }
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  const std::string entry_line = std::string(key) + "=" + std::string(value);
  std::string changed_line;
  const uint32_t s = FindSection(section);
  const uint32_t e = s == kNone ? kNone : FindEntry(s, key);
  if (s == kNone) {
    // A new section is set off from the lines before it, as a person would write it.
    if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.emplace_back();
    changed_line = "[" + std::string(section) + "]\r\n" + entry_line;
    lines.push_back(changed_line);
  } else if (e != kNone) {
    // The line keeps the file's spelling up to its "=", so only the value changes.
    const std::string_view old = lines[entries_[e].line];
    changed_line = std::string(old.substr(0, old.find('=') + 1)) + std::string(value);
    lines[entries_[e].line] = changed_line;
  } else {
    const std::size_t after = sections_[s].last_entry_line + 1;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), entry_line);
  }

  std::size_t size = 0;
  for (std::string_view line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace velotrax
