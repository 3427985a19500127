// The parts of storage/files.h that are the same on every system; files_posix.cpp and
// files_win32.cpp hold what the system does.
#include "storage/files.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "storage/files_native.h"

namespace velotrax {

int directory_lock_wait_ms = 5000;

namespace {
std::atomic<uint64_t> replace_count{0};
}  // namespace

uint64_t FileReplaceCount() noexcept {
  return replace_count.load(std::memory_order_relaxed);
}

ReplaceOutcome ReplaceFileContents(const std::string& path, std::string_view bytes) noexcept {
  replace_count.fetch_add(1, std::memory_order_relaxed);
  try {
    return ReplaceWithSystemCalls(path, bytes);
  } catch (...) {
    ReplaceOutcome outcome;
    outcome.failure = ReplaceOutcome::Failure::create;
    outcome.error = ENOMEM;
    outcome.call = "malloc";
    return outcome;
  }
}

std::string AsciiLowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::string SystemErrorText(int error) {
  std::string text = std::strerror(error);
  while (!text.empty()) {
    const char last = text.back();
    if (last != ' ' && last != '\t' && last != '\r' && last != '\n' && last != '.') break;
    text.pop_back();
  }
  return text;
}

}  // namespace velotrax
