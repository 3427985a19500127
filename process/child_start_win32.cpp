// The Windows side of process/child_start.h: the system's texts for its error codes and the
// program lookup. Texts and names are UTF-8 inside the program and UTF-16 for the system.
#include <windows.h>

#include <string>

#include "process/child_start.h"
#include "process/create_process.h"
#include "process/win32_text.h"

namespace velotrax::child {

// The system's own text for the code, as the user reads it in the error box: without the line
// break and the full stop the system ends it with (the box adds its own full stop).
std::string SystemErrorText(int code) {
  if (code == 0) return "A call to an OS function failed";
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide(text != nullptr ? text : L"", length);
  if (text != nullptr) ::LocalFree(text);
  while (!wide.empty() && (wide.back() <= L' ' || wide.back() == L'.')) wide.pop_back();
  return "System Error.  Code: " + std::to_string(code) + ".\r\n" + win32::Utf8(wide);
}

[[noreturn]] void RaiseOSError(const char* call, int code) {
  throw EOSCallError(SystemErrorText(code), code, call);
}

// Along the directories of PATH, with the extension ".exe" when the name has none.
std::string SearchPath(const std::string& name) {
  std::wstring wide_name;
  if (!win32::Wide(name, wide_name) || wide_name.empty()) return {};
  std::wstring found(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::SearchPathW(nullptr, wide_name.c_str(), L".exe",
                                       static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0) return {};
    if (length < found.size()) {
      found.resize(length);
      break;
    }
    found.resize(length);
  }
  // A folder of that name is no program.
  const DWORD attributes = ::GetFileAttributesW(found.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  return win32::Utf8(found);
}

}  // namespace velotrax::child
