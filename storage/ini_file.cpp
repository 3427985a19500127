#include "storage/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "base/errors.h"
#include "storage/files.h"
#include "storage/profile_syntax.h"
#include "storage/system_error.h"

namespace velotrax {

namespace {

// The longest value a read hands back.
constexpr std::size_t kMaxValueLength = 2047;

// A file changed this recently may change again without a visible change of its time stamps
// (coarse file-system clocks), so its contents are compared instead of trusted.
constexpr int64_t kRacySeconds = 2;

// More paths than any run of the program uses; past it the cache starts afresh.
constexpr std::size_t kMaxKeptPaths = 64;

constexpr uint32_t kNone = ParsedProfile::kNone;

int64_t NowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool ChangedRecently(const FileStamp& stamp) {
  using namespace std::chrono;
  const int64_t now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  return std::max(stamp.mtime_sec, stamp.ctime_sec) + kRacySeconds >= now;
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
  const std::string_view trimmed_key = TrimBlanks(key);
  return !trimmed_key.empty() && trimmed_key.front() == '[';
}

}  // namespace

// One path's file as last seen. It is looked at again at most once per millisecond, after every
// file this process writes and on the first read through each profile object, so that reads cost
// no system call while every read still sees this process's writes at once and another
// program's a millisecond later.
struct TIniFile::KeptProfile {
  std::string path;
  bool present = false;  // profile holds the file as it was with stamp
  bool recent = false;   // changed too recently for its stamp to be trusted
  ParsedProfile profile;
  FileStamp stamp;
  int64_t checked_ms = -1;
  uint64_t checked_replaces = 0;  // FileReplaceCount() at the last look
  // Readers ask for one section's keys in file order: the last section and entry found.
  bool cursor_valid = false;
  std::string cursor_name;
  uint32_t cursor_section = kNone, cursor_entry = kNone;

  void Check(bool even_if_just_checked) {
    const int64_t now = NowMilliseconds();
    const uint64_t replaces = FileReplaceCount();
    if (!even_if_just_checked && now == checked_ms && replaces == checked_replaces) return;
    checked_ms = now;
    checked_replaces = replaces;
    FileStamp on_disk;
    if (!StampOfRegularFile(path, on_disk)) return Keep(false, {}, {});
    if (present && !recent && on_disk == stamp) return;
    std::string bytes;
    FileStamp read_stamp;
    if (ReadRegularFile(path, ParsedProfile::kMaxBytes, bytes, read_stamp) != nullptr) {
      return Keep(false, {}, {});
    }
    if (present && bytes == profile.Bytes()) {
      stamp = read_stamp;
      recent = ChangedRecently(stamp);
      return;
    }
    Keep(true, std::move(bytes), read_stamp);
  }

  void Keep(bool file_present, std::string bytes, const FileStamp& file_stamp) {
    present = file_present;
    profile = ParsedProfile(std::move(bytes));
    stamp = file_stamp;
    recent = ChangedRecently(stamp);
    cursor_valid = false;
  }

  // False when the file, the section or the key is missing.
  bool Find(std::string_view section, std::string_view key, std::string_view& value) {
    if (!present) return false;
    if (!cursor_valid || section != cursor_name) {
      cursor_name.assign(section);
      cursor_section = profile.FindSection(section);
      cursor_entry = kNone;
      cursor_valid = true;
    }
    if (cursor_section == kNone) return false;
    const uint32_t e = profile.FindEntry(cursor_section, key, cursor_entry);
    if (e == kNone) return false;
    cursor_entry = e;
    value = profile.Text(profile.Entries()[e].value);
    return true;
  }
};

namespace {

using KeptProfile = TIniFile::KeptProfile;

// Every profile object of the process shares the kept files, by path.
struct KeptProfiles {
  std::mutex mutex;
  uint64_t generation = 1;
  std::unordered_map<std::string, std::shared_ptr<KeptProfile>> by_path;

  std::shared_ptr<KeptProfile> Lookup(const std::string& path) {
    auto it = by_path.find(path);
    if (it != by_path.end()) return it->second;
    if (by_path.size() >= kMaxKeptPaths) {
      by_path.clear();
      ++generation;
    }
    auto kept = std::make_shared<KeptProfile>();
    kept->path = path;
    by_path.emplace(path, kept);
    return kept;
  }
};

// Never destroyed: profile objects may still be released while the program exits.
KeptProfiles& Kept() {
  static KeptProfiles* kept = new KeptProfiles;
  return *kept;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

TIniFile::~TIniFile() {
  FlushProfile();
}

const std::string& TIniFile::FileName() const {
  return path_;
}

TIniFile::KeptProfile& TIniFile::Kept() {
  KeptProfiles& all = velotrax::Kept();
  if (!kept_ || kept_generation_ != all.generation) {
    kept_ = all.Lookup(path_);
    kept_generation_ = all.generation;
  }
  return *kept_;
}

std::string TIniFile::ReadValue(std::string_view section, std::string_view key,
                                std::string_view default_value) {
  try {
    std::lock_guard<std::mutex> lock(velotrax::Kept().mutex);
    KeptProfile& kept = Kept();
    // A new profile object sees the file as it is now, like a file opened anew.
    kept.Check(!has_read_);
    has_read_ = true;
    std::string_view value;
    if (!kept.Find(section, key, value)) return std::string(default_value);
    return std::string(value.substr(0, kMaxValueLength));
  } catch (const std::exception&) {
    // A read never fails; a file that cannot be taken in reads as absent.
    return std::string(default_value);
  }
}

void TIniFile::WriteValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string failure = "Unable to write to " + path_;
  if (BreaksLayout(section, key, value)) throw EIniFileException(failure);

  std::lock_guard<std::mutex> lock(velotrax::Kept().mutex);
  KeptProfile& kept = Kept();
  // Another process writing the same file waits until this value is in, and this one until
  // theirs is: each starts from the file with the other's values.
  const DirectoryWriteLock turn(path_);
  // Start from the file as it is now, whoever wrote it last.
  std::string bytes;
  FileStamp stamp;
  if (const char* call = ReadRegularFile(path_, ParsedProfile::kMaxBytes, bytes, stamp)) {
    if (errno != ENOENT) throw WithSystemCall<EIniFileException>(failure, errno, call);
    bytes.clear();
  }
  std::string text = ParsedProfile(std::move(bytes)).WithValue(section, key, value);
  const ReplaceOutcome outcome = ReplaceFileContents(path_, text);
  if (outcome.failure != ReplaceOutcome::Failure::none) {
    throw WithSystemCall<EIniFileException>(failure, outcome.error, outcome.call);
  }
  kept.Keep(true, std::move(text), outcome.written);
  kept.checked_ms = NowMilliseconds();
  kept.checked_replaces = FileReplaceCount();
}

void TIniFile::FlushProfile() {
  // Every write reaches the disk before WriteValue returns; nothing is left to flush.
}

}  // namespace velotrax
