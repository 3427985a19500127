#include "storage/ini_file.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/errors.h"
#include "storage/files.h"

namespace velotrax {

namespace {

// The longest value a read hands back.
constexpr std::size_t kMaxValueLength = 2047;

// A file changed this recently may change again without a visible change of its time stamps
// (coarse file-system clocks), so its contents are compared instead of trusted.
constexpr int64_t kRacySeconds = 2;

// More paths than any run of the program uses; past it the cache starts afresh.
constexpr std::size_t kMaxCachedPaths = 64;

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The first position of c in a line, or npos; lines are too short to gain from memchr.
inline std::size_t FindByte(std::string_view text, char c) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c) return i;
  }
  return std::string_view::npos;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Callers mostly ask with the file's own spelling.
  if (a == b) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// FNV-1a over the lower-cased bytes, so that names differing only in letter case meet.
uint32_t HashIgnoringCase(std::string_view text, uint32_t seed) {
  uint32_t hash = 2166136261u ^ seed;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 16777619u;
  }
  return hash;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Where a text lies in the kept file.
struct Span {
  uint32_t begin = 0, size = 0;
};

struct Entry {
  Span key;    // blanks removed, spelled as in the file
  Span value;  // blanks and enclosing quotes removed
  uint32_t line = 0;
  uint32_t section = 0;
};

struct Section {
  Span name;                     // blanks removed, spelled as in the file
  uint32_t last_entry_line = 0;  // of the section's first occurrence; its header when empty
};

// The largest file a profile takes in: every position in it fits in 32 bits.
constexpr std::size_t kMaxProfileBytes = 0xFFFFFFFFu;

#if defined(__SANITIZE_ADDRESS__)
#define VELOTRAX_CHECKED_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELOTRAX_CHECKED_HEAP 1
#endif
#endif

// Hands out large blocks already backed by memory: a parsed reference file needs a few hundred
// pages, and taking them in one call costs far less than one page fault each at start-up.
// Sanitizer builds keep the ordinary heap so that every access stays checked.
template <typename T>
struct PrefaultedAllocator {
  using value_type = T;
  static constexpr std::size_t kLargeBytes = 64 * 1024;
  // Larger blocks are reserved for files mostly without entries and may stay mostly unused.
  static constexpr std::size_t kPrefaultedBytes = 16 * 1024 * 1024;

  PrefaultedAllocator() = default;
  template <typename U>
  PrefaultedAllocator(const PrefaultedAllocator<U>&) {}

  T* allocate(std::size_t n) {
#ifndef VELOTRAX_CHECKED_HEAP
    if (n * sizeof(T) >= kLargeBytes && n <= kPrefaultedBytes / sizeof(T)) {
      void* block = ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (block == MAP_FAILED) throw std::bad_alloc();
      return static_cast<T*>(block);
    }
#endif
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) {
#ifndef VELOTRAX_CHECKED_HEAP
    if (n * sizeof(T) >= kLargeBytes && n <= kPrefaultedBytes / sizeof(T)) {
      ::munmap(p, n * sizeof(T));
      return;
    }
#endif
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const PrefaultedAllocator<U>&) const {
    return true;
  }
};

template <typename T>
using PrefaultedVector = std::vector<T, PrefaultedAllocator<T>>;

// A hash index of 32-bit positions with open addressing; 0 marks a free slot.
class FlatIndex {
 public:
  FlatIndex() { Reset(0); }
  void Reset(std::size_t capacity) {
    std::size_t size = 16;
    while (size < capacity * 2) size *= 2;
    slots_.assign(size, 0);
    mask_ = size - 1;
  }
  // The slot for hash whose position satisfies matches, or the free slot where it belongs.
  template <typename Matches>
  uint32_t& Probe(uint32_t hash, Matches matches) {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      uint32_t& slot = slots_[i];
      if (slot == 0 || matches(slot - 1)) return slot;
    }
  }

 private:
  PrefaultedVector<uint32_t> slots_;
  std::size_t mask_ = 0;
};

// One profile file, parsed. Keys and values are spans into the one kept copy of the file. A
// repeated section adds its new keys to the first one; a repeated key keeps its first value.
class Profile {
 public:
  void Parse(std::string bytes) {
    bytes_ = std::move(bytes);
    sections_.clear();
    entries_.clear();
    ForgetCursor();
    if (bytes_.size() > kMaxProfileBytes) bytes_.clear();  // never read: ReadWholeFile refuses
    const std::size_t line_count = LineCount();
    // Nearly every line of a profile is an entry; a file of mostly headers grows the vector.
    entries_.reserve(line_count);
    std::size_t key_capacity = line_count;
    by_key_.Reset(key_capacity);
    by_name_.Reset(16);
    std::size_t name_capacity = 8;

    uint32_t current = kNone;
    bool first_occurrence = false;
    uint32_t line = 0;
    for (std::size_t begin = 0; begin < bytes_.size(); ++line) {
      const std::string_view text = Trim(NextLine(begin));
      if (!text.empty() && text.front() == '[') {
        const std::size_t close = FindByte(text, ']');
        if (close != std::string_view::npos) {
          const std::string_view name = Trim(text.substr(1, close - 1));
          if (sections_.size() + 1 > name_capacity) {
            name_capacity *= 2;
            RebuildNames(name_capacity);
          }
          uint32_t& slot = by_name_.Probe(HashIgnoringCase(name, 0), [&](uint32_t s) {
            return SameIgnoringCase(Text(sections_[s].name), name);
          });
          first_occurrence = slot == 0;
          if (first_occurrence) {
            sections_.push_back({SpanOf(name), line});
            slot = static_cast<uint32_t>(sections_.size());
          }
          current = slot - 1;
          continue;
        }
      }
      const std::size_t equals = FindByte(text, '=');
      if (current == kNone || equals == std::string_view::npos) continue;
      const std::string_view key = Trim(text.substr(0, equals));
      if (entries_.size() + 1 > key_capacity) {  // only if the line count was short: never full
        key_capacity = key_capacity * 2 + 16;
        RebuildKeys(key_capacity);
      }
      uint32_t& slot = by_key_.Probe(KeyHash(current, key), [&](uint32_t e) {
        return entries_[e].section == current && SameIgnoringCase(Text(entries_[e].key), key);
      });
      if (slot == 0) {
        entries_.push_back(
            {SpanOf(key), SpanOf(Unquote(Trim(text.substr(equals + 1)))), line, current});
        slot = static_cast<uint32_t>(entries_.size());
      }
      if (first_occurrence) sections_[current].last_entry_line = line;
    }
  }

  const std::string& Bytes() const { return bytes_; }

  // The value found, or nullopt. Readers ask for one section's keys in file order, so the entry
  // after the last one found is tried before the hash lookup.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) {
    const Entry* entry = FindEntry(section, key);
    if (entry == nullptr) return std::nullopt;
    return Text(entry->value);
  }

  // The file's text after storing value under section and key; every other line is kept.
  std::string WithValue(std::string_view section, std::string_view key, std::string_view value) {
    std::vector<std::string> lines;
    lines.reserve(LineCount() + 3);
    for (std::size_t begin = 0; begin < bytes_.size();) lines.emplace_back(NextLine(begin));

    section = Trim(section);
    key = Trim(key);
    const std::string entry_line = std::string(key) + "=" + std::string(value);
    const uint32_t s = FindSection(section);
    if (s == kMissing) {
      // A new section is set off from the lines before it, as a person would write it.
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry_line);
    } else if (const Entry* e = FindEntry(section, key)) {
      // Keep the line as the file spells it up to its "=", so only the value changes.
      std::string& line = lines[e->line];
      line.erase(line.find('=') + 1);
      line += value;
    } else {
      const std::size_t after = sections_[s].last_entry_line + 1;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), entry_line);
    }

    std::string text;
    std::size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 2;
    text.reserve(size);
    for (const std::string& line : lines) {
      text += line;
      text += "\r\n";
    }
    return text;
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr uint32_t kMissing = 0xFFFFFFFEu;

  static uint32_t KeyHash(uint32_t section, std::string_view key) {
    return HashIgnoringCase(key, section * 0x9E3779B9u);
  }

  std::string_view Text(Span span) const {
    return std::string_view(bytes_).substr(span.begin, span.size);
  }
  Span SpanOf(std::string_view text) const {
    return {static_cast<uint32_t>(text.data() - bytes_.data()), static_cast<uint32_t>(text.size())};
  }

  // The number of lines NextLine will hand out.
  std::size_t LineCount() const {
    if (bytes_.empty()) return 0;
    std::size_t count = bytes_.back() == '\n' ? 0 : 1;
    // Eight bytes at a time: the lines are short, so a search per line costs more.
    constexpr uint64_t kOnes = 0x0101010101010101u, kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    const char* at = bytes_.data();
    const char* const end = at + bytes_.size();
    for (; end - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, at, sizeof word);
      const uint64_t x = word ^ (kOnes * '\n');  // line breaks become zero bytes
      const uint64_t zero_bytes = ~(((x & kLow7) + kLow7) | x | kLow7);  // their top bits
      count += static_cast<std::size_t>(std::popcount(zero_bytes));
    }
    for (; at != end; ++at) count += *at == '\n' ? 1 : 0;
    return count;
  }

  // The line starting at begin without its line break; begin moves to the next line.
  std::string_view NextLine(std::size_t& begin) const {
    std::size_t end = begin;
    while (end < bytes_.size() && bytes_[end] != '\n') ++end;
    const std::size_t next = end == bytes_.size() ? end : end + 1;
    if (end > begin && bytes_[end - 1] == '\r') --end;
    const std::string_view line = std::string_view(bytes_).substr(begin, end - begin);
    begin = next;
    return line;
  }

  void RebuildKeys(std::size_t capacity) {
    by_key_.Reset(capacity);
    for (uint32_t e = 0; e < entries_.size(); ++e) {
      const Entry& entry = entries_[e];
      by_key_.Probe(KeyHash(entry.section, Text(entry.key)), [](uint32_t) { return false; }) =
          e + 1;
    }
  }

  void RebuildNames(std::size_t capacity) {
    by_name_.Reset(capacity);
    for (uint32_t s = 0; s < sections_.size(); ++s) {
      const std::string_view name = Text(sections_[s].name);
      by_name_.Probe(HashIgnoringCase(name, 0), [](uint32_t) { return false; }) = s + 1;
    }
  }

  uint32_t FindSection(std::string_view section) {
    section = Trim(section);
    const uint32_t slot = by_name_.Probe(HashIgnoringCase(section, 0), [&](uint32_t s) {
      return SameIgnoringCase(Text(sections_[s].name), section);
    });
    return slot == 0 ? kMissing : slot - 1;
  }

  const Entry* FindEntry(std::string_view section, std::string_view key) {
    if (cursor_section_ == kNone || section != cursor_request_) {
      cursor_request_.assign(section);
      cursor_section_ = FindSection(section);
      cursor_entry_ = kNone;
    }
    if (cursor_section_ == kMissing) return nullptr;
    key = Trim(key);
    const uint32_t next = cursor_entry_ + 1;  // 0 after kNone
    if (next < entries_.size() && entries_[next].section == cursor_section_ &&
        SameIgnoringCase(Text(entries_[next].key), key)) {
      cursor_entry_ = next;
      return &entries_[next];
    }
    const uint32_t slot = by_key_.Probe(KeyHash(cursor_section_, key), [&](uint32_t e) {
      return entries_[e].section == cursor_section_ && SameIgnoringCase(Text(entries_[e].key), key);
    });
    if (slot == 0) return nullptr;
    cursor_entry_ = slot - 1;
    return &entries_[slot - 1];
  }

  void ForgetCursor() {
    cursor_section_ = kNone;
    cursor_entry_ = kNone;
  }

  std::string bytes_;
  std::vector<Section> sections_;    // in file order, first occurrences
  PrefaultedVector<Entry> entries_;  // in file order, the first of each key of a section
  FlatIndex by_name_;                // sections_ index + 1, by name in any letter case
  FlatIndex by_key_;                 // entries_ index + 1, by section and key in any letter case
  std::string cursor_request_;
  uint32_t cursor_section_ = kNone, cursor_entry_ = kNone;
};

// Reads a whole regular file straight into bytes; false when it is missing, not a regular file,
// unreadable or too large for a profile.
bool ReadWholeFile(const std::string& path, std::string& bytes, FileStamp& stamp) {
  // O_NONBLOCK: a pipe placed where the file should be must not stop the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) <= kMaxProfileBytes;
  if (ok) {
    stamp = StampOf(st);
    // One byte more than the size, so that a file that grew since fstat is seen to have grown.
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
      if (filled == bytes.size()) {
        if (bytes.size() > kMaxProfileBytes) {
          ok = false;
          break;
        }
        bytes.resize(std::min(bytes.size() * 2, kMaxProfileBytes + 1));
      }
      const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      filled += static_cast<std::size_t>(n);
    }
    bytes.resize(ok ? filled : 0);
  }
  ::close(fd);
  return ok;
}

bool IsRecent(const FileStamp& stamp) {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t newest = std::max(stamp.mtime_sec, stamp.ctime_sec);
  return newest + kRacySeconds >= static_cast<int64_t>(now.tv_sec);
}

// File systems whose changes made by other computers never reach inotify.
bool IsNetworkFileSystem(const std::string& dir) {
  struct statfs fs;
  if (::statfs(dir.c_str(), &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x5346414F:  // AFS
    case 0x00C36400:  // Ceph
    case 0x73757245:  // Coda
    case 0x7461636F:  // OCFS2
    case 0x01161970:  // GFS2
    case 0x564C:      // NCP
      return true;
    default:
      return false;
  }
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

struct TIniFile::CachedProfile {
  std::string path;
  bool loaded = false;    // profile holds the file as it was with stamp
  bool recent = true;     // the file was changed too recently for its stamp to be trusted
  bool verified = false;  // watched since it was loaded and no change reported: serve directly
  Profile profile;
  FileStamp stamp;
  int dir_watch = -1, file_watch = -1;
};

namespace {

using CachedProfile = TIniFile::CachedProfile;

// Every profile object of the process shares this: the parsed files by path. Before each read a
// cheap check proves the file unchanged: no inotify event since it was loaded, or, where inotify
// cannot watch, an equal stamp (inode, size, times to the nanosecond) of a file not changed
// within the last seconds.
class ProfileCache {
 public:
  std::mutex mutex;
  uint64_t generation = 1;

  std::shared_ptr<CachedProfile> Lookup(const std::string& path) {
    auto it = entries_.find(path);
    if (it != entries_.end()) return it->second;
    if (entries_.size() >= kMaxCachedPaths) Reset();
    auto entry = std::make_shared<CachedProfile>();
    entry->path = path;
    entries_.emplace(path, entry);
    return entry;
  }

  // Marks every profile with reported changes as unverified; one non-blocking read when quiet.
  void CollectChanges() {
    if (inotify_fd_ < 0) return;
    if (epoll_fd_ >= 0) {
      // Asking epoll whether events are queued costs far less than a read that finds none.
      struct epoll_event ready;
      if (::epoll_wait(epoll_fd_, &ready, 1, 0) == 0) return;
    }
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(inotify_fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      for (ssize_t pos = 0; pos < n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + pos);
        pos += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        for (auto& [path, entry] : entries_) {
          const bool overflow = (event->mask & IN_Q_OVERFLOW) != 0;
          if (overflow || entry->dir_watch == event->wd || entry->file_watch == event->wd) {
            entry->verified = false;
          }
          if (event->mask & IN_IGNORED) {
            if (entry->dir_watch == event->wd) entry->dir_watch = -1;
            if (entry->file_watch == event->wd) entry->file_watch = -1;
          }
        }
      }
    }
  }

  // Brings the entry up to the file's present state; false when there is no readable file.
  bool Refresh(CachedProfile& entry) {
    // The watches come first, so that a change after this point is reported.
    const bool watched = Watch(entry);
    struct stat st;
    if (::stat(entry.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      Forget(entry);
      return false;
    }
    if (entry.loaded && !entry.recent && StampOf(st) == entry.stamp) {
      entry.verified = watched;
      return true;
    }
    std::string bytes;
    FileStamp stamp;
    if (!ReadWholeFile(entry.path, bytes, stamp)) {
      Forget(entry);
      return false;
    }
    if (!entry.loaded || bytes != entry.profile.Bytes()) entry.profile.Parse(std::move(bytes));
    entry.stamp = stamp;
    entry.loaded = true;
    entry.recent = IsRecent(stamp);
    entry.verified = watched;
    return true;
  }

  // After this process wrote the file: the text is known, the next read checks the stamp.
  void Written(CachedProfile& entry, std::string text, const FileStamp& stamp) {
    entry.profile.Parse(std::move(text));
    entry.stamp = stamp;
    entry.loaded = true;
    entry.recent = true;
    entry.verified = false;
  }

 private:
  void Forget(CachedProfile& entry) {
    entry.loaded = false;
    entry.verified = false;
    entry.profile.Parse({});
  }

  bool Watch(CachedProfile& entry) {
    if (inotify_fd_ < 0 && !inotify_unavailable_) {
      inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      inotify_unavailable_ = inotify_fd_ < 0;
      if (inotify_fd_ >= 0) {
        epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
        struct epoll_event interest = {};
        interest.events = EPOLLIN;
        if (epoll_fd_ >= 0 && ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, inotify_fd_, &interest) != 0) {
          ::close(epoll_fd_);
          epoll_fd_ = -1;
        }
      }
    }
    if (inotify_fd_ < 0) return false;
    const std::string dir = DirectoryOf(entry.path);
    if (IsNetworkFileSystem(dir)) return false;
    constexpr uint32_t kDirectoryEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                          IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                          IN_MOVE_SELF;
    // Watching the file as well covers a path that is a symbolic link into another directory.
    constexpr uint32_t kFileEvents =
        IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
    // IN_MASK_ADD: a directory watched for one path and as the file of another keeps both masks.
    entry.dir_watch = ::inotify_add_watch(inotify_fd_, dir.c_str(), kDirectoryEvents | IN_MASK_ADD);
    entry.file_watch =
        ::inotify_add_watch(inotify_fd_, entry.path.c_str(), kFileEvents | IN_MASK_ADD);
    return entry.dir_watch >= 0 && entry.file_watch >= 0;
  }

  void Reset() {
    entries_.clear();
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    if (inotify_fd_ >= 0) ::close(inotify_fd_);
    epoll_fd_ = -1;
    inotify_fd_ = -1;
    ++generation;
  }

  std::unordered_map<std::string, std::shared_ptr<CachedProfile>> entries_;
  int inotify_fd_ = -1;
  int epoll_fd_ = -1;  // holds inotify_fd_, to ask cheaply whether it has events
  bool inotify_unavailable_ = false;
};

// Never destroyed: profile objects may still be released while the program exits.
ProfileCache& Cache() {
  static ProfileCache* cache = new ProfileCache;
  return *cache;
}

// Texts that would change other lines of the file than the one entry: a line break anywhere, an
// "=" in the key, a "]" in the section name, a key that would read as a section header.
bool BreaksLayout(std::string_view section, std::string_view key, std::string_view value) {
  auto has_break = [](std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
  };
  if (has_break(section) || has_break(key) || has_break(value)) return true;
  if (section.find(']') != std::string_view::npos) return true;
  if (key.find('=') != std::string_view::npos) return true;
  const std::string_view trimmed_key = Trim(key);
  return !trimmed_key.empty() && trimmed_key.front() == '[';
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

TIniFile::~TIniFile() {
  FlushProfile();
}

const std::string& TIniFile::FileName() const {
  return path_;
}

TIniFile::CachedProfile& TIniFile::Cached() {
  ProfileCache& cache = Cache();
  if (!cached_ || cached_generation_ != cache.generation) {
    cached_ = cache.Lookup(path_);
    cached_generation_ = cache.generation;
  }
  return *cached_;
}

std::string TIniFile::ReadValue(std::string_view section, std::string_view key,
                                std::string_view default_value) {
  try {
    ProfileCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    CachedProfile& entry = Cached();
    cache.CollectChanges();
    if (!entry.verified && !cache.Refresh(entry)) return std::string(default_value);
    const std::optional<std::string_view> found = entry.profile.Find(section, key);
    if (!found) return std::string(default_value);
    return std::string(found->substr(0, kMaxValueLength));
  } catch (const std::exception&) {
    // A read never fails; a file that cannot be taken in reads as absent.
    return std::string(default_value);
  }
}

void TIniFile::WriteValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string failure = "Unable to write to " + path_;
  if (BreaksLayout(section, key, value)) throw EIniFileException(failure);

  ProfileCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  CachedProfile& entry = Cached();

  // Start from the file as it is now, whoever wrote it last.
  Profile current;
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) {
    std::string bytes;
    FileStamp stamp;
    if (!ReadWholeFile(path_, bytes, stamp)) throw EIniFileException(failure);
    current.Parse(std::move(bytes));
  } else if (errno != ENOENT) {
    throw EIniFileException(failure);
  }

  std::string text = current.WithValue(section, key, value);
  const ReplaceOutcome outcome = ReplaceFileContents(path_, text);
  if (outcome.failure != ReplaceOutcome::Failure::none) throw EIniFileException(failure);
  cache.Written(entry, std::move(text), outcome.written);
}

void TIniFile::FlushProfile() {
  // Every write reaches the disk before WriteValue returns; nothing is left to flush.
}

}  // namespace velotrax
