// The POSIX side of the runner: the child started with vfork and exec, and one worker per run
// that reads its output and reaps it (poll on the pipe and the child's process descriptor).
// Workers that have served a run wait a while for the next one.
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
#include "process/create_process.h"
#include "process/processors.h"
#include "process/run_shared.h"

namespace velotrax {

using namespace child;  // the start of the child: descriptors, pipes, spawn

namespace {

constexpr std::size_t kReadSize = 65536;  // what one read takes from the pipe: all it holds
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
// process while a signal is being sent, because the worker reaps it under the same lock. The
// descriptors are the worker's once the child is handed over.
struct ChildSide {
  std::mutex mutex;
  pid_t pid = 0;
  int processor = -1;  // the one it is bound to; -1: any
  bool group = false;  // signals go to its process group
  bool reaped = false;
  Fd output, input, pidfd;  // the parent's ends and the child's process descriptor
};

namespace {

// The run's one worker: moves the child's output into the queue, reaps the child, and posts the
// run's end once both are done. Once the child has ended it takes what the pipe holds at that
// moment and stops, so a grandchild that keeps the pipe open cannot hold the run. After Detach
// it reads and discards until the output ends, so that a child still writing is never cut off.
class Worker {
 public:
  Worker(std::shared_ptr<RunShared> run, char* buffer) : run_(std::move(run)), buffer_(buffer) {}

  void Run() {
    if (!WaitForStart()) return;
    // The worker wakes for the child's output: on the child's own processor it would take
    // time from the pass being measured. A worker serving an unbound run may go anywhere again.
    KeepThreadOff(run_->child->processor);
    bool output_open = static_cast<bool>(run_->child->output);
    bool child_running = true;
    while (output_open || child_running) {
      pollfd fds[2];
      nfds_t count = 0;
      if (output_open) fds[count++] = {run_->child->output.Get(), POLLIN, 0};
      const bool watch_pidfd = child_running && run_->child->pidfd;
      if (watch_pidfd) fds[count++] = {run_->child->pidfd.Get(), POLLIN, 0};
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
    run_->child->output.Reset();
    run_->child->pidfd.Reset();
    MarkRunEnded(run_);
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
    ChildSide& child = *run_->child;
    siginfo_t info{};
    while (!exited && waitid(P_PID, child.pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(child.mutex);
    const uint32_t exit_code = ReapChild(child.pid);
    child.reaped = true;
    run_->child->input.Reset();  // the child saw an open, empty input while it ran
    std::lock_guard<std::mutex> run_lock(run_->mutex);
    run_->exit_code = exit_code;
  }

  // One read into the queue; false once the output has ended.
  bool ReadOnce() {
    const ssize_t n = read(run_->child->output.Get(), buffer_, kReadSize);
    if (n > 0) {
      Queue(static_cast<std::size_t>(n));
      return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
  }

  // The child has ended: what the pipe holds now is the last of its output.
  void TakeWhatIsHeld() {
    int held = 0;
    if (ioctl(run_->child->output.Get(), FIONREAD, &held) != 0) return;
    while (held > 0) {
      const ssize_t n = read(run_->child->output.Get(), buffer_,
                             std::min(static_cast<std::size_t>(held), kReadSize));
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      Queue(static_cast<std::size_t>(n));
      held -= static_cast<int>(n);
    }
  }

  void Queue(std::size_t n) {
    // One wake-up for everything queued until the UI thread comes for it: a child that writes a
    // little and ends gets its output and its end handed over together.
    switch (QueueOutput(run_, buffer_, n, kReadSize)) {
      case Queued::posted:
        post_due_ = false;
        break;
      case Queued::held:
        if (!post_due_) {
          post_due_ = true;
          due_since_ = std::chrono::steady_clock::now();
        }
        break;
      case Queued::discarded:
        break;
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

  void Handover(pid_t pid, int processor, bool group, Pipe& output, Pipe& input) {
    run_->child->pid = pid;
    run_->child->processor = processor;
    run_->child->group = group;
    run_->child->pidfd = Fd(OpenProcessDescriptor(pid));
    run_->child->output = std::move(output.read);
    run_->child->input = std::move(input.write);
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
    if (!WatchEnd() || (run_->child->output && !ArmFirstLook())) Ring(idle_->bell);
  }

  bool WatchEnd() {
    if (!run_->child->pidfd) return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = run_->child->pidfd.Get();
    return epoll_ctl(idle_->epoll.Get(), EPOLL_CTL_ADD, run_->child->pidfd.Get(), &event) == 0;
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
  // A raise the system refuses (an ordinary user) leaves the child at our own priority. The
  // child gets a session of its own, so that the raise counts against other sessions' programs.
  if (runner.Priority == TJvProcessPriority::ppAboveNormal) {
    plan.nice_increment = -5;
    errno = 0;
    const int nice_now = getpriority(PRIO_PROCESS, 0);
    plan.autogroup_nice = std::to_string(std::max(-20, (errno == 0 ? nice_now : 0) - 5));
  }
  plan.processor = runner.ChildProcessor;
  plan.new_process_group = runner.CreationFlags.count(TJvCPSFlag::cfNewProcGroup) != 0;
  plan.new_session = runner.CreationFlags.count(TJvCPSFlag::cfDetached) != 0 ||
                     runner.CreationFlags.count(TJvCPSFlag::cfNewConsole) != 0;
}

// Makes the pipes and the worker, then starts the child and hands it to the worker. Only the
// child keeps its ends of the pipes.
std::shared_ptr<RunShared> StartChild(StartPlan& plan, bool redirect, bool keep_all_output,
                                      UiThread* ui) {
  auto run = std::make_shared<RunShared>();
  run->child = std::make_shared<ChildSide>();
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
  worker.Handover(pid, plan.processor,
                  plan.new_process_group || plan.new_session || !plan.autogroup_nice.empty(),
                  output, input);
  return run;
}

}  // namespace

std::shared_ptr<RunShared> StartRun(const TJvCreateProcess& runner, bool redirect,
                                    bool keep_all_output, UiThread* ui) {
  StartPlan plan;
  PlanStart(runner, plan);
  return StartChild(plan, redirect, keep_all_output, ui);
}

int ChildProcessId(ChildSide& child) {
  std::lock_guard<std::mutex> lock(child.mutex);
  return child.reaped ? 0 : child.pid;
}

bool SignalChildProcess(ChildSide& child, int signo) {
  std::lock_guard<std::mutex> lock(child.mutex);
  if (child.reaped) return false;
  // A child that has ended is no longer ours to stop, even before it has been reaped.
  siginfo_t info{};
  if (waitid(P_PID, child.pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
      info.si_pid == child.pid) {
    return false;
  }
  if (kill(child.group ? -child.pid : child.pid, signo) == 0) return true;
  if (errno == ESRCH) return false;
  const int code = errno;
  throw EOSCallError(SystemErrorText(code) + " (kill)", code, "kill");
}

}  // namespace velotrax
