// A plain event loop for tests and headless tools: the thread that made it is the UI thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "process/ui_thread.h"

namespace velotrax {

class EventLoop : public UiThread {
 public:
  EventLoop();
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Queues fn for the loop; callable from any thread.
  void Post(std::function<void()> fn) override;
  // Runs fn on the loop's thread and waits for it; runs it inline on the loop's own thread.
  // An exception from fn reaches the caller.
  void Call(std::function<void()> fn) override;
  // Runs queued functions on the calling thread until done() or the timeout; returns done().
  // An exception from a queued function leaves RunUntil; the loop stays usable.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs what is queued now, without waiting; returns how many functions ran.
  std::size_t RunPending();
  // True on the thread that made the loop.
  bool IsUiThread() const;

 private:
  bool RunOne(std::unique_lock<std::mutex>& lock);

  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace velotrax
