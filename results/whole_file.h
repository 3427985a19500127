// Reading a whole file of bounded size, as the exports and the shared files are read.
#pragma once

#include <cstddef>
#include <string>

namespace velotrax::results {

// Reads a whole regular file of at most max_bytes, never waiting on a pipe or a device put in
// its place; throws EResultsError naming the file and saying why it cannot.
std::string ReadWholeFile(const std::string& path, std::size_t max_bytes);

}  // namespace velotrax::results
