// Runs pieces of a test in processes of their own, released at the same moment, for the tests of
// what two programs do to one file. Windows has no fork: there each piece runs on a thread of its
// own, which takes the per-folder writer lock (a named mutex) like another program would.
#pragma once

#include <functional>
#include <vector>
#ifdef _WIN32
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velotrax::testing {

// True when each task returned, in its own process (thread on Windows), without an exception.
inline bool RunTogether(const std::vector<std::function<void()>>& tasks) {
#ifdef _WIN32
  std::mutex mutex;
  std::condition_variable gate;
  bool open = false;
  std::atomic<bool> all_done{true};
  std::vector<std::thread> threads;
  for (const std::function<void()>& task : tasks) {
    threads.emplace_back([&, task] {
      {
        std::unique_lock<std::mutex> lock(mutex);
        gate.wait(lock, [&] { return open; });
      }
      try {
        task();
      } catch (...) {
        all_done = false;
      }
    });
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
  }
  gate.notify_all();
  for (std::thread& thread : threads) thread.join();
  return all_done;
#else
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
#endif
}

}  // namespace velotrax::testing
