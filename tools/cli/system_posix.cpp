// The POSIX side of tools/cli/system.h: signal handlers and the signal mask.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

#include "storage/file_names.h"
#include "storage/files.h"
#include "tools/cli/cli.h"
#include "tools/cli/system.h"

namespace velotrax::cli {

namespace {

volatile std::sig_atomic_t signals_received = 0;
volatile std::sig_atomic_t first_signal = 0;

extern "C" void OnStopSignal(int signo) {
  if (first_signal == 0) first_signal = signo;
  signals_received = signals_received + 1;
}

struct sigaction old_int = {}, old_term = {}, old_hup = {}, old_pipe = {};

sigset_t StopSet() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  return stop;
}

// The mask before the outermost StopDeferral, and how many live.
sigset_t deferred_old_mask;
int deferrals = 0;

}  // namespace

static_assert(kStopInterrupt == SIGINT && kStopHangUp == SIGHUP && kStopTerminate == SIGTERM);

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);
  // A closed terminal ends the run as Ctrl+C does, and stops the emulator with it.
  sigaction(SIGHUP, &action, &old_hup);
  // A closed standard output must not kill the run and leave the emulator running unseen.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &old_pipe);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGHUP, &old_hup, nullptr);
  sigaction(SIGPIPE, &old_pipe, nullptr);
}

int StopSignals::Received() {
  return signals_received;
}

int StopSignals::First() {
  return first_signal;
}

StopDeferral::StopDeferral() {
  if (deferrals++ > 0) return;
  const sigset_t stop = StopSet();
  sigprocmask(SIG_BLOCK, &stop, &deferred_old_mask);
}

StopDeferral::~StopDeferral() {
  // A signal that came meanwhile is delivered now, to whichever handler is there.
  if (--deferrals == 0) sigprocmask(SIG_SETMASK, &deferred_old_mask, nullptr);
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

void RequireReadable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw CliError("cannot read \"" + path + "\": " + SystemErrorText(errno));
  ::close(fd);
}

std::string WhyNotReplaceable(const std::string& path) {
  std::string target = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == 40) return SystemErrorText(ELOOP);
    std::string link(PATH_MAX + 1, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return SystemErrorText(errno);
    link.resize(static_cast<std::size_t>(n));
    target = !link.empty() && link.front() == '/' ? link : DirectoryPart(target) + link;
  }
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    // The replacement refuses a file nobody may write, also to root.
    if ((st.st_mode & 0222) == 0) return "the file is read-only";
    if (::access(target.c_str(), W_OK) != 0)
      return "the file may not be written: " + SystemErrorText(errno);
  } else if (errno != ENOENT) {
    return SystemErrorText(errno);
  }
  const std::string dir = DirectoryPart(target);
  std::string probe = dir + "." + NamePart(target) + ".check-XXXXXX";
  const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) {
    return "no file can be created in its folder \"" + (dir.empty() ? "." : dir) +
           "\": " + SystemErrorText(errno);
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return "";
}

}  // namespace velotrax::cli
