// An ordered list of text lines that can be saved as a CRLF text file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax {

class TStringList {
 public:
  // Removes every line.
  void ClearLines();
  // Adds a line at the end, exactly as given.
  void AppendLine(std::string line);
  // Writes every line followed by CR LF, replacing the file atomically; throws EFCreateError,
  // EWriteError.
  void SaveLinesToFile(const std::string& path) const;
  std::size_t Count() const;
  const std::string& operator[](std::size_t index) const;

 private:
  std::vector<std::string> lines_;
};

// Writes bytes as the whole new file at path, replacing any old one atomically; throws
// EFCreateError, EWriteError.
void SaveBytesToFile(const std::string& path, std::string_view bytes);

}  // namespace velotrax
