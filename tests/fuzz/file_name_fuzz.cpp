// The file-name field's text rules: the name a text stands for, the check of a name, and the
// quotes the field adds around a name with blanks, which reading the name removes again.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "storage/file_names.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

namespace {

bool Exists(const std::string& path, mode_t kind) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

// The first argument of a text read as a command line; a NUL ends the text.
std::string FirstArgument(const std::string& s) {
  const std::string text = s.substr(0, s.find('\0'));
  size_t i = 0;
  auto below_bang = [](char c) { return static_cast<unsigned char>(c) < '!'; };
  for (;;) {
    while (i < text.size() && below_bang(text[i])) ++i;
    if (text.compare(i, 2, "\"\"") != 0) break;
    i += 2;
  }
  std::string argument;
  bool quoted = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '"') {
      quoted = !quoted;
    } else if (below_bang(text[i]) && !quoted) {
      break;
    } else {
      argument += text[i];
    }
  }
  return argument;
}

std::string NormalizeModel(const std::string& s) {
  if (Exists(s, S_IFREG)) return s;
  if (Exists(s, S_IFDIR)) return s.ends_with('/') ? s : s + "/";
  return FirstArgument(s);
}

// Here "/" separates directories, so it is allowed; a NUL would cut the name the system sees.
bool AcceptableModel(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c == '<' || c == '>' || c == '"' || c == '?' || c == '*' || c == '|' || c == '\0') {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string normalized = NormalizeFileText(text);
  Check(normalized == NormalizeModel(text), "NormalizeFileText differs from the rules", text);
  Check(FileNameAcceptable(text) == AcceptableModel(text), "FileNameAcceptable", text);

  const std::string quoted = QuoteIfSpaced(text);
  const bool wants_quotes = text.find(' ') != std::string::npos && !text.starts_with('"');
  Check(quoted == (wants_quotes ? "\"" + text + "\"" : text), "QuoteIfSpaced", text);

  // A name the field quoted reads back as the name: blanks are the only bytes below "!" in it,
  // it holds no quote, and it names nothing on disk.
  bool plain = !text.empty() && text.find('"') == std::string::npos;
  for (char c : text) plain = plain && (static_cast<unsigned char>(c) > ' ' || c == ' ');
  if (plain && text.find(' ') != std::string::npos && !Exists(quoted, S_IFREG) &&
      !Exists(quoted, S_IFDIR)) {
    Check(NormalizeFileText(quoted) == text, "a quoted name does not read back", text);
  }
  return 0;
}
