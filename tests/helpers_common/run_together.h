// Runs pieces of a test in processes of their own, released at the same moment, for the tests of
// what two programs do to one file.
#pragma once
#ifndef _WIN32  // no fork on Windows

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace velotrax::testing {

// True when each task returned, in its own process, without an exception.
inline bool RunTogether(const std::vector<std::function<void()>>& tasks) {
  int gate[2];
  if (::pipe(gate) != 0) return false;
  std::vector<pid_t> children;
  for (const std::function<void()>& task : tasks) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      char ignored;
      ::close(gate[1]);
      while (::read(gate[0], &ignored, 1) > 0) {
      }
      try {
        task();
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // the end of the pipe lets every child go
  bool all_done = true;
  for (const pid_t pid : children) {
    int status = 0;
    all_done &= pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0;
  }
  return all_done;
}

}  // namespace velotrax::testing

#endif
