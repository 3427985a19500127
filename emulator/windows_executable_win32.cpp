// The Windows side of emulator/windows_executable.h: a Windows emulator is started directly.
// Names are UTF-8 inside the program and converted to UTF-16 at the calls.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>

#include "base/win32_text.h"
#include "emulator/program_file.h"
#include "emulator/windows_executable.h"
#include "process/create_process.h"

namespace velotrax {

namespace {

using win32::Utf8;
using win32::Wide;

// True for a name in the named pipes' namespace ("\\.\pipe\..."): such a thing is known by its
// name, since opening it would connect to the program that serves it.
bool IsPipeName(const std::wstring& wide) {
  if (wide.size() < 9) return false;
  std::wstring head = wide.substr(0, 9);
  for (wchar_t& c : head) {
    if (c == L'/') c = L'\\';
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return head == L"\\\\.\\pipe\\" || head == L"\\\\?\\pipe\\";
}

// Opens what stands at path for its attributes only, never its contents: a named pipe or a
// device is not read or waited on. INVALID_HANDLE_VALUE when nothing can be opened there.
HANDLE OpenToLookAt(const std::wstring& wide, DWORD access) {
  if (wide.empty() || IsPipeName(wide)) return INVALID_HANDLE_VALUE;
  // A directory is known by its attributes, before anything is opened.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// True for a handle of a file on a disk, no device, pipe or directory.
bool IsRegular(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

ProgramFile::ProgramFile(const std::string& path) noexcept {
  try {
    // Only attributes first: the type is known before a pipe or device would be read.
    const HANDLE look = OpenToLookAt(Wide(path), FILE_READ_ATTRIBUTES);
    if (look == INVALID_HANDLE_VALUE) return;
    const bool regular = IsRegular(look);
    ::CloseHandle(look);
    if (!regular) return;
    // Something else may take its place in between: the file opened is looked at again.
    const HANDLE handle = OpenToLookAt(Wide(path), GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    if (!IsRegular(handle) || !::GetFileSizeEx(handle, &size)) {
      ::CloseHandle(handle);
      return;
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    size_ = static_cast<uint64_t>(size.QuadPart);
    open_ = true;
  } catch (...) {
    // No memory for the name: no file.
  }
}

ProgramFile::~ProgramFile() {
  if (open_) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ProgramFile::ReadAt(void* buffer, std::size_t n, uint64_t offset) const noexcept {
  if (!open_) return false;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), bytes + done, piece, &got, &at) ||
        got == 0) {
      return false;
    }
    done += got;
  }
  return true;
}

std::string AbsoluteProgramPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return path;
  const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return Utf8(full);
}

void RefuseIrregularProgramFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  bool irregular = IsPipeName(wide) || (attributes != INVALID_FILE_ATTRIBUTES &&
                                        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  if (!irregular) {
    // A device ("NUL", "COM1") answers CreateFileW too, at once; only a file on a disk is a
    // program. A pipe whose instances are all taken says it is busy. A missing path is left to
    // the start, which reports it.
    const HANDLE look = OpenToLookAt(wide, FILE_READ_ATTRIBUTES);
    if (look == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_PIPE_BUSY) return;
    irregular = look == INVALID_HANDLE_VALUE || !IsRegular(look);
    if (look != INVALID_HANDLE_VALUE) ::CloseHandle(look);
  }
  if (!irregular) return;
  // What CreateProcessW itself says of such a file, said before anything starts it.
  wchar_t* text = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = text != nullptr ? Utf8(text) : std::string("Access is denied.");
  if (text != nullptr) ::LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r')) words.pop_back();
  throw EOSCallError("System Error.  Code: 5.\r\n" + words, ERROR_ACCESS_DENIED,
                     "GetFileAttributesW");
}

WineTools FindWineTools() {
  // Windows runs Windows programs itself.
  return {};
}

EmulatorInvocation ForThisPlatform(const EmulatorInvocation& pass) {
  // A Windows emulator is started directly, as every other program here.
  RefuseIrregularProgramFile(AbsoluteProgramPath(pass.ApplicationName));
  return pass;
}

}  // namespace velotrax
