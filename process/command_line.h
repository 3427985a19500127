// A child's command line as the runner hands it over: one text, split into words the way a
// Windows program splits its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velotrax {

// Splits a command line into words the Windows way: blanks and tabs separate, double quotes
// group, 2n backslashes before a quote give n backslashes, 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

}  // namespace velotrax
