// Inside emulator/ only: what the system back ends (windows_executable_posix.cpp,
// windows_executable_win32.cpp) provide to the shared part of windows_executable.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velotrax {

// A program file opened to read its headers: only a regular file is opened, and opening never
// waits on a named pipe or device put in its place. Closed when it goes.
class ProgramFile {
 public:
  explicit ProgramFile(const std::string& path) noexcept;
  ~ProgramFile();
  ProgramFile(const ProgramFile&) = delete;
  ProgramFile& operator=(const ProgramFile&) = delete;

  // True when a regular file was opened.
  bool IsOpen() const { return open_; }
  // The file's size in bytes.
  uint64_t Size() const { return size_; }
  // Reads exactly n bytes at offset; false on a short read or an error.
  bool ReadAt(void* buffer, std::size_t n, uint64_t offset) const noexcept;

 private:
  bool open_ = false;
  uint64_t size_ = 0;
  intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
};

// path made absolute against the working directory; unchanged when it is absolute or empty.
std::string AbsoluteProgramPath(const std::string& path);

}  // namespace velotrax
