#include "storage/file_names.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <memory>
#include <string_view>

#include "storage/files.h"
#include "storage/files_native.h"

namespace velotrax {

namespace {

#ifdef _WIN32
// Where a directory part ends: a backslash, a slash, or the colon of a drive ("C:name").
constexpr const char* kSeparators = "\\/:";
constexpr char kSeparator = '\\';

DWORD AttributesOf(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !WideName(path, wide)) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(wide.c_str());
}
#else
constexpr const char* kSeparators = "/";
constexpr char kSeparator = '/';
#endif

bool EntryExists(const std::string& path) {
#ifdef _WIN32
  return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
#endif
}

#ifndef _WIN32
// Only "*" and "?" are wildcards in a file name; every other byte matches itself.
std::string FnmatchPattern(const std::string& name) {
  std::string pattern;
  for (char c : name) {
    if (c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern;
}
#endif

bool IsBelowBang(char c) {
  return static_cast<unsigned char>(c) <= ' ' && c != '\0';
}

}  // namespace

bool DirectoryIsPresent(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

std::string NormalizeFileText(const std::string& s) {
  if (FileIsPresent(s)) return s;
  if (DirectoryIsPresent(s)) {
    return std::string_view(kSeparators).find(s.back()) != std::string_view::npos ? s
                                                                                  : s + kSeparator;
  }
  // The first argument of s read as a command line; a NUL ends the text as it would in C.
  const std::size_t end = std::min(s.find('\0'), s.size());
  std::size_t i = 0;
  for (;;) {
    while (i < end && IsBelowBang(s[i])) ++i;
    if (i + 1 < end && s[i] == '"' && s[i + 1] == '"') {
      i += 2;
    } else {
      break;
    }
  }
  std::string argument;
  while (i<end&& static_cast<unsigned char>(s[i])> ' ') {
    if (s[i] == '"') {
      ++i;
      while (i < end && s[i] != '"') argument += s[i++];
      if (i < end) ++i;
    } else {
      argument += s[i++];
    }
  }
  return argument;
}

bool FileNameAcceptable(const std::string& s) {
  // "/" separates directories here, so a full path is fine; a NUL would silently cut the name
  // the system sees, so it is refused with the characters no file name may hold.
  return !s.empty() && s.find_first_of(std::string_view("<>\"?*|\0", 7)) == std::string::npos;
}

std::string QuoteIfSpaced(const std::string& s) {
  if (s.find(' ') != std::string::npos && s.front() != '"') return "\"" + s + "\"";
  return s;
}

std::string DirectoryPart(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirectoryWithSeparator(const std::string& dir) {
#ifdef _WIN32
  // "C:\" already ends with one.
  if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) return dir;
#endif
  return dir + kSeparator;
}

std::string StoredInitialDir(const std::string& dir) {
  std::string stored = dir;
#ifdef _WIN32
  // The root of a drive keeps its backslash: "C:" alone is the drive's working directory.
  while (stored.size() > 1 && (stored.back() == '\\' || stored.back() == '/') &&
         !(stored.size() == 3 && stored[1] == ':')) {
    stored.pop_back();
  }
#else
  while (stored.size() > 1 && stored.back() == '/') stored.pop_back();
#endif
  return stored;
}

std::string FindFirstEntryName(const std::string& path) {
  if (path.empty() || std::string_view(kSeparators).find(path.back()) != std::string_view::npos ||
      path.find('\0') != std::string::npos) {
    return {};
  }
  const std::string name = NamePart(path);
  if (name.find_first_of("*?") == std::string::npos) {
    return EntryExists(path) ? name : std::string();
  }
#ifdef _WIN32
  // The system's own matching (without regard to case, as everywhere on Windows); the first name
  // in byte order, as below.
  std::wstring pattern;
  if (!WideName(path, pattern)) return {};
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  std::string first;
  bool any = false;
  do {
    const std::string entry_name = Utf8Name(found.cFileName);
    if (entry_name == "." || entry_name == "..") continue;
    if (!any || entry_name < first) first = entry_name;
    any = true;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return first;
#else
  const std::string dir = DirectoryPart(path);
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.empty() ? "." : dir.c_str()),
                                              ::closedir);
  if (!listing) return {};
  // The directory's own order is arbitrary here; the first name in byte order is the stable
  // choice.
  const std::string pattern = FnmatchPattern(name);
  std::string first;
  bool found = false;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (::fnmatch(pattern.c_str(), entry_name.c_str(), 0) != 0) continue;
    if (!found || entry_name < first) first = entry_name;
    found = true;
  }
  return first;
#endif
}

}  // namespace velotrax
