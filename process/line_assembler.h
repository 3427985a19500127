// Turns a child's raw output into text lines the way a simple terminal shows them: carriage
// return, backspace and tab move the cursor; a line is reported at every line feed and at the end
// of every piece.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velotrax {

class LineAssembler {
 public:
  // The longest line kept; bytes written beyond it are dropped.
  static constexpr std::size_t kMaxLineLength = 1 << 20;

  // The whole current line; StartsOnNewLine false means it replaces the line reported last.
  std::function<void(std::string_view S, bool StartsOnNewLine)> OnRead;
  // Every piece, unchanged, before it is assembled.
  std::function<void(std::string_view S)> OnRawRead;
  // True: keep no line list of our own.
  bool OwnerData = true;

  // Empties the current line and starts a new one; the line list stays.
  void ResetLine();
  // Assembles one piece of output; an exception from a handler leaves at once.
  void AssemblePiece(const char* bytes, std::size_t n);
  // The output has ended: reports an unfinished last line once more.
  void FinishOutput();
  // The line list kept when OwnerData is false.
  const std::vector<std::string>& Lines() const { return lines_; }
  // The current line and the column the next byte goes to.
  const std::string& CurrentLine() const { return line_; }
  std::size_t Cursor() const { return cursor_; }

 private:
  void Write(const char* bytes, std::size_t k);
  void Emit(bool line_ended);

  std::string line_;
  std::size_t cursor_ = 0;
  bool starts_on_new_line_ = true;
  std::vector<std::string> lines_;
};

}  // namespace velotrax
