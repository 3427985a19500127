// Starting a child process for the runner: the system's error texts, the program lookup, and on
// POSIX descriptors that close themselves, the pipes and the start itself (vfork, then exec),
// with errors that keep the error code and the failing call.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velotrax::child {

// The system's text for an error code (errno, or a Win32 error code on Windows):
// "System Error.  Code: %d.\r\n%s".
std::string SystemErrorText(int code);
// Throws EOSCallError with the system's text, the code and the call.
[[noreturn]] void RaiseOSError(const char* call, int code);
// A bare program name looked up along PATH the way a shell (on Windows: SearchPathW) would;
// empty when not found.
std::string SearchPath(const std::string& name);

#ifndef _WIN32

// One descriptor, closed when its holder goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept;
  ~Fd() { Reset(); }
  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset();

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read, write;
};

// A pipe whose ends are closed at exec; throws EOSCallError.
Pipe MakePipe();
// The same descriptor moved to 3 or above, so that it survives the dup2 onto 0, 1 and 2.
Fd AboveStandardStreams(Fd fd);
// Waits for the child's end and reaps it: its exit code (128 + N when killed by signal N), 0
// when the wait fails.
uint32_t ReapChild(pid_t pid);

// Everything the child's side of the start needs, made before it.
struct StartPlan {
  std::string application;
  std::string directory;
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  std::vector<char*> envp;  // empty: inherit
  int nice_increment = 0;   // negative: raised where the system allows it, else left as it is
  int processor = -1;       // the one processor the child runs on; -1: any
  // Not empty: the child starts a session of its own and gives its scheduling group (autogroup)
  // this nice value, as text.
  std::string autogroup_nice;
  bool new_process_group = false;
  bool new_session = false;
  int stdin_read = -1, stdout_write = -1;  // -1: not redirected
};

// Starts the child; throws EOSCallError (the child of a failed exec is reaped).
pid_t SpawnChild(const StartPlan& plan);
#endif

}  // namespace velotrax::child
