// The file-name field's text rules, usable without a window; paths are byte strings.
#pragma once

#include <string>

namespace velotrax {

// s itself when it names a file, s + "/" when it names a directory, else its first argument as a
// command line reads it (quotes removed).
std::string NormalizeFileText(const std::string& s);
// Not empty and free of the characters a file name cannot hold here: < > " ? * |
bool FileNameAcceptable(const std::string& s);
// s in double quotes when it holds a blank and does not start with a quote; else s.
std::string QuoteIfSpaced(const std::string& s);
// Name as stored on disk of the first directory entry matching path (wildcards allowed in its
// last part); empty when nothing matches or path ends in "/".
std::string FindFirstEntryName(const std::string& path);
// Everything up to and including the last "/" of path (empty when there is none); on Windows
// the last "\", "/" or drive colon.
std::string DirectoryPart(const std::string& path);
// Everything after the last "/" of path (on Windows: "\", "/" or drive colon).
std::string NamePart(const std::string& path);
// dir with the system's separator appended ("/"; "\" on Windows, where "C:\" keeps its one).
std::string DirectoryWithSeparator(const std::string& dir);
// True when path names an existing directory.
bool DirectoryIsPresent(const std::string& path);
// A directory as the field remembers it: no trailing "/", except the root "/".
std::string StoredInitialDir(const std::string& dir);

}  // namespace velotrax
