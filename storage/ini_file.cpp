#include "storage/ini_file.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/errors.h"
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

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void LowerInto(std::string_view text, std::string& out) {
  out.assign(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

struct Entry {
  std::string key;    // lower-cased
  std::string value;  // blanks and enclosing quotes removed
  std::size_t line = 0;
};

struct Section {
  std::size_t last_entry_line = 0;  // of the section's first occurrence; its header when empty
  std::vector<Entry> entries;       // in file order, the first of each key only
  std::unordered_map<std::string, std::size_t> by_key;  // lower-cased key -> entries index
};

// One profile file, parsed. A repeated section adds its new keys to the first one; a repeated
// key keeps its first value.
class Profile {
 public:
  void Parse(std::string bytes) {
    bytes_ = std::move(bytes);
    lines_.clear();
    sections_.clear();
    by_name_.clear();
    ForgetCursor();
    std::size_t begin = 0;
    while (begin < bytes_.size()) {
      std::size_t end = bytes_.find('\n', begin);
      const std::size_t next = end == std::string::npos ? bytes_.size() : end + 1;
      if (end == std::string::npos) end = bytes_.size();
      if (end > begin && bytes_[end - 1] == '\r') --end;
      lines_.push_back({begin, end - begin});
      begin = next;
    }

    std::size_t current = kNone;
    bool first_occurrence = false;
    std::string lowered;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string_view text = Trim(Line(i));
      if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos) {
          LowerInto(Trim(text.substr(1, close - 1)), lowered);
          auto [it, inserted] = by_name_.try_emplace(lowered, sections_.size());
          if (inserted) {
            sections_.emplace_back();
            sections_.back().last_entry_line = i;
          }
          current = it->second;
          first_occurrence = inserted;
          continue;
        }
      }
      const std::size_t equals = text.find('=');
      if (current == kNone || equals == std::string_view::npos) continue;
      Section& section = sections_[current];
      LowerInto(Trim(text.substr(0, equals)), lowered);
      auto [it, inserted] = section.by_key.try_emplace(lowered, section.entries.size());
      if (inserted) {
        section.entries.push_back(
            {lowered, std::string(Unquote(Trim(text.substr(equals + 1)))), i});
      }
      if (first_occurrence) section.last_entry_line = i;
    }
  }

  const std::string& Bytes() const { return bytes_; }

  // The entry, or nullptr. Readers ask for one section's keys in file order, so the entry after
  // the last one found is tried before the hash lookup.
  const Entry* Find(std::string_view section, std::string_view key) {
    if (cursor_section_ == kNone || section != cursor_request_) {
      cursor_request_.assign(section);
      LowerInto(Trim(section), scratch_);
      const auto s = by_name_.find(scratch_);
      cursor_section_ = s == by_name_.end() ? kMissing : s->second;
      cursor_entry_ = kNone;
    }
    if (cursor_section_ == kMissing) return nullptr;
    const Section& s = sections_[cursor_section_];
    LowerInto(Trim(key), scratch_);
    const std::size_t next = cursor_entry_ + 1;  // 0 after kNone
    if (next < s.entries.size() && s.entries[next].key == scratch_) {
      cursor_entry_ = next;
      return &s.entries[next];
    }
    const auto e = s.by_key.find(scratch_);
    if (e == s.by_key.end()) return nullptr;
    cursor_entry_ = e->second;
    return &s.entries[e->second];
  }

  // The file's text after storing value under section and key; every other line is kept.
  std::string WithValue(std::string_view section, std::string_view key, std::string_view value) {
    std::vector<std::string> lines;
    lines.reserve(lines_.size() + 3);
    for (std::size_t i = 0; i < lines_.size(); ++i) lines.emplace_back(Line(i));

    section = Trim(section);
    key = Trim(key);
    const std::string entry_line = std::string(key) + "=" + std::string(value);
    std::string lowered;
    LowerInto(section, lowered);
    const auto s = by_name_.find(lowered);
    if (s == by_name_.end()) {
      // A new section is set off from the lines before it, as a person would write it.
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry_line);
    } else if (const Entry* e = Find(section, key)) {
      // Keep the line as the file spells it up to its "=", so only the value changes.
      std::string& line = lines[e->line];
      line.erase(line.find('=') + 1);
      line += value;
    } else {
      const std::size_t after = sections_[s->second].last_entry_line + 1;
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
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-2);

  struct Span {
    std::size_t begin, size;
  };
  std::string_view Line(std::size_t i) const {
    return std::string_view(bytes_).substr(lines_[i].begin, lines_[i].size);
  }
  void ForgetCursor() {
    cursor_section_ = kNone;
    cursor_entry_ = kNone;
  }

  std::string bytes_;
  std::vector<Span> lines_;
  std::vector<Section> sections_;                         // in file order, first occurrences
  std::unordered_map<std::string, std::size_t> by_name_;  // lower-cased name -> sections_ index
  std::string cursor_request_, scratch_;
  std::size_t cursor_section_ = kNone, cursor_entry_ = kNone;
};

// Reads a whole regular file; false when it is missing, not a regular file or unreadable.
bool ReadWholeFile(const std::string& path, std::string& bytes, FileStamp& stamp) {
  // O_NONBLOCK: a pipe placed where the file should be must not stop the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    stamp = StampOf(st);
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
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
    const Entry* found = entry.profile.Find(section, key);
    if (found == nullptr) return std::string(default_value);
    return found->value.substr(0, kMaxValueLength);
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
