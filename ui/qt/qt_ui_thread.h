// The runner's way onto Qt's UI thread: posted and blocking calls, each run inside the guard.
#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "process/ui_thread.h"

namespace velotrax {

class QtUiThread final : public UiThread {
 public:
  // The thread that makes the object is its UI thread.
  QtUiThread();
  // Drops calls not yet run and releases every worker waiting in Call.
  ~QtUiThread() override;
  QtUiThread(const QtUiThread&) = delete;
  QtUiThread& operator=(const QtUiThread&) = delete;

  // Queues fn on the UI thread's event loop; it runs inside the guard, also in nested loops.
  void Post(std::function<void()> fn) override;
  // Runs fn on the UI thread inside the guard and waits for it; inline when already there.
  void Call(std::function<void()> fn) override;

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool stopped = false;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  QObject context_;
};

}  // namespace velotrax
