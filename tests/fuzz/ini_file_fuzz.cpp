// The profile file against its rules: a file of arbitrary bytes reads as the syntax says, and
// after any sequence of writes every written value reads back, every other line of the file is
// still there in its order, and no temporary file is left beside it.
#include <dirent.h>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "storage/ini_file.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

std::string ValueAsRead(std::string_view raw) {
  std::string_view value = Trim(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, 2047));
}

// The file as a list of lines, in the syntax's terms.
struct ProfileModel {
  std::vector<std::string> lines;

  static ProfileModel FromBytes(std::string_view bytes) {
    ProfileModel model;
    while (!bytes.empty()) {
      const size_t end = bytes.find('\n');
      std::string_view line = bytes.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      model.lines.emplace_back(line);
      if (end == std::string_view::npos) break;
      bytes.remove_prefix(end + 1);
    }
    return model;
  }

  std::string Bytes() const {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    return bytes;
  }

  static std::optional<std::string> HeaderName(std::string_view line) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[') return std::nullopt;
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Lower(Trim(text.substr(1, close - 1)));
  }

  // Index of the first line of the file that is an entry of key in the section.
  std::optional<size_t> Find(std::string_view section, std::string_view key) const {
    const std::string wanted_section = Lower(Trim(section)), wanted_key = Lower(Trim(key));
    std::optional<std::string> current;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (auto name = HeaderName(lines[i])) {
        current = name;
        continue;
      }
      const size_t equals = lines[i].find('=');
      if (!current || *current != wanted_section || equals == std::string::npos) continue;
      if (Lower(Trim(Trim(lines[i]).substr(0, Trim(lines[i]).find('=')))) == wanted_key) return i;
    }
    return std::nullopt;
  }

  std::string Read(std::string_view section, std::string_view key,
                   std::string_view default_value) const {
    const std::optional<size_t> at = Find(section, key);
    if (!at) return std::string(default_value);
    return ValueAsRead(std::string_view(lines[*at]).substr(lines[*at].find('=') + 1));
  }

  void Write(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    const std::string entry = std::string(key) + "=" + std::string(value);
    if (const std::optional<size_t> at = Find(section, key)) {
      lines[*at].erase(lines[*at].find('=') + 1);
      lines[*at] += value;
      return;
    }
    const std::string wanted = Lower(section);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (HeaderName(lines[i]) != wanted) continue;
      size_t last = i;
      for (size_t j = i + 1; j < lines.size() && !HeaderName(lines[j]); ++j) {
        if (lines[j].find('=') != std::string::npos) last = j;
      }
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), entry);
      return;
    }
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(entry);
  }
};

// Texts that would make the entry spill into other lines; the profile refuses to write them.
bool BreaksLayout(std::string_view section, std::string_view key, std::string_view value) {
  for (std::string_view text : {section, key, value}) {
    if (text.find_first_of("\r\n") != std::string_view::npos) return true;
  }
  return section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
         Trim(key).starts_with("[");
}

const std::string& Dir() {
  // Never destroyed: the clean-up at exit still needs it.
  static const std::string& dir = *new std::string([] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/velotrax-fuzz-XXXXXX"
                                                        : "/tmp/velotrax-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) reference::Fail("mkdtemp");
    atexit([] {
      unlink((Dir() + "/profile.ini").c_str());
      rmdir(Dir().c_str());
    });
    return pattern;
  }());
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) reference::Fail("cannot write the starting file");
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    reference::Fail("short write of the starting file");
  }
  close(fd);
}

size_t EntriesInDir(const std::string& dir) {
  size_t count = 0;
  DIR* d = opendir(dir.c_str());
  while (const dirent* entry = readdir(d)) {
    if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..") ++count;
  }
  closedir(d);
  return count;
}

// Section and key names that often meet those of the starting file or of earlier writes.
std::string Name(FuzzedDataProvider& provider) {
  static const char* const kCommon[] = {"0",      "velotrax", "VeloTrax", " cpu ", "cpu",
                                        "pacman", "pacmana",  "",         "1",     "Selected"};
  if (provider.ConsumeBool()) return kCommon[provider.ConsumeIntegralInRange<int>(0, 9)];
  return provider.ConsumeRandomLengthString(12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string path = Dir() + "/profile.ini";
  const bool file_exists = provider.ConsumeBool();
  const std::string start = provider.ConsumeRandomLengthString(4096);
  unlink(path.c_str());
  if (file_exists) WriteFile(path, start);
  ProfileModel model = ProfileModel::FromBytes(file_exists ? start : "");

  TIniFile profile(path);
  Check(profile.FileName() == path, "FileName is not the path given");
  std::map<std::pair<std::string, std::string>, std::string> written;
  bool wrote = false;
  constexpr std::string_view kDefault = "\x01-default";
  for (int step = 0; step < 12 && provider.remaining_bytes() > 0; ++step) {
    const std::string section = Name(provider), key = Name(provider);
    if (provider.ConsumeBool()) {
      Check(profile.ReadValue(section, key, kDefault) == model.Read(section, key, kDefault),
            "ReadValue differs from the syntax", section + "|" + key);
      continue;
    }
    const std::string value = provider.ConsumeRandomLengthString(64);
    const std::string before = ReadFile(path);
    const bool existed = access(path.c_str(), F_OK) == 0;
    if (BreaksLayout(section, key, value)) {
      try {
        profile.WriteValue(section, key, value);
        reference::Fail("a value that would break the file was written", value);
      } catch (const EIniFileException& e) {
        Check(e.what() == "Unable to write to " + path, "profile write error message", e.what());
      }
      Check(ReadFile(path) == before && (access(path.c_str(), F_OK) == 0) == existed,
            "a refused write changed the file");
      continue;
    }
    profile.WriteValue(section, key, value);
    model.Write(section, key, value);
    wrote = true;
    written[{Lower(Trim(section)), Lower(Trim(key))}] = ValueAsRead(value);
    Check(ReadFile(path) == model.Bytes(), "the file after a write is not the one expected",
          ReadFile(path));
    Check(EntriesInDir(Dir()) == 1, "a temporary file was left beside the profile");
    TIniFile other(path);
    for (const auto& [where, expected] : written) {
      Check(profile.ReadValue(where.first, where.second, kDefault) == expected,
            "a written value does not read back", where.first + "|" + where.second);
      Check(other.ReadValue(where.first, where.second, kDefault) == expected,
            "another profile object of the path reads another value", where.second);
    }
  }
  if (!wrote && !file_exists) {
    Check(access(path.c_str(), F_OK) != 0, "reading created the file");
  }
  return 0;
}
