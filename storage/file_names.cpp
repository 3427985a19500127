#include "storage/file_names.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "storage/files.h"

namespace velotrax {

bool DirectoryIsPresent(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

bool EntryExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Only "*" and "?" are wildcards in a file name; every other byte matches itself.
std::string FnmatchPattern(const std::string& name) {
  std::string pattern;
  for (char c : name) {
    if (c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

bool IsBelowBang(char c) {
  return static_cast<unsigned char>(c) <= ' ' && c != '\0';
}

}  // namespace

std::string NormalizeFileText(const std::string& s) {
  if (FileIsPresent(s)) return s;
  if (DirectoryIsPresent(s)) return s.back() == '/' ? s : s + "/";
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
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string StoredInitialDir(const std::string& dir) {
  std::string stored = dir;
  while (stored.size() > 1 && stored.back() == '/') stored.pop_back();
  return stored;
}

std::string FindFirstEntryName(const std::string& path) {
  if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos) return {};
  const std::string name = NamePart(path);
  if (name.find_first_of("*?") == std::string::npos) {
    return EntryExists(path) ? name : std::string();
  }
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
}

}  // namespace velotrax
