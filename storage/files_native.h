// Inside storage/ only: what the system back ends (files_posix.cpp, files_win32.cpp) provide to
// the shared part of files.cpp.
#pragma once

#include <string>
#include <string_view>

#include "storage/files.h"

namespace velotrax {

// ReplaceFileContents without the count of calls; may throw std::bad_alloc.
ReplaceOutcome ReplaceWithSystemCalls(const std::string& path, std::string_view bytes);

#ifdef _WIN32
// path (UTF-8) as the system's UTF-16 name; false with errno EILSEQ when it is not UTF-8.
bool WideName(const std::string& path, std::wstring& wide);
// A UTF-16 name from the system as UTF-8.
std::string Utf8Name(const std::wstring& wide);
// The errno value that stands for a Win32 error code.
int ErrnoOfSystemError(unsigned long code);
#endif

}  // namespace velotrax
