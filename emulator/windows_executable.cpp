#include "emulator/windows_executable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "process/child_start.h"

namespace velotrax {

namespace {

// Reads exactly n bytes at offset; false on a short read or an error.
bool ReadAt(int fd, void* buffer, std::size_t n, off_t offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd, bytes + done, n - done, offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

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

// The runner resolves a relative program against our own directory; the launcher runs in the
// pass's directory, so it must be told the same file by its absolute name.
std::string Absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::vector<char> cwd(PATH_MAX + 1);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  return std::string(cwd.data()) + "/" + path;
}

}  // namespace

bool IsWindowsExecutable(const std::string& path) noexcept {
  // The type first: opening a named pipe or a device could wait for ever or have effects.
  struct stat named;
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  // Something else may take its place in between: opening never waits, and the file opened is
  // looked at again.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  bool windows = false;
  struct stat st;
  unsigned char dos[64];
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAt(fd, dos, sizeof dos, 0) &&
      dos[0] == 'M' && dos[1] == 'Z') {
    // e_lfanew, the offset of the PE header, is the little-endian 32-bit word at 0x3C.
    const uint32_t pe_offset =
        static_cast<uint32_t>(dos[0x3C]) | static_cast<uint32_t>(dos[0x3D]) << 8 |
        static_cast<uint32_t>(dos[0x3E]) << 16 | static_cast<uint32_t>(dos[0x3F]) << 24;
    unsigned char signature[4];
    windows = pe_offset >= 4 && static_cast<off_t>(pe_offset) <= st.st_size - 4 &&
              ReadAt(fd, signature, sizeof signature, static_cast<off_t>(pe_offset)) &&
              signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
  }
  close(fd);
  return windows;
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

std::string QuoteCommandLineWord(std::string_view word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(word);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; elsewhere they stand as is.
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted.push_back(c);
  }
  // Before the closing quote they are doubled too.
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

EmulatorInvocation RunThroughWine(const EmulatorInvocation& pass, const WineTools& tools) {
  if (tools.wine.empty()) {
    const std::string reason =
        tools.setting.empty()
            ? "no \"wine\" was found in PATH. Install Wine (on Debian: apt-get install wine) or "
              "set VELOTRAX_WINE to the wine program."
            : "VELOTRAX_WINE names \"" + tools.setting + "\", which is no program that can be run.";
    throw EOSError("\"" + pass.ApplicationName +
                       "\" is a Windows program; Wine is needed to run it on this computer, but " +
                       reason,
                   ENOENT);
  }
  EmulatorInvocation wine;
  wine.CurrentDirectory = pass.CurrentDirectory;
  wine.ApplicationName = tools.wine;
  wine.CommandLine = QuoteCommandLineWord(tools.wine) + " ";
  if (!tools.launcher.empty()) {
    // The launcher starts the program with this very command line, so it sees the emulator's
    // command line as it stands, its own bare name first.
    wine.CommandLine += QuoteCommandLineWord(tools.launcher) + " " +
                        QuoteCommandLineWord(Absolute(pass.ApplicationName)) + " " +
                        QuoteCommandLineWord(pass.CommandLine);
    return wine;
  }
  // Wine puts the program's Windows path first and quotes the other words again itself.
  wine.CommandLine += QuoteCommandLineWord(Absolute(pass.ApplicationName));
  const std::vector<std::string> words = SplitCommandLine(pass.CommandLine);
  for (std::size_t i = 1; i < words.size(); ++i) {
    wine.CommandLine += " " + QuoteCommandLineWord(words[i]);
  }
  return wine;
}

EmulatorInvocation ForThisPlatform(const EmulatorInvocation& pass) {
  const std::string program = Absolute(pass.ApplicationName);
  RefuseIrregularProgramFile(program);
  if (!IsWindowsExecutable(program)) return pass;
  return RunThroughWine(pass, FindWineTools());
}

}  // namespace velotrax
