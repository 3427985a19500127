// The POSIX side of emulator/windows_executable.h: a Windows program runs through Wine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "emulator/program_file.h"
#include "emulator/windows_executable.h"
#include "process/child_start.h"

namespace velotrax {

namespace {

bool IsRunnableFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// The program called name in the directories of PATH, as execvp would find it; "" when none.
std::string SearchPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsRunnableFile(name) ? name : std::string();
  // Without PATH there is nowhere to look (the runner's own search would assume one).
  if (std::getenv("PATH") == nullptr) return {};
  return child::SearchPath(name);
}

// The directory our own program lies in, without a trailing "/"; "" when unknown.
std::string OwnDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  const std::string self(buffer.data(), static_cast<std::size_t>(n));
  const std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

}  // namespace

ProgramFile::ProgramFile(const std::string& path) noexcept {
  // The type first: opening a named pipe or a device could wait for ever or have effects.
  struct stat named;
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return;
  // Something else may take its place in between: opening never waits, and the file opened is
  // looked at again.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  open_ = true;
}

ProgramFile::~ProgramFile() {
  if (open_) close(static_cast<int>(handle_));
}

bool ProgramFile::ReadAt(void* buffer, std::size_t n, uint64_t offset) const noexcept {
  if (!open_) return false;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got =
        pread(static_cast<int>(handle_), bytes + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// The runner resolves a relative program against our own directory; the launcher runs in the
// pass's directory, so it must be told the same file by its absolute name.
std::string AbsoluteProgramPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::vector<char> cwd(PATH_MAX + 1);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  return std::string(cwd.data()) + "/" + path;
}

void RefuseIrregularProgramFile(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return;
  // What the start itself would say of such a file, said before anything opens it; the callers
  // that name the file find out what stands there themselves.
  child::RaiseOSError("stat", EACCES);
}

WineTools FindWineTools() {
  WineTools tools;
  const char* wine = std::getenv("VELOTRAX_WINE");
  if (wine != nullptr && *wine != '\0') {
    tools.setting = wine;
    tools.wine = SearchPath(tools.setting);
  } else {
    tools.wine = SearchPath("wine");
  }
  if (const char* launcher = std::getenv("VELOTRAX_WINE_LAUNCHER"); launcher != nullptr) {
    // Set but empty: no launcher, the plain "wine PROGRAM WORDS..." start.
    if (*launcher != '\0' && IsRunnableFile(launcher)) tools.launcher = launcher;
  } else if (const std::string own = OwnDirectory(); !own.empty()) {
    const std::string beside = own + "/" + std::string(WineLauncherName);
    struct stat st;
    if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode)) tools.launcher = beside;
  }
  return tools;
}

EmulatorInvocation ForThisPlatform(const EmulatorInvocation& pass) {
  const std::string program = AbsoluteProgramPath(pass.ApplicationName);
  RefuseIrregularProgramFile(program);
  if (!IsWindowsExecutable(program)) return pass;
  return RunThroughWine(pass, FindWineTools());
}

}  // namespace velotrax
