#include "ui/win32/message_loop_ui_thread.h"

#include "base/errors.h"
#include "ui/win32/guard.h"

namespace velotrax::win32ui {

namespace {

constexpr UINT kDrainMessage = WM_APP + 1;
constexpr wchar_t kClassName[] = L"VelotraxUiThread";

}  // namespace

MessageLoopUiThread::MessageLoopUiThread() : thread_id_(::GetCurrentThreadId()) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClassName;
  ::RegisterClassExW(&window_class);  // a second object finds the class registered already
  shared_->window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      window_class.hInstance, nullptr);
  if (shared_->window == nullptr) {
    throw EOSError("The UI thread's message window could not be created",
                   static_cast<int>(::GetLastError()));
  }
  ::SetWindowLongPtrW(shared_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(shared_.get()));
}

MessageLoopUiThread::~MessageLoopUiThread() {
  HWND window;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopped = true;
    shared_->queue.clear();
    window = shared_->window;
    shared_->window = nullptr;
  }
  shared_->done.notify_all();
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
}

void MessageLoopUiThread::Post(std::function<void()> fn) {
  std::lock_guard lock(shared_->mutex);
  if (shared_->stopped) return;
  shared_->queue.push_back(std::move(fn));
  // One message per call: each message runs at most one call, so a call that opens a modal
  // window leaves the others to the nested loop's own messages.
  ::PostMessageW(shared_->window, kDrainMessage, 0, 0);
}

void MessageLoopUiThread::Call(std::function<void()> fn) {
  if (::GetCurrentThreadId() == thread_id_) {
    RunGuarded(fn);
    return;
  }
  auto finished = std::make_shared<bool>(false);
  std::shared_ptr<Shared> shared = shared_;
  std::unique_lock lock(shared->mutex);
  if (shared->stopped) return;
  shared->queue.push_back([fn = std::move(fn), finished, shared] {
    RunGuarded(fn);
    {
      std::lock_guard inner(shared->mutex);
      *finished = true;
    }
    shared->done.notify_all();
  });
  ::PostMessageW(shared->window, kDrainMessage, 0, 0);
  shared->done.wait(lock, [&] { return *finished || shared->stopped; });
}

void MessageLoopUiThread::Drain(Shared& shared) {
  std::function<void()> fn;
  {
    std::lock_guard lock(shared.mutex);
    if (shared.queue.empty()) return;
    fn = std::move(shared.queue.front());
    shared.queue.pop_front();
  }
  RunGuarded(fn);
}

LRESULT CALLBACK MessageLoopUiThread::WindowProc(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  if (message == kDrainMessage) {
    auto* shared = reinterpret_cast<Shared*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (shared != nullptr) Drain(*shared);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace velotrax::win32ui
