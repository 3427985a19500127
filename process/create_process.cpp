#include "process/create_process.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "base/errors.h"
#include "process/line_assembler.h"
#include "process/run_shared.h"

namespace velotrax {

namespace {

// How long the worker gives a UI thread that is taking output to make room before it drops what
// is queued: a window held busy never holds up the child for long. A thread that keeps up can
// still be kept from running this long on a loaded machine; a run that must lose nothing
// (KeepAllOutput) therefore waits as long as it takes.
constexpr std::chrono::milliseconds kOverflowGrace{20};

// Appends one read to the output queue; the queue doubles up to its limit and then drops what
// it holds.
void AppendToQueue(RunShared& run, const char* bytes, std::size_t n) {
  const std::size_t count = run.queue.size();
  while (run.capacity < count + n && run.capacity <= kQueueLastDoubling) run.capacity *= 2;
  if (run.capacity < count + n) run.queue.clear();
  run.queue.insert(run.queue.end(), bytes, bytes + n);
}

void CheckEnvironment(const std::vector<std::string>& environment) {
  for (const std::string& line : environment) {
    if (line.empty()) {
      throw EJclError("String list passed to StringsToMultiSz cannot contain empty strings.");
    }
  }
}

}  // namespace

std::string TrimControlAndBlanks(std::string_view text) {
  auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

Queued QueueOutput(const std::shared_ptr<RunShared>& shared, const char* bytes, std::size_t n,
                   std::size_t post_at) {
  RunShared& run = *shared;
  std::unique_lock<std::mutex> lock(run.mutex);
  if (run.ui == nullptr) return Queued::discarded;
  if (run.queue.size() + n > kQueueLimit) {
    PostService(shared);
    run.worker_waiting = true;
    auto has_room = [&] { return run.ui == nullptr || run.queue.size() + n <= kQueueLimit; };
    if (run.keep_all_output) {
      run.room.wait(lock, has_room);
    } else {
      run.room.wait_for(lock, kOverflowGrace, has_room);
    }
    run.worker_waiting = false;
    if (run.ui == nullptr) return Queued::discarded;
  }
  AppendToQueue(run, bytes, n);
  if (run.queue.size() < post_at) return Queued::held;
  PostService(shared);
  return Queued::posted;
}

void MarkRunEnded(const std::shared_ptr<RunShared>& run) {
  std::lock_guard<std::mutex> lock(run->mutex);
  run->ended = true;
  if (run->ui != nullptr) PostService(run);
}

// Thrown from the runner's own handler wrappers when a handler has detached, restarted or
// destroyed the runner: it leaves the line assembly at once and is caught where the output is
// handed out, so that nothing of the old run follows.
struct RunLeft {};

struct TJvCreateProcess::Impl : std::enable_shared_from_this<Impl> {
  explicit Impl(UiThread& ui_thread) : ui(ui_thread) {}

  UiThread& ui;
  TJvCreateProcess* runner = nullptr;  // null once the runner is destroyed
  // The runner's handlers live here: a handler that destroys its runner goes on running, and its
  // closure lives until the hand-out that called it lets go of this state.
  std::function<void(TJvCreateProcess&, uint32_t)> on_terminate;
  std::function<void(TJvCreateProcess&, std::string_view, bool)> on_read;
  std::function<void(TJvCreateProcess&, std::string_view)> on_raw_read;
  std::shared_ptr<RunShared> current;  // the watched run
  std::shared_ptr<ChildSide> child;    // the last child started
  RunShared* delivering = nullptr;     // the run whose events are being handed out
  bool service_missed = false;         // a hand-out came while another one was under way
  LineAssembler assembler;
};

// The UI-thread side. Every posted call first checks that its run is still the runner's
// current one: after finish, Detach or destruction it does nothing. While handlers run, it holds
// the runner's shared state and, once a handler has returned, touches nothing else: the runner
// itself may be gone by then.
class RunHandlers {
 public:
  using Impl = TJvCreateProcess::Impl;

  // Hands out what the worker queued (one batch, so that a child that never stops writing
  // cannot keep the window from its other work) and, once the worker is done, the end.
  static void Service(const std::shared_ptr<RunShared>& run) {
    Impl* impl = run->owner;
    if (impl == nullptr) return;
    if (impl->delivering != nullptr) {
      // A handler runs a nested event loop: this waits until that handler has returned.
      impl->service_missed = true;
      return;
    }
    Delivery delivery(*impl, *run);
    try {
      ServiceRun(*impl, run);
    } catch (const RunLeft&) {
      // A handler let go of the run: nothing more of it is delivered.
    } catch (...) {
      // A handler failed: the error goes on to be reported, and what is still queued follows
      // right after it.
      if (run->owner != nullptr) {
        std::lock_guard<std::mutex> lock(run->mutex);
        PostService(run);
      }
      throw;
    }
  }

  static void Wrap(Impl& impl) {
    impl.assembler.OnRead = [&impl](std::string_view s, bool starts_on_new_line) {
      if (impl.on_read) impl.on_read(*impl.runner, s, starts_on_new_line);
      CheckStillDelivering(impl);
    };
    impl.assembler.OnRawRead = [&impl](std::string_view s) {
      if (impl.on_raw_read) impl.on_raw_read(*impl.runner, s);
      CheckStillDelivering(impl);
    };
  }

 private:
  // Marks the runner as handing out events and keeps its state, handlers included, alive until
  // the hand-out ends, whatever a handler does to the runner meanwhile.
  class Delivery {
   public:
    Delivery(Impl& impl, RunShared& run) : impl_(impl.shared_from_this()) {
      impl.delivering = &run;
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    ~Delivery() {
      impl_->delivering = nullptr;
      if (impl_->service_missed && impl_->current) {
        impl_->service_missed = false;
        std::lock_guard<std::mutex> lock(impl_->current->mutex);
        PostService(impl_->current);
      }
    }

   private:
    std::shared_ptr<Impl> impl_;
  };

  static void CheckStillDelivering(const Impl& impl) {
    if (impl.runner == nullptr || impl.current.get() != impl.delivering) throw RunLeft{};
  }

  // Takes the queue as the next batch once the last one is handed out; false when empty.
  static bool TakeBatch(RunShared& run, bool& ended, uint32_t& exit_code) {
    std::lock_guard<std::mutex> lock(run.mutex);
    run.service_posted = false;
    ended = run.ended;
    exit_code = run.exit_code;
    if (run.batch_offset < run.batch.size()) return true;
    run.batch.clear();
    run.batch_offset = 0;
    run.batch.swap(run.queue);
    if (run.worker_waiting) run.room.notify_one();
    return !run.batch.empty();
  }

  // Gives the batch to the line assembler in pieces of at most 1024 bytes.
  static void HandOutBatch(Impl& impl, RunShared& run) {
    while (run.batch_offset < run.batch.size()) {
      if (impl.current.get() != &run) throw RunLeft{};
      const std::size_t n = std::min(kPieceSize, run.batch.size() - run.batch_offset);
      const char* piece = run.batch.data() + run.batch_offset;
      run.batch_offset += n;
      impl.assembler.AssemblePiece(piece, n);
    }
  }

  static void ServiceRun(Impl& impl, const std::shared_ptr<RunShared>& run) {
    bool ended = false;
    uint32_t exit_code = 0;
    if (TakeBatch(*run, ended, exit_code)) HandOutBatch(impl, *run);
    if (!ended) {
      std::lock_guard<std::mutex> lock(run->mutex);
      if (!run->queue.empty() && run->ui != nullptr) PostService(run);
      return;
    }
    // The worker is done and queues nothing more: the rest of the output, then the end.
    while (TakeBatch(*run, ended, exit_code)) HandOutBatch(impl, *run);
    if (!run->output_finished) {
      run->output_finished = true;
      impl.assembler.FinishOutput();
      CheckStillDelivering(impl);
    }
    Finish(impl, run, exit_code);
  }

  static void Finish(Impl& impl, const std::shared_ptr<RunShared>& run, uint32_t exit_code) {
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      run->ui = nullptr;
    }
    run->owner = nullptr;
    impl.current.reset();
    // The run's own copy of the handler is the one called: a handler that sets the runner up for
    // the next run, its own replacement among it, goes on with what it holds until it returns.
    run->ending_handler = impl.on_terminate;
    if (run->ending_handler) run->ending_handler(*impl.runner, exit_code);
    run->ending_handler = nullptr;
  }
};

void PostService(const std::shared_ptr<RunShared>& run) {
  if (run->ui == nullptr || run->service_posted) return;
  run->service_posted = true;
  run->ui->Post([run] { RunHandlers::Service(run); });
}

TJvCreateProcess::TJvCreateProcess(UiThread& ui)
    : impl_(std::make_shared<Impl>(ui)),
      OnTerminate(impl_->on_terminate),
      OnRead(impl_->on_read),
      OnRawRead(impl_->on_raw_read) {
  impl_->runner = this;
  RunHandlers::Wrap(*impl_);
}

// A hand-out under way keeps the state, and with it the handler that is running, until it ends.
TJvCreateProcess::~TJvCreateProcess() {
  Detach();
  impl_->runner = nullptr;
}

bool TJvCreateProcess::Watching() const {
  return impl_->current != nullptr;
}

int TJvCreateProcess::ProcessId() const {
  const std::shared_ptr<ChildSide> child = impl_->child;
  return child ? ChildProcessId(*child) : 0;
}

bool TJvCreateProcess::SignalChild(int signo) {
  const std::shared_ptr<ChildSide> child = impl_->child;
  return child && SignalChildProcess(*child, signo);
}

void TJvCreateProcess::Detach() {
  Impl& impl = *impl_;
  if (!impl.current) return;
  std::shared_ptr<RunShared> run = std::move(impl.current);
  impl.current.reset();
  {
    std::lock_guard<std::mutex> lock(run->mutex);
    run->ui = nullptr;
    run->queue = {};
  }
  run->room.notify_all();
  run->owner = nullptr;
}

void TJvCreateProcess::Run() {
  Impl& impl = *impl_;
  if (impl.current) throw EJVCLException("Cannot perform this operation when process is running");
  impl.assembler.ResetLine();
  impl.assembler.OwnerData = ConsoleOptions.count(TJvConsoleOption::coOwnerData) != 0;
  impl.child.reset();
  CheckEnvironment(Environment);

  const bool redirect = ConsoleOptions.count(TJvConsoleOption::coRedirect) != 0;
  // Without a watcher the child is still reaped, so that no zombie is left; nothing is posted.
  const bool watched = redirect || WaitForTerminate;
  std::shared_ptr<RunShared> run =
      StartRun(*this, redirect, KeepAllOutput, watched ? &impl.ui : nullptr);
  impl.child = run->child;
  if (!watched) return;
  run->owner = &impl;
  impl.current = std::move(run);
}

}  // namespace velotrax
