#include "process/child_start.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "process/create_process.h"

extern char** environ;

namespace velotrax::child {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void Fd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string SystemErrorText(int code) {
  if (code == 0) return "A call to an OS function failed";
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return "System Error.  Code: " + std::to_string(code) + ".\r\n" + text;
}

// The user sees the system's own text for a failed start; the call stays with the error.
[[noreturn]] void RaiseOSError(const char* call, int code) {
  throw EOSCallError(SystemErrorText(code), code, call);
}

// A pipe whose ends are closed at exec: the child gets its three streams by dup2 alone.
Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) RaiseOSError("pipe2", errno);
  return {Fd(fds[0]), Fd(fds[1])};
}

// Moves a descriptor to 3 or above so that it survives the dup2 onto 0, 1 and 2 in the child.
Fd AboveStandardStreams(Fd fd) {
  if (fd.Get() > 2) return fd;
  const int moved = fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) RaiseOSError("fcntl", errno);
  return Fd(moved);
}

namespace {

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 0;
}

}  // namespace

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

namespace {

// What the child reports back before it dies of a failed start.
struct StartFailure {
  volatile int code = 0;
  const char* volatile call = nullptr;
};

[[noreturn]] void FailStart(StartFailure* failure, const char* call) {
  failure->code = errno;
  failure->call = call;
  _exit(127);
}

// Runs in the child until exec, on the parent's memory and stack (vfork): system calls only.
[[noreturn]] void BecomeChild(const StartPlan& plan, StartFailure* failure) {
  // A handler of ours must not run in here; exec resets the rest. A child that outlives us must
  // not die of a write to a pipe nobody reads any more.
  struct sigaction action {};
  for (int signo = 1; signo < NSIG; ++signo) {
    if (sigaction(signo, nullptr, &action) != 0) continue;
    if (signo == SIGPIPE) {
      action.sa_handler = SIG_IGN;
      action.sa_flags = 0;
    } else if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) {
      continue;
    } else {
      action.sa_handler = SIG_DFL;
      action.sa_flags = 0;
    }
    sigaction(signo, &action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  if (plan.stdin_read >= 0) {
    if (dup2(plan.stdin_read, 0) < 0 || dup2(plan.stdout_write, 1) < 0 ||
        dup2(plan.stdout_write, 2) < 0) {
      FailStart(failure, "dup2");
    }
  }
  // Nothing of ours above 2 survives exec.
  if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
    struct rlimit limit {};
    int top = 65536;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < 65536) {
      top = static_cast<int>(limit.rlim_cur);
    }
    for (int fd = 3; fd < top; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  if (plan.new_session || !plan.autogroup_nice.empty()) {
    setsid();
  } else if (plan.new_process_group) {
    setpgid(0, 0);
  }
  if (plan.processor >= 0) {
    // Bound before exec, so that the emulator's first instruction already runs there.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (plan.processor >= CPU_SETSIZE) {
      errno = EINVAL;
      FailStart(failure, "sched_setaffinity");
    }
    CPU_SET(plan.processor, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) FailStart(failure, "sched_setaffinity");
  }
  if (plan.nice_increment != 0) {
    errno = 0;
    const int nice_now = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) setpriority(PRIO_PROCESS, 0, nice_now + plan.nice_increment);
  }
  if (!plan.autogroup_nice.empty()) {
    // The scheduler shares the processors between sessions first (autogroups), so a nice value
    // counts only against the processes of one's own session: the child's session is raised.
    // Where the system has no autogroups, or refuses the raise, the child runs on as it is.
    const int fd = open("/proc/self/autogroup", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      const ssize_t written = write(fd, plan.autogroup_nice.data(), plan.autogroup_nice.size());
      static_cast<void>(written);
      close(fd);
    }
  }
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) FailStart(failure, "chdir");
  char** envp = plan.envp.empty() ? environ : const_cast<char**>(plan.envp.data());
  execve(plan.application.c_str(), plan.argv.data(), envp);
  FailStart(failure, "execve");
}

}  // namespace

// Starts the child the cheap way: vfork copies nothing, and we resume once the child has
// become the program (or has failed to). Every signal stays blocked in between so that none
// of our handlers runs on the child's side.
pid_t SpawnChild(const StartPlan& plan) {
  StartFailure failure;
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid = vfork();
  if (pid == 0) BecomeChild(plan, &failure);
  const int spawn_error = errno;
  // The child wrote into our memory behind the compiler's back.
  asm volatile("" : : "r"(&failure) : "memory");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) RaiseOSError("vfork", spawn_error);
  if (failure.call != nullptr) {
    ReapChild(pid);
    RaiseOSError(failure.call, failure.code);
  }
  return pid;
}

}  // namespace velotrax::child
