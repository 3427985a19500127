// The Win32 back end of storage/user_workspace.h: the user's local application data folder, as
// %LOCALAPPDATA% names it (the system's own record of the folder when the variable is missing).
#include <windows.h>
// After windows.h, which the shell's header needs.
#include <shlobj.h>

#include <cerrno>
#include <cwchar>

#include "base/errors.h"
#include "base/win32_text.h"
#include "storage/files.h"
#include "storage/files_native.h"
#include "storage/user_workspace.h"

namespace velotrax {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::wstring& dir, int error) {
  throw EOSError("Cannot " + what + " the workspace folder \"" + win32::Utf8(dir) +
                     "\": " + SystemErrorText(error),
                 error);
}

// "C:\..." or "\\server\share\...": a folder that does not depend on the working directory.
bool IsAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
         (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && path[0] == path[1]);
}

std::wstring LocalAppData() {
  const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  std::wstring value(size, L'\0');
  const DWORD length =
      size == 0 ? 0 : ::GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), size);
  value.resize(length < size ? length : 0);
  if (IsAbsolute(value)) return value;
  wchar_t* known = nullptr;
  if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK) value = known;
  ::CoTaskMemFree(known);
  if (!IsAbsolute(value)) {
    throw EOSError("The workspace folder is unknown: LOCALAPPDATA names no folder", ENOENT);
  }
  return value;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Every missing folder of path after its drive or share, which must be there.
void MakeDirectories(const std::wstring& path) {
  std::size_t end = path.find_first_of(L"\\/", path[1] == L':' ? 3 : 2);
  if (path[1] != L':') end = path.find_first_of(L"\\/", end + 1);  // past \\server\share
  for (;; end = path.find_first_of(L"\\/", end + 1)) {
    const std::wstring part = path.substr(0, end);
    // A folder already there may refuse a new one with another error than "exists" (a drive's
    // root, a folder this user may not write in): what counts is that it is a folder.
    if (!::CreateDirectoryW(part.c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      if (!IsDirectory(part)) {
        Fail("create", part, error == ERROR_ALREADY_EXISTS ? ENOTDIR : ErrnoOfSystemError(error));
      }
    }
    if (end == std::wstring::npos) return;
  }
}

}  // namespace

std::string UserWorkspaceDirectory() {
  std::wstring dir = LocalAppData();
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  return win32::Utf8(dir + L"Velotrax");
}

std::string EnterUserWorkspace() {
  const std::string dir = UserWorkspaceDirectory();
  const std::wstring wide = win32::Wide(dir);
  MakeDirectories(wide + L"\\roms");
  if (!::SetCurrentDirectoryW(wide.c_str())) {
    Fail("enter", wide, ErrnoOfSystemError(::GetLastError()));
  }
  return dir;
}

}  // namespace velotrax
