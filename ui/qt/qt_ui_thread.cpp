#include "ui/qt/qt_ui_thread.h"

#include <QMetaObject>
#include <QThread>

#include "ui/qt/guard.h"

namespace velotrax {

QtUiThread::QtUiThread() = default;

QtUiThread::~QtUiThread() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopped = true;
  }
  shared_->done.notify_all();
  // context_ goes next; Qt discards the calls still queued for it.
}

void QtUiThread::Post(std::function<void()> fn) {
  std::lock_guard lock(shared_->mutex);
  if (shared_->stopped) return;
  QMetaObject::invokeMethod(
      &context_, [fn = std::move(fn)] { RunGuarded(fn); }, Qt::QueuedConnection);
}

void QtUiThread::Call(std::function<void()> fn) {
  if (QThread::currentThread() == context_.thread()) {
    RunGuarded(fn);
    return;
  }
  // Not Qt::BlockingQueuedConnection: a worker waiting there could never be released if the
  // window went away first. Here the destructor wakes every waiter.
  auto finished = std::make_shared<bool>(false);
  std::shared_ptr<Shared> shared = shared_;
  std::unique_lock lock(shared->mutex);
  if (shared->stopped) return;
  QMetaObject::invokeMethod(
      &context_,
      [fn = std::move(fn), finished, shared] {
        RunGuarded(fn);
        {
          std::lock_guard inner(shared->mutex);
          *finished = true;
        }
        shared->done.notify_all();
      },
      Qt::QueuedConnection);
  shared->done.wait(lock, [&] { return *finished || shared->stopped; });
}

}  // namespace velotrax
