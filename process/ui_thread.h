// How worker threads reach the user-interface thread: the only way the runner touches it.
#pragma once

#include <functional>

namespace velotrax {

class UiThread {
 public:
  virtual ~UiThread() = default;
  // Queues fn to run on the UI thread and returns at once.
  virtual void Post(std::function<void()> fn) = 0;
  // Runs fn on the UI thread; the calling worker waits until it has run.
  virtual void Call(std::function<void()> fn) = 0;
};

}  // namespace velotrax
