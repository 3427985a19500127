#include "process/event_loop.h"

#include <algorithm>
#include <exception>
#include <memory>

namespace velotrax {

namespace {
constexpr std::chrono::milliseconds kDoneRecheck{5};
}  // namespace

EventLoop::EventLoop() : owner_(std::this_thread::get_id()) {}

EventLoop::~EventLoop() = default;

bool EventLoop::IsUiThread() const {
  return std::this_thread::get_id() == owner_;
}

void EventLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(fn));
  }
  wake_.notify_all();
}

void EventLoop::Call(std::function<void()> fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  // The worker's own record of the call: it outlives the queued function either way.
  struct Pending {
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    std::exception_ptr error;
  };
  auto pending = std::make_shared<Pending>();
  Post([pending, fn = std::move(fn)] {
    std::exception_ptr error;
    try {
      fn();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(pending->mutex);
      pending->done = true;
      pending->error = error;
    }
    pending->done_signal.notify_all();
  });
  std::unique_lock<std::mutex> lock(pending->mutex);
  pending->done_signal.wait(lock, [&] { return pending->done; });
  if (pending->error) std::rethrow_exception(pending->error);
}

bool EventLoop::RunOne(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  std::function<void()> fn = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  struct Relock {
    std::unique_lock<std::mutex>& lock;
    ~Relock() { lock.lock(); }
  } relock{lock};
  fn();
  return true;
}

std::size_t EventLoop::RunPending() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::size_t available = queue_.size();
  std::size_t ran = 0;
  // Only what was queued before: a function that posts again does not keep us here.
  while (ran < available && RunOne(lock)) ++ran;
  return ran;
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    lock.unlock();
    if (done()) return true;
    lock.lock();
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (RunOne(lock)) continue;
    // done() may hang on something outside the loop: look at it again now and then.
    const auto next_look = std::min(deadline, std::chrono::steady_clock::now() + kDoneRecheck);
    wake_.wait_until(lock, next_look, [&] { return !queue_.empty(); });
  }
  lock.unlock();
  return done();
}

}  // namespace velotrax
