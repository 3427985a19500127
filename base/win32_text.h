// On Windows only: texts are UTF-8 inside the program and UTF-16 for the system; every layer
// converts them at its calls through these two functions.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace velotrax::win32 {

// text (UTF-8) as UTF-16; false when it is not UTF-8 or holds a NUL, which would cut it short.
inline bool Wide(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX || text.find('\0') != std::string_view::npos) return false;
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return true;
}

// The same, empty when the text cannot be converted (no file has such a name).
inline std::wstring Wide(std::string_view text) {
  std::wstring wide;
  Wide(text, wide);
  return wide;
}

// A UTF-16 text of the system as UTF-8.
inline std::string Utf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

}  // namespace velotrax::win32
