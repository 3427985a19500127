#include "storage/string_list.h"

#include "base/errors.h"
#include "storage/files.h"
#include "storage/system_error.h"

namespace velotrax {

void TStringList::ClearLines() {
  lines_.clear();
}

void TStringList::AppendLine(std::string line) {
  lines_.push_back(std::move(line));
}

void TStringList::SaveLinesToFile(const std::string& path) const {
  std::size_t size = 0;
  for (const std::string& line : lines_) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }

  SaveBytesToFile(path, text);
}

void SaveBytesToFile(const std::string& path, std::string_view bytes) {
  const ReplaceOutcome outcome = ReplaceFileContents(path, bytes);
  switch (outcome.failure) {
    case ReplaceOutcome::Failure::none:
      return;
    case ReplaceOutcome::Failure::create:
      throw WithSystemCall<EFCreateError>(
          "Cannot create file \"" + path + "\". " + SystemErrorText(outcome.error), outcome.error,
          outcome.call);
    case ReplaceOutcome::Failure::write:
      throw WithSystemCall<EWriteError>("Stream write error", outcome.error, outcome.call);
  }
}

std::size_t TStringList::Count() const {
  return lines_.size();
}

const std::string& TStringList::operator[](std::size_t index) const {
  return lines_[index];
}

}  // namespace velotrax
