// The profile (INI) file: single values read and written by section and key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velotrax {

class TIniFile {
 public:
  explicit TIniFile(std::string path);  // opens nothing
  ~TIniFile();                          // runs FlushProfile
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  // The path given at construction.
  const std::string& FileName() const;
  // The value (cut to 2047 characters), or default_value when file, section or key is missing.
  std::string ReadValue(std::string_view section, std::string_view key,
                        std::string_view default_value);
  // Stores the value, creating the file when needed; throws EIniFileException.
  void WriteValue(std::string_view section, std::string_view key, std::string_view value);
  // Makes sure every write of this path has reached the file; creates nothing.
  void FlushProfile();

  // The parsed file as kept for every profile object of the same path.
  struct KeptProfile;

 private:
  KeptProfile& Kept();

  std::string path_;
  std::shared_ptr<KeptProfile> kept_;  // found once, looked up again after the cache starts afresh
  uint64_t kept_generation_ = 0;
  bool has_read_ = false;  // the first read looks at the file, however recent the last look
};

}  // namespace velotrax
