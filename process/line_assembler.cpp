#include "process/line_assembler.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velotrax {

namespace {

// The bytes that end a run of ordinary text.
constexpr std::array<bool, 256> MakeSpecialTable() {
  std::array<bool, 256> table{};
  for (unsigned char c : {0x00, 0x07, 0x08, 0x09, 0x0A, 0x0D}) table[c] = true;
  return table;
}
constexpr std::array<bool, 256> kSpecial = MakeSpecialTable();

constexpr char kTabSpaces[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

}  // namespace

void LineAssembler::ResetLine() {
  line_.clear();
  cursor_ = 0;
  starts_on_new_line_ = true;
}

void LineAssembler::Write(const char* bytes, std::size_t k) {
  // Like a terminal that does not wrap, a line keeps its first kMaxLineLength columns: output
  // that never ends a line must not take the memory with it.
  if (cursor_ >= kMaxLineLength) return;
  k = std::min(k, kMaxLineLength - cursor_);
  if (k == 0) return;
  if (line_.size() < cursor_ + k) line_.resize(cursor_ + k);
  std::memcpy(line_.data() + cursor_, bytes, k);
  cursor_ += k;
}

void LineAssembler::Emit(bool line_ended) {
  if (!OwnerData) {
    if (starts_on_new_line_ || lines_.empty()) {
      lines_.push_back(line_);
    } else {
      lines_.back() = line_;
    }
  }
  if (OnRead) OnRead(line_, starts_on_new_line_);
  if (line_ended) {
    line_.clear();
    cursor_ = 0;
  }
  starts_on_new_line_ = line_ended;
}

void LineAssembler::AssemblePiece(const char* bytes, std::size_t n) {
  if (OnRawRead) OnRawRead(std::string_view(bytes, n));
  const char* run = bytes;
  const char* const end = bytes + n;
  for (const char* p = bytes; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (!kSpecial[c]) continue;
    Write(run, static_cast<std::size_t>(p - run));
    run = p + 1;
    switch (c) {
      case 0x00:
      case 0x07:
        // NUL and BEL show as blanks.
        Write(" ", 1);
        break;
      case 0x08:
        if (cursor_ > 0) --cursor_;
        break;
      case 0x09:
        Write(kTabSpaces, sizeof kTabSpaces);
        break;
      case 0x0A:
        Emit(true);
        break;
      case 0x0D:
        cursor_ = 0;
        break;
    }
  }
  Write(run, static_cast<std::size_t>(end - run));
  Emit(false);
}

void LineAssembler::FinishOutput() {
  if (!line_.empty()) Emit(false);
}

}  // namespace velotrax
