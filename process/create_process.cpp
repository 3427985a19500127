#include "process/create_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/errors.h"
#include "process/emulator_contract.h"
#include "process/line_assembler.h"

extern char** environ;

namespace velotrax {

namespace {

constexpr std::size_t kPieceSize = 1024;
constexpr std::size_t kQueueStartCapacity = 1024;
constexpr std::size_t kQueueLastDoubling = 65536;  // above this the queue drops instead of growing
constexpr std::size_t kQueueLimit = 2 * kQueueLastDoubling;
// How long the reader gives a UI thread that is taking pieces to make room before it drops what
// is queued: a window that keeps up loses nothing, a window that is held busy never holds up the
// child for long.
constexpr std::chrono::milliseconds kOverflowGrace{20};

[[noreturn]] void RaiseOSError(int code) {
  if (code == 0) throw EOSError("A call to an OS function failed", 0);
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\r\n" + text, code);
}

std::string TrimControlAndBlanks(std::string_view text) {
  auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// Closes a descriptor once; safe to call on -1.
void CloseFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// Workers carry a name (seen in ps, top and a debugger) and run below the UI thread so that
// neither the window nor the child waits for them.
void StartWorker(const char* name) {
  pthread_setname_np(pthread_self(), name);
  const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice_now = getpriority(PRIO_PROCESS, tid);
  if (errno == 0 && nice_now < 19) setpriority(PRIO_PROCESS, tid, nice_now + 1);
}

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 0;
}

// Waits for the child's end and takes its status; 0 when the wait fails.
uint32_t ReapChild(pid_t pid) {
  int status = 0;
  for (;;) {
    const pid_t got = waitpid(pid, &status, 0);
    if (got == pid) return ExitCodeOf(status);
    if (got < 0 && errno == EINTR) continue;
    return 0;
  }
}

// Finds a bare program name the way a shell would, along PATH.
std::string SearchPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = dirs.find(':');
    // An empty entry of PATH names the current directory.
    const std::string_view dir =
        colon == 0 || dirs.empty() ? std::string_view(".") : dirs.substr(0, colon);
    const std::string candidate = std::string(dir) + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return {};
}

// Moves a descriptor to 3 or above so that it survives the dup2 onto 0, 1 and 2 in the child.
int AboveStandardStreams(int fd) {
  if (fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (moved < 0) RaiseOSError(errno);
  close(fd);
  return moved;
}

// Everything the child's side of fork needs, made before fork: after it only
// async-signal-safe calls are allowed.
struct ChildPlan {
  std::string application;
  std::string directory;
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  std::vector<char*> envp;  // empty: inherit
  bool redirect = false;
  int stdin_read = -1, stdout_write = -1;
  int report_write = -1;
  int nice_increment = 0;
  bool new_process_group = false;
  bool new_session = false;
};

[[noreturn]] void ReportAndExit(int report_fd, int code) {
  ssize_t ignored = write(report_fd, &code, sizeof code);
  (void)ignored;
  _exit(127);
}

// Runs in the forked child: set up the streams and the directory, then become the program.
[[noreturn]] void BecomeChild(const ChildPlan& plan) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // A child that outlives us must not die of a write to a pipe nobody reads any more.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);

  if (plan.redirect) {
    if (dup2(plan.stdin_read, 0) < 0 || dup2(plan.stdout_write, 1) < 0 ||
        dup2(plan.stdout_write, 2) < 0) {
      ReportAndExit(plan.report_write, errno);
    }
  }
  // Nothing of ours above 2 survives exec; the report pipe stays usable until then.
  if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
    struct rlimit limit {};
    int top = 65536;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < 65536) {
      top = static_cast<int>(limit.rlim_cur);
    }
    for (int fd = 3; fd < top; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  if (plan.new_session) {
    setsid();
  } else if (plan.new_process_group) {
    setpgid(0, 0);
  }
  if (plan.nice_increment != 0) {
    errno = 0;
    const int nice_now = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, 0, nice_now + plan.nice_increment);
  }
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) {
    ReportAndExit(plan.report_write, errno);
  }
  char** envp = plan.envp.empty() ? environ : const_cast<char**>(plan.envp.data());
  execve(plan.application.c_str(), plan.argv.data(), envp);
  ReportAndExit(plan.report_write, errno);
}

}  // namespace

// What one run shares between the UI thread and its two workers. The workers hold it by
// shared_ptr and touch nothing else of the runner; `owner` is read and written on the UI
// thread only.
struct RunShared {
  ~RunShared() {
    if (wake_fd >= 0) close(wake_fd);
  }

  std::mutex mutex;         // guards everything below up to `owner`
  UiThread* ui = nullptr;   // null once the run is detached or finished: workers post nothing
  std::vector<char> queue;  // the output queue: bytes [head, head + count)
  std::size_t capacity = kQueueStartCapacity;
  std::size_t head = 0, count = 0;
  bool notify_pending = false;
  bool reader_waiting = false;
  std::condition_variable room;          // the UI thread took a piece, or the run was detached
  std::atomic<bool> child_ended{false};  // set by the watcher

  int wake_fd = -1;  // eventfd: the watcher tells the reader that the child has ended

  TJvCreateProcess* owner = nullptr;  // UI thread only
  bool reader_attached = false;       // UI thread only
  bool watcher_attached = false;      // UI thread only
  uint32_t exit_code = 0;             // UI thread only
};

struct TJvCreateProcess::Impl {
  explicit Impl(UiThread& ui_thread) : ui(ui_thread) {}

  UiThread& ui;
  bool watching = false;
  std::shared_ptr<RunShared> current;
  LineAssembler assembler;
  char transfer[kPieceSize];
};

namespace {

// Appends one read to the output queue; the queue doubles up to its limit and then drops what
// it holds, so the memory kept for a child that outruns the UI thread stays bounded.
void AppendToQueue(RunShared& run, const char* bytes, std::size_t n) {
  if (run.capacity < run.count + n) {
    if (run.capacity <= kQueueLastDoubling) {
      run.capacity *= 2;
    } else {
      run.count = 0;
      run.head = 0;
    }
  }
  if (run.head + run.count + n > run.queue.size()) {
    if (run.head > 0) {
      std::memmove(run.queue.data(), run.queue.data() + run.head, run.count);
      run.head = 0;
    }
    if (run.count + n > run.queue.size()) run.queue.resize(run.capacity);
  }
  std::memcpy(run.queue.data() + run.head + run.count, bytes, n);
  run.count += n;
}

std::size_t TakePiece(RunShared& run, char* into) {
  std::lock_guard<std::mutex> lock(run.mutex);
  const std::size_t n = std::min(kPieceSize, run.count);
  if (n == 0) return 0;
  std::memcpy(into, run.queue.data() + run.head, n);
  run.head += n;
  run.count -= n;
  if (run.count == 0) run.head = 0;
  if (run.reader_waiting) run.room.notify_one();
  return n;
}

void PostDataReady(const std::shared_ptr<RunShared>& run);
void PostReaderEnded(const std::shared_ptr<RunShared>& run);
void PostWatcherEnded(const std::shared_ptr<RunShared>& run, uint32_t exit_code);

// The reader: moves the child's output into the queue, a read of at most 1024 bytes at a time.
// Once the child has ended it takes what the pipe holds at that moment and stops, so a
// grandchild that keeps the pipe open cannot hold the run. After Detach it reads and discards
// until the output ends, so that a child still writing is never cut off.
void ReaderBody(std::shared_ptr<RunShared> run, int fd) {
  StartWorker("velotrax-reader");
  char buffer[kPieceSize];
  bool watch_wake = true;
  std::size_t final_bytes = 0;
  bool final_read = false;

  // The child has ended: what the pipe holds now is the last of its output.
  auto start_final_read = [&] {
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      if (run->ui == nullptr) {
        watch_wake = false;  // detached: read on to the end of the output
        return;
      }
    }
    int held = 0;
    if (ioctl(fd, FIONREAD, &held) != 0) held = 0;
    final_bytes = static_cast<std::size_t>(std::max(held, 0));
    final_read = true;
  };

  // One read into the queue; false when the output has ended.
  auto read_once = [&](std::size_t limit) -> int {
    const ssize_t n = read(fd, buffer, limit);
    if (n > 0) {
      std::unique_lock<std::mutex> lock(run->mutex);
      if (run->ui == nullptr) return 1;  // detached: discard
      if (run->count + static_cast<std::size_t>(n) > kQueueLimit) {
        run->reader_waiting = true;
        run->room.wait_for(lock, kOverflowGrace, [&] {
          return run->ui == nullptr || run->count + static_cast<std::size_t>(n) <= kQueueLimit;
        });
        run->reader_waiting = false;
        if (run->ui == nullptr) return 1;
      }
      AppendToQueue(*run, buffer, static_cast<std::size_t>(n));
      if (!run->notify_pending) {
        run->notify_pending = true;
        PostDataReady(run);
      }
      return static_cast<int>(n);
    }
    if (n == 0) return -1;
    if (errno == EINTR) return 0;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    return -1;
  };

  for (;;) {
    if (final_read) {
      if (final_bytes == 0) break;
      const int got = read_once(std::min(final_bytes, kPieceSize));
      if (got < 0) break;
      final_bytes -= static_cast<std::size_t>(got) <= final_bytes ? static_cast<std::size_t>(got)
                                                                  : final_bytes;
      continue;
    }
    if (watch_wake && run->child_ended.load()) {
      start_final_read();
      continue;
    }
    const int got = read_once(kPieceSize);
    if (got >= 0) continue;
    if (got == -1) break;
    // Nothing to read now: wait for output or for the child's end.
    pollfd fds[2] = {{fd, POLLIN, 0}, {run->wake_fd, POLLIN, 0}};
    const int ready = poll(fds, watch_wake ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR) break;
    if (watch_wake && (fds[1].revents & POLLIN) != 0) start_final_read();
  }
  close(fd);
  std::lock_guard<std::mutex> lock(run->mutex);
  if (run->ui != nullptr) PostReaderEnded(run);
}

// The console watcher: waits for the child's end (also after Detach, so no zombie is left),
// keeps the child's standard input open and empty until then.
void WatcherBody(std::shared_ptr<RunShared> run, pid_t pid, int stdin_write) {
  StartWorker("velotrax-watch");
  const uint32_t exit_code = ReapChild(pid);
  if (stdin_write >= 0) close(stdin_write);
  std::lock_guard<std::mutex> lock(run->mutex);
  run->child_ended.store(true);
  if (run->wake_fd >= 0) {
    const uint64_t one = 1;
    ssize_t ignored = write(run->wake_fd, &one, sizeof one);
    (void)ignored;
  }
  if (run->ui != nullptr) PostWatcherEnded(run, exit_code);
}

}  // namespace

// The UI-thread side. Each posted function first checks that its run is still the runner's
// current one: after finish, Detach or destruction it does nothing.
class RunHandlers {
 public:
  static TJvCreateProcess* LiveOwner(const std::shared_ptr<RunShared>& run) {
    TJvCreateProcess* owner = run->owner;
    if (owner == nullptr || owner->impl_->current != run) return nullptr;
    return owner;
  }

  // Assembles queued pieces, up to `budget` bytes; stops early when a handler detaches the run.
  static void Drain(const std::shared_ptr<RunShared>& run, std::size_t budget = SIZE_MAX) {
    while (budget > 0) {
      TJvCreateProcess* owner = LiveOwner(run);
      if (owner == nullptr) return;
      TJvCreateProcess::Impl& impl = *owner->impl_;
      const std::size_t n = TakePiece(*run, impl.transfer);
      if (n == 0) return;
      budget -= std::min(budget, n);
      impl.assembler.AssemblePiece(impl.transfer, n);
    }
  }

  static void DataReady(const std::shared_ptr<RunShared>& run) {
    if (LiveOwner(run) == nullptr) return;
    std::size_t budget;
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      run->notify_pending = false;
      budget = std::max(run->count, kPieceSize);
    }
    // At most what was queued when we came: a child that never stops writing must not keep
    // the window from its other work.
    Drain(run, budget);
    std::lock_guard<std::mutex> lock(run->mutex);
    if (run->count > 0 && !run->notify_pending && run->ui != nullptr) {
      run->notify_pending = true;
      PostDataReady(run);
    }
  }

  static void ReaderEnded(const std::shared_ptr<RunShared>& run) {
    TJvCreateProcess* owner = LiveOwner(run);
    if (owner == nullptr) return;
    try {
      Drain(run);
      owner = LiveOwner(run);
      if (owner == nullptr) return;
      owner->impl_->assembler.FinishOutput();
    } catch (...) {
      // A read handler failed on the last output: the rest of it is given up, but the run
      // still ends properly and its end event still comes; the error goes on to the caller.
      std::exception_ptr error = std::current_exception();
      owner = LiveOwner(run);
      if (owner != nullptr) {
        {
          std::lock_guard<std::mutex> lock(run->mutex);
          run->count = 0;
          run->head = 0;
        }
        run->reader_attached = false;
        if (!run->watcher_attached) {
          try {
            Finish(*owner, run);
          } catch (...) {
            // The first fault is the one reported.
          }
        }
      }
      std::rethrow_exception(error);
    }
    owner = LiveOwner(run);
    if (owner == nullptr) return;
    run->reader_attached = false;
    if (!run->watcher_attached) Finish(*owner, run);
  }

  static void WatcherEnded(const std::shared_ptr<RunShared>& run, uint32_t exit_code) {
    TJvCreateProcess* owner = LiveOwner(run);
    if (owner == nullptr) return;
    run->exit_code = exit_code;
    run->watcher_attached = false;
    if (!run->reader_attached) Finish(*owner, run);
  }

  static void Finish(TJvCreateProcess& owner, const std::shared_ptr<RunShared>& run) {
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      run->ui = nullptr;
    }
    run->owner = nullptr;
    owner.impl_->current.reset();
    owner.impl_->watching = false;
    if (owner.OnTerminate) owner.OnTerminate(owner, run->exit_code);
  }
};

namespace {

void PostDataReady(const std::shared_ptr<RunShared>& run) {
  run->ui->Post([run] { RunHandlers::DataReady(run); });
}

void PostReaderEnded(const std::shared_ptr<RunShared>& run) {
  run->ui->Post([run] { RunHandlers::ReaderEnded(run); });
}

void PostWatcherEnded(const std::shared_ptr<RunShared>& run, uint32_t exit_code) {
  run->ui->Post([run, exit_code] { RunHandlers::WatcherEnded(run, exit_code); });
}

}  // namespace

TJvCreateProcess::TJvCreateProcess(UiThread& ui) : impl_(std::make_unique<Impl>(ui)) {
  impl_->assembler.OnRead = [this](std::string_view s, bool starts_on_new_line) {
    if (OnRead) OnRead(*this, s, starts_on_new_line);
  };
  impl_->assembler.OnRawRead = [this](std::string_view s) {
    if (OnRawRead) OnRawRead(*this, s);
  };
}

TJvCreateProcess::~TJvCreateProcess() {
  Detach();
}

bool TJvCreateProcess::Watching() const {
  return impl_->watching;
}

void TJvCreateProcess::Detach() {
  Impl& impl = *impl_;
  if (!impl.watching) return;
  std::shared_ptr<RunShared> run = std::move(impl.current);
  impl.current.reset();
  impl.watching = false;
  if (run) {
    {
      std::lock_guard<std::mutex> lock(run->mutex);
      run->ui = nullptr;
      run->room.notify_all();
      run->count = 0;
      run->head = 0;
      run->queue = {};
    }
    run->owner = nullptr;
  }
}

void TJvCreateProcess::Run() {
  Impl& impl = *impl_;
  if (impl.watching) throw EJVCLException("Cannot perform this operation when process is running");
  impl.assembler.ResetLine();
  impl.assembler.OwnerData = ConsoleOptions.count(TJvConsoleOption::coOwnerData) != 0;

  ChildPlan plan;
  plan.redirect = ConsoleOptions.count(TJvConsoleOption::coRedirect) != 0;
  for (const std::string& line : Environment) {
    if (line.empty()) {
      throw EJclError("String list passed to StringsToMultiSz cannot contain empty strings.");
    }
  }

  plan.arguments = SplitCommandLine(CommandLine);
  plan.application = TrimControlAndBlanks(ApplicationName);
  plan.directory = TrimControlAndBlanks(CurrentDirectory);
  if (plan.application.empty()) {
    // The command line alone names the program.
    if (plan.arguments.empty()) RaiseOSError(ENOENT);
    plan.application = plan.arguments.front();
    if (plan.application.find('/') == std::string::npos) {
      plan.application = SearchPath(plan.application);
      if (plan.application.empty()) RaiseOSError(ENOENT);
    }
  }
  if (plan.arguments.empty()) plan.arguments.push_back(plan.application);
  // The program is named relative to our own directory, not the child's.
  if (plan.application.front() != '/' && !plan.directory.empty()) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) RaiseOSError(errno);
    plan.application = std::string(cwd) + "/" + plan.application;
  }
  for (std::string& argument : plan.arguments) plan.argv.push_back(argument.data());
  plan.argv.push_back(nullptr);
  if (!Environment.empty()) {
    for (const std::string& line : Environment)
      plan.envp.push_back(const_cast<char*>(line.c_str()));
    plan.envp.push_back(nullptr);
  }
  if (Priority == TJvProcessPriority::ppIdle) plan.nice_increment = 19;
  plan.new_process_group = CreationFlags.count(TJvCPSFlag::cfNewProcGroup) != 0;
  plan.new_session = CreationFlags.count(TJvCPSFlag::cfDetached) != 0 ||
                     CreationFlags.count(TJvCPSFlag::cfNewConsole) != 0;

  // Every descriptor is made close-on-exec; the child gets its three by dup2 alone.
  int out_pipe[2] = {-1, -1}, in_pipe[2] = {-1, -1}, report_pipe[2] = {-1, -1};
  int wake_fd = -1;
  auto close_all = [&] {
    for (int* fd : {&out_pipe[0], &out_pipe[1], &in_pipe[0], &in_pipe[1], &report_pipe[0],
                    &report_pipe[1], &wake_fd}) {
      CloseFd(*fd);
    }
  };
  try {
    if (plan.redirect) {
      if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(in_pipe, O_CLOEXEC) != 0) RaiseOSError(errno);
      in_pipe[0] = AboveStandardStreams(in_pipe[0]);
      out_pipe[1] = AboveStandardStreams(out_pipe[1]);
      wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (wake_fd < 0) RaiseOSError(errno);
      if (fcntl(out_pipe[0], F_SETFL, O_NONBLOCK) != 0) RaiseOSError(errno);
    }
    if (pipe2(report_pipe, O_CLOEXEC) != 0) RaiseOSError(errno);
    report_pipe[1] = AboveStandardStreams(report_pipe[1]);
  } catch (...) {
    close_all();
    throw;
  }
  plan.stdin_read = in_pipe[0];
  plan.stdout_write = out_pipe[1];
  plan.report_write = report_pipe[1];

  const pid_t pid = fork();
  if (pid == 0) BecomeChild(plan);
  if (pid < 0) {
    const int code = errno;
    close_all();
    RaiseOSError(code);
  }
  // Only the child holds its ends from here on.
  CloseFd(report_pipe[1]);
  CloseFd(in_pipe[0]);
  CloseFd(out_pipe[1]);

  // The report pipe closes at a successful exec; otherwise it carries the reason.
  int start_error = 0;
  ssize_t got;
  do {
    got = read(report_pipe[0], &start_error, sizeof start_error);
  } while (got < 0 && errno == EINTR);
  CloseFd(report_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof start_error)) {
    ReapChild(pid);
    close_all();
    RaiseOSError(start_error);
  }

  if (!plan.redirect && !WaitForTerminate) {
    // Nobody watches this child, but it is still reaped so that no zombie is left.
    try {
      std::thread([pid] {
        StartWorker("velotrax-reap");
        ReapChild(pid);
      }).detach();
    } catch (const std::system_error&) {
      // No thread: the child stays a zombie until we exit; nothing else is lost.
    }
    return;
  }

  auto run = std::make_shared<RunShared>();
  run->ui = &impl.ui;
  run->owner = this;
  run->wake_fd = wake_fd;
  wake_fd = -1;
  run->reader_attached = plan.redirect;
  run->watcher_attached = true;
  impl.current = run;
  impl.watching = true;

  try {
    if (plan.redirect) {
      std::thread(ReaderBody, run, out_pipe[0]).detach();
      out_pipe[0] = -1;
    }
    std::thread(WatcherBody, run, pid, in_pipe[1]).detach();
    in_pipe[1] = -1;
  } catch (const std::system_error& error) {
    // Without its workers the run cannot be watched: give it up and say why. The child
    // already runs; it keeps running, and a started reader drains it until it ends.
    close_all();
    Detach();
    RaiseOSError(error.code().value());
  }
}

}  // namespace velotrax
