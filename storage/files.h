// Small file-system helpers used for the program's paths.
#pragma once

#include <string>
#include <string_view>

namespace velotrax {

// True when path names an existing regular file; never throws.
bool FileIsPresent(const std::string& path) noexcept;

// The text with "A" to "Z" lower-cased and every other byte unchanged.
std::string AsciiLowerCase(std::string_view text);

// The process's working directory, absolute, without a trailing "/" except at the root.
std::string QueryCurrentDirectory();

}  // namespace velotrax
