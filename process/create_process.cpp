#include "process/create_process.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "base/errors.h"
#include "process/child_start.h"
#include "process/command_line.h"
#include "process/line_assembler.h"

namespace velotrax {

using namespace child;  // the start of the child: descriptors, pipes, spawn

namespace {

constexpr std::size_t kPieceSize = 1024;  // what the line assembler gets at a time
constexpr std::size_t kReadSize = 65536;  // what one read takes from the pipe: all it holds
constexpr std::size_t kQueueStartCapacity = 1024;
constexpr std::size_t kQueueLastDoubling = 65536;  // above this the queue drops instead of growing
constexpr std::size_t kQueueLimit = 2 * kQueueLastDoubling;
// How long the worker gives a UI thread that is taking output to make room before it drops what
// is queued: a window held busy never holds up the child for long. A thread that keeps up can
// still be kept from running this long on a loaded machine; a run that must lose nothing
// (KeepAllOutput) therefore waits as long as it takes.
constexpr std::chrono::milliseconds kOverflowGrace{20};
// Without a process descriptor (an old kernel) the worker looks for the child's end this often.
constexpr int kEndCheckMs = 20;
// How long a worker that has served a run waits for the next one before it ends.
constexpr std::chrono::milliseconds kWorkerLinger{1000};
// How long an idle worker handed a run waits for the child's end before it starts reading: a
// child that ends within it is read and reaped in one wake-up, and the output of any other
// child reaches the UI thread at most this much later.
constexpr long kFirstLookNs = 4'000'000;
// How long queued output may wait for more before the UI thread is woken for it.
constexpr int kCoalesceMs = 1;
constexpr std::chrono::milliseconds kCoalesce{kCoalesceMs};

std::string TrimControlAndBlanks(std::string_view text) {
  auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// Workers carry a name (seen in ps, top and a debugger) and run below the UI thread so that
// neither the window nor the child waits for them.
void NameAndLowerThisThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
  const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice_now = getpriority(PRIO_PROCESS, tid);
  if (errno == 0 && nice_now < 19) setpriority(PRIO_PROCESS, tid, nice_now + 1);
}

int StartDetachedThread(void* (*body)(void*), void* argument) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int code = pthread_create(&thread, &attributes, body, argument);
  pthread_attr_destroy(&attributes);
  return code;
}

}  // namespace

int (*StartRunnerThread)(void* (*body)(void*), void* argument) = StartDetachedThread;

int (*OpenProcessDescriptor)(int pid) = [](int pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
};

// The started child as the signals and the reaping see it: its id cannot pass to another
// process while a signal is being sent, because the worker reaps it under the same lock.
struct ChildRecord {
  std::mutex mutex;
  pid_t pid = 0;
  bool group = false;  // signals go to its process group
  bool reaped = false;
};

// What one run shares between the UI thread and its worker. The worker holds it by shared_ptr
// and touches nothing else of the runner.
struct RunShared {
  std::mutex mutex;  // guards everything up to `owner`
  // Null once the run is detached or finished (or never watched): the worker posts nothing.
  UiThread* ui = nullptr;
  std::vector<char> queue;  // the output queue
  std::size_t capacity = kQueueStartCapacity;
  bool service_posted = false;
  bool worker_waiting = false;
  bool keep_all_output = false;  // a full queue waits for the UI thread however long it takes
  std::condition_variable room;  // the UI thread took the queue, or the run was detached
  bool ended = false;            // the worker is done: nothing more is queued
  uint32_t exit_code = 0;
  // The hand-over at the start: the worker is made first and waits until the child is there.
  enum class Start { pending, started, abandoned } start = Start::pending;
  std::condition_variable start_changed;
  Fd output, input, pidfd;  // the parent's ends and the child's process descriptor
  std::shared_ptr<ChildRecord> child = std::make_shared<ChildRecord>();

  // The UI thread only.
  TJvCreateProcess::Impl* owner = nullptr;  // set while this is the runner's current run
  std::vector<char> batch;                  // output taken from the queue, handed out in pieces
  std::size_t batch_offset = 0;
  bool output_finished = false;
};

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
  std::shared_ptr<ChildRecord> child;  // the last child started
  RunShared* delivering = nullptr;     // the run whose events are being handed out
  bool service_missed = false;         // a hand-out came while another one was under way
  LineAssembler assembler;
};

namespace {

void PostService(const std::shared_ptr<RunShared>& run);  // under run->mutex

// Appends one read to the output queue; the queue doubles up to its limit and then drops what
// it holds, so the memory kept for a child that outruns the UI thread stays bounded.
void AppendToQueue(RunShared& run, const char* bytes, std::size_t n) {
  const std::size_t count = run.queue.size();
  while (run.capacity < count + n && run.capacity <= kQueueLastDoubling) run.capacity *= 2;
  if (run.capacity < count + n) run.queue.clear();
  run.queue.insert(run.queue.end(), bytes, bytes + n);
}

// The run's one worker: moves the child's output into the queue, reaps the child, and posts the
// run's end once both are done. Once the child has ended it takes what the pipe holds at that
// moment and stops, so a grandchild that keeps the pipe open cannot hold the run. After Detach
// it reads and discards until the output ends, so that a child still writing is never cut off.
class Worker {
 public:
  Worker(std::shared_ptr<RunShared> run, char* buffer) : run_(std::move(run)), buffer_(buffer) {}

  void Run() {
    if (!WaitForStart()) return;
    bool output_open = static_cast<bool>(run_->output);
    bool child_running = true;
    while (output_open || child_running) {
      pollfd fds[2];
      nfds_t count = 0;
      if (output_open) fds[count++] = {run_->output.Get(), POLLIN, 0};
      const bool watch_pidfd = child_running && run_->pidfd;
      if (watch_pidfd) fds[count++] = {run_->pidfd.Get(), POLLIN, 0};
      int timeout = child_running && !watch_pidfd ? kEndCheckMs : -1;
      if (post_due_) timeout = timeout < 0 ? kCoalesceMs : std::min(timeout, kCoalesceMs);
      const int ready = poll(fds, count, timeout);
      // A child that keeps writing a little at a time still gets its output seen at once.
      if (post_due_ && std::chrono::steady_clock::now() - due_since_ >= kCoalesce) PostNow();
      if (ready < 0) {
        if (errno == EINTR) continue;
        // Nothing left to wait with: the output is given up, the end is still taken.
        output_open = false;
        if (child_running) Reap(false);
        child_running = false;
        continue;
      }
      if (output_open && fds[0].revents != 0) output_open = ReadOnce();
      const bool exited = watch_pidfd && (fds[count - 1].revents & POLLIN) != 0;
      const bool ended = watch_pidfd ? fds[count - 1].revents != 0 : !output_open || HasEnded();
      if (child_running && ended) {
        child_running = false;
        Reap(exited);
        if (output_open && !Detached()) {
          TakeWhatIsHeld();
          output_open = false;
        }
      }
    }
    run_->output.Reset();
    run_->pidfd.Reset();
    std::lock_guard<std::mutex> lock(run_->mutex);
    run_->ended = true;
    if (run_->ui != nullptr) PostService(run_);
  }

 private:
  bool WaitForStart() {
    std::unique_lock<std::mutex> lock(run_->mutex);
    run_->start_changed.wait(lock, [&] { return run_->start != RunShared::Start::pending; });
    return run_->start == RunShared::Start::started;
  }

  bool Detached() {
    std::lock_guard<std::mutex> lock(run_->mutex);
    return run_->ui == nullptr;
  }

  bool HasEnded() {
    siginfo_t info{};
    return waitid(P_PID, run_->child->pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid == run_->child->pid;
  }

  // Waits for the end without taking it first (unless the child is known to have exited), then
  // reaps under the record's lock.
  void Reap(bool exited) {
    ChildRecord& child = *run_->child;
    siginfo_t info{};
    while (!exited && waitid(P_PID, child.pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(child.mutex);
    const uint32_t exit_code = ReapChild(child.pid);
    child.reaped = true;
    run_->input.Reset();  // the child saw an open, empty input while it ran
    std::lock_guard<std::mutex> run_lock(run_->mutex);
    run_->exit_code = exit_code;
  }

  // One read into the queue; false once the output has ended.
  bool ReadOnce() {
    const ssize_t n = read(run_->output.Get(), buffer_, kReadSize);
    if (n > 0) {
      Queue(static_cast<std::size_t>(n));
      return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
  }

  // The child has ended: what the pipe holds now is the last of its output.
  void TakeWhatIsHeld() {
    int held = 0;
    if (ioctl(run_->output.Get(), FIONREAD, &held) != 0) return;
    while (held > 0) {
      const ssize_t n =
          read(run_->output.Get(), buffer_, std::min(static_cast<std::size_t>(held), kReadSize));
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      Queue(static_cast<std::size_t>(n));
      held -= static_cast<int>(n);
    }
  }

  void Queue(std::size_t n) {
    RunShared& run = *run_;
    std::unique_lock<std::mutex> lock(run.mutex);
    if (run.ui == nullptr) return;  // detached: discard
    if (run.queue.size() + n > kQueueLimit) {
      PostService(run_);
      run.worker_waiting = true;
      auto has_room = [&] { return run.ui == nullptr || run.queue.size() + n <= kQueueLimit; };
      if (run.keep_all_output) {
        run.room.wait(lock, has_room);
      } else {
        run.room.wait_for(lock, kOverflowGrace, has_room);
      }
      run.worker_waiting = false;
      if (run.ui == nullptr) return;
    }
    AppendToQueue(run, buffer_, n);
    // One wake-up for everything queued until the UI thread comes for it: a child that writes a
    // little and ends gets its output and its end handed over together.
    if (run.queue.size() >= kReadSize) {
      post_due_ = false;
      PostService(run_);
    } else if (!post_due_) {
      post_due_ = true;
      due_since_ = std::chrono::steady_clock::now();
    }
  }

  void PostNow() {
    post_due_ = false;
    std::lock_guard<std::mutex> lock(run_->mutex);
    PostService(run_);
  }

  std::shared_ptr<RunShared> run_;
  char* buffer_;           // kReadSize bytes
  bool post_due_ = false;  // output is queued that the UI thread has not been told of
  std::chrono::steady_clock::time_point due_since_;
};

// Workers that have served a run wait a while for the next one: a pass started right after the
// last one (the second pass of a pair, a batch of games) needs no new thread. An idle worker
// waits in an epoll set of its own, to which the next run's process descriptor is added when it
// is handed over, with a timer for the first look at the output: it wakes once, when the child
// has ended or the timer has run out, not once more for the hand-over itself.
struct IdleWorker {
  Fd epoll;
  Fd bell;   // an eventfd in the set, rung when a hand-over adds nothing that will wake the worker
  Fd timer;  // a timerfd in the set: the first look at the next run's output
  std::shared_ptr<RunShared> next;  // handed over, not yet taken
  bool reserved = false;            // promised to a start under way
  bool timer_armed = false;
};

struct WorkerPool {
  std::mutex mutex;
  std::vector<IdleWorker*> idle;  // waiting for a run and promised to none
};

WorkerPool& Pool() {
  static WorkerPool* const pool = new WorkerPool;  // never destroyed: idle workers may outlive main
  return *pool;
}

void Ring(const Fd& bell) {
  const uint64_t one = 1;
  while (write(bell.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

// Opens the worker's epoll set; false when the system gives none, and the worker then ends with
// its first run.
bool OpenIdleWait(IdleWorker& self) {
  self.epoll = Fd(epoll_create1(EPOLL_CLOEXEC));
  self.bell = Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  self.timer = Fd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (!self.epoll || !self.bell || !self.timer) return false;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = self.bell.Get();
  if (epoll_ctl(self.epoll.Get(), EPOLL_CTL_ADD, self.bell.Get(), &event) != 0) return false;
  event.data.fd = self.timer.Get();
  return epoll_ctl(self.epoll.Get(), EPOLL_CTL_ADD, self.timer.Get(), &event) == 0;
}

// Waits for the next run handed to this worker; null once it has been idle for kWorkerLinger
// with no start counting on it.
std::shared_ptr<RunShared> WaitForNextRun(IdleWorker& self) {
  WorkerPool& pool = Pool();
  std::unique_lock<std::mutex> lock(pool.mutex);
  pool.idle.push_back(&self);
  for (;;) {
    const int timeout = self.reserved ? -1 : static_cast<int>(kWorkerLinger.count());
    lock.unlock();
    epoll_event events[4];
    int ready = epoll_wait(self.epoll.Get(), events, 4, timeout);
    if (ready < 0 && errno != EINTR) {
      // Cannot happen with our own set; should it, the worker never spins and counts it quiet.
      poll(nullptr, 0, kEndCheckMs);
      ready = 0;
    }
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.fd == self.bell.Get()) {
        uint64_t rings = 0;
        while (read(self.bell.Get(), &rings, sizeof rings) < 0 && errno == EINTR) {
        }
      }
    }
    lock.lock();
    if (self.next) {
      self.reserved = false;
      if (self.timer_armed) {
        self.timer_armed = false;
        const itimerspec off{};
        timerfd_settime(self.timer.Get(), 0, &off, nullptr);  // also clears a run-out timer
      }
      return std::move(self.next);
    }
    // A quiet while with no start counting on this worker: it ends. A start that gave up its
    // promise rings the bell, and the worker waits a full while again.
    if (ready == 0 && !self.reserved) {
      std::erase(pool.idle, &self);
      return nullptr;
    }
  }
}

void* WorkerMain(void* argument) {
  auto* handed = static_cast<std::shared_ptr<RunShared>*>(argument);
  std::shared_ptr<RunShared> run = std::move(*handed);
  delete handed;
  NameAndLowerThisThread("velotrax-run");
  char buffer[kReadSize];
  IdleWorker self;
  const bool can_wait = OpenIdleWait(self);
  while (run) {
    Worker(std::move(run), buffer).Run();
    if (can_wait) run = WaitForNextRun(self);
  }
  return nullptr;
}

// Makes the run's worker before the child exists, or promises it an idle one: a worker that
// cannot be made leaves no child behind. A new worker waits for the hand-over; an idle one gets
// the run only then. A start that fails lets the worker go.
class WorkerStart {
 public:
  explicit WorkerStart(const std::shared_ptr<RunShared>& run) : run_(run) {
    WorkerPool& pool = Pool();
    {
      std::lock_guard<std::mutex> lock(pool.mutex);
      if (!pool.idle.empty()) {
        idle_ = pool.idle.back();
        pool.idle.pop_back();
        idle_->reserved = true;
        return;
      }
    }
    auto* handed = new std::shared_ptr<RunShared>(run);
    const int code = StartRunnerThread(WorkerMain, handed);
    if (code != 0) {
      delete handed;
      char buffer[256];
      throw EOSCallError(
          std::string("Thread creation error: ") + strerror_r(code, buffer, sizeof buffer), code,
          "pthread_create");
    }
  }
  WorkerStart(const WorkerStart&) = delete;
  WorkerStart& operator=(const WorkerStart&) = delete;
  ~WorkerStart() {
    if (!handed_over_) Release(RunShared::Start::abandoned);
  }

  void Handover(pid_t pid, bool group, Pipe& output, Pipe& input) {
    run_->child->pid = pid;
    run_->child->group = group;
    run_->pidfd = Fd(OpenProcessDescriptor(pid));
    run_->output = std::move(output.read);
    run_->input = std::move(input.write);
    handed_over_ = true;
    Release(RunShared::Start::started);
  }

 private:
  void Release(RunShared::Start start) {
    {
      std::lock_guard<std::mutex> lock(run_->mutex);
      run_->start = start;
    }
    if (idle_ == nullptr) {
      run_->start_changed.notify_one();
      return;
    }
    WorkerPool& pool = Pool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (start != RunShared::Start::started) {
      idle_->reserved = false;
      pool.idle.push_back(idle_);
      Ring(idle_->bell);
      return;
    }
    idle_->next = run_;
    // The worker wakes when the child ends or its first look at the output is due; without a
    // process descriptor it is told at once, as it then looks for the end itself.
    if (!WatchEnd() || (run_->output && !ArmFirstLook())) Ring(idle_->bell);
  }

  bool WatchEnd() {
    if (!run_->pidfd) return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = run_->pidfd.Get();
    return epoll_ctl(idle_->epoll.Get(), EPOLL_CTL_ADD, run_->pidfd.Get(), &event) == 0;
  }

  bool ArmFirstLook() {
    itimerspec first_look{};
    first_look.it_value.tv_nsec = kFirstLookNs;
    idle_->timer_armed = timerfd_settime(idle_->timer.Get(), 0, &first_look, nullptr) == 0;
    return idle_->timer_armed;
  }

  std::shared_ptr<RunShared> run_;
  IdleWorker* idle_ = nullptr;  // the idle worker promised to this start
  bool handed_over_ = false;
};

}  // namespace

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
    if (impl.on_terminate) impl.on_terminate(*impl.runner, exit_code);
  }
};

namespace {

void PostService(const std::shared_ptr<RunShared>& run) {
  if (run->ui == nullptr || run->service_posted) return;
  run->service_posted = true;
  run->ui->Post([run] { RunHandlers::Service(run); });
}

void CheckEnvironment(const std::vector<std::string>& environment) {
  for (const std::string& line : environment) {
    if (line.empty()) {
      throw EJclError("String list passed to StringsToMultiSz cannot contain empty strings.");
    }
  }
}

// The program, its arguments, directory and environment as the child will get them.
void PlanStart(const TJvCreateProcess& runner, StartPlan& plan) {
  plan.arguments = SplitCommandLine(runner.CommandLine);
  plan.application = TrimControlAndBlanks(runner.ApplicationName);
  plan.directory = TrimControlAndBlanks(runner.CurrentDirectory);
  if (plan.application.empty()) {
    // The command line alone names the program.
    if (plan.arguments.empty()) RaiseOSError("execve", ENOENT);
    plan.application = plan.arguments.front();
    if (plan.application.find('/') == std::string::npos) {
      plan.application = SearchPath(plan.application);
      if (plan.application.empty()) RaiseOSError("execve", ENOENT);
    }
  }
  if (plan.arguments.empty()) plan.arguments.push_back(plan.application);
  // The program is named relative to our own directory, not the child's.
  if (plan.application.front() != '/' && !plan.directory.empty()) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) RaiseOSError("getcwd", errno);
    plan.application = std::string(cwd) + "/" + plan.application;
  }
  for (std::string& argument : plan.arguments) plan.argv.push_back(argument.data());
  plan.argv.push_back(nullptr);
  if (!runner.Environment.empty()) {
    for (const std::string& line : runner.Environment)
      plan.envp.push_back(const_cast<char*>(line.c_str()));
    plan.envp.push_back(nullptr);
  }
  if (runner.Priority == TJvProcessPriority::ppIdle) plan.nice_increment = 19;
  plan.new_process_group = runner.CreationFlags.count(TJvCPSFlag::cfNewProcGroup) != 0;
  plan.new_session = runner.CreationFlags.count(TJvCPSFlag::cfDetached) != 0 ||
                     runner.CreationFlags.count(TJvCPSFlag::cfNewConsole) != 0;
}

// Makes the pipes and the worker, then starts the child and hands it to the worker. Only the
// child keeps its ends of the pipes.
std::shared_ptr<RunShared> StartChild(StartPlan& plan, bool redirect, bool keep_all_output,
                                      UiThread* ui) {
  auto run = std::make_shared<RunShared>();
  run->ui = ui;
  run->keep_all_output = keep_all_output;
  Pipe output, input;
  if (redirect) {
    output = MakePipe();
    input = MakePipe();
    output.write = AboveStandardStreams(std::move(output.write));
    input.read = AboveStandardStreams(std::move(input.read));
    plan.stdin_read = input.read.Get();
    plan.stdout_write = output.write.Get();
  }
  WorkerStart worker(run);
  const pid_t pid = SpawnChild(plan);
  worker.Handover(pid, plan.new_process_group || plan.new_session, output, input);
  return run;
}

}  // namespace

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
  const std::shared_ptr<ChildRecord> child = impl_->child;
  if (!child) return 0;
  std::lock_guard<std::mutex> lock(child->mutex);
  return child->reaped ? 0 : child->pid;
}

bool TJvCreateProcess::SignalChild(int signo) {
  const std::shared_ptr<ChildRecord> child = impl_->child;
  if (!child) return false;
  std::lock_guard<std::mutex> lock(child->mutex);
  if (child->reaped) return false;
  // A child that has ended is no longer ours to stop, even before it has been reaped.
  siginfo_t info{};
  if (waitid(P_PID, child->pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
      info.si_pid == child->pid) {
    return false;
  }
  if (kill(child->group ? -child->pid : child->pid, signo) == 0) return true;
  if (errno == ESRCH) return false;
  const int code = errno;
  throw EOSCallError(SystemErrorText(code) + " (kill)", code, "kill");
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

  StartPlan plan;
  PlanStart(*this, plan);
  const bool redirect = ConsoleOptions.count(TJvConsoleOption::coRedirect) != 0;
  // Without a watcher the child is still reaped, so that no zombie is left; nothing is posted.
  const bool watched = redirect || WaitForTerminate;
  std::shared_ptr<RunShared> run =
      StartChild(plan, redirect, KeepAllOutput, watched ? &impl.ui : nullptr);
  impl.child = run->child;
  if (!watched) return;
  run->owner = &impl;
  impl.current = std::move(run);
}

}  // namespace velotrax
