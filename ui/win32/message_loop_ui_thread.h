// The runner's way onto the Win32 UI thread: a hidden message-only window whose queue the message
// loop drains, also inside a modal window or a message box.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "process/ui_thread.h"

namespace velotrax::win32ui {

class MessageLoopUiThread final : public UiThread {
 public:
  // The thread that makes the object is its UI thread; throws EOSError without a window.
  MessageLoopUiThread();
  // Drops calls not yet run and releases every worker waiting in Call.
  ~MessageLoopUiThread() override;
  MessageLoopUiThread(const MessageLoopUiThread&) = delete;
  MessageLoopUiThread& operator=(const MessageLoopUiThread&) = delete;

  // Queues fn for the UI thread and returns at once; fn runs inside the guard.
  void Post(std::function<void()> fn) override;
  // Runs fn on the UI thread inside the guard and waits for it; inline when already there.
  void Call(std::function<void()> fn) override;

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::deque<std::function<void()>> queue;
    bool stopped = false;
    HWND window = nullptr;
  };
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static void Drain(Shared& shared);

  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  DWORD thread_id_;
};

}  // namespace velotrax::win32ui
