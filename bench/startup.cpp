// Start-up of the desktop program up to its visible main window, in a workspace without
// reference computers and in one with 255, measured side by side in one run. Each start is a
// fresh `velotrax` process that ends once its main window has been drawn
// (VELOTRAX_EXIT_ONCE_SHOWN); it runs on a virtual X screen when Xvfb is installed, otherwise on
// Qt's offscreen platform.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "process/child_start.h"
#include "storage/int_text.h"

namespace {

using namespace velotrax;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kComputers = 255;
constexpr int kRounds = 11;
constexpr double kTarget = 1.5;

std::string ReferenceText() {
  ProgramState state;
  BuildCatalogue(state);
  std::string text = "[0]\r\nreference=" + IntToText(kComputers) + "\r\n";
  for (int n = 1; n <= kComputers; ++n) {
    text += "[" + IntToText(n) + "]\r\ncpu=Reference PC " + IntToText(n) + ", " +
            IntToText(1000 + n * 7) + " MHz\r\n";
    for (int i = 1; i < game_count; ++i) {
      text += state.games[i].rom + "=" + IntToText(n * 7 + i) + "\r\n";
      text += state.games[i].rom + "a=" + IntToText(n * 11 + i) + "\r\n";
    }
  }
  return text;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A workspace the program starts in without the first-run disclaimer.
fs::path MakeWorkspace(const fs::path& root, const char* name, bool with_references) {
  const fs::path dir = root / name;
  fs::create_directories(dir);
  WriteFile(dir / "velotrax.ini",
            "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=1\r\n");
  if (with_references) WriteFile(dir / "reference.dat", ReferenceText());
  return dir;
}

// A virtual X server of its own for the whole run; its display number comes back on a pipe. It
// must not reset when its last client leaves: a reset writes the number again, to a pipe no one
// reads any more, and ends the server.
struct VirtualScreen {
  pid_t pid = -1;
  int number_pipe = -1;
  std::string display;

  bool Start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const std::string fd_text = std::to_string(fds[1]);
    // A display number of its own, away from the ones that test runs and desktops take, and
    // not the one a run just before may have left.
    int number = 140 + static_cast<int>(::getpid() % 50);
    while (::access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) {
      ++number;
    }
    std::vector<std::string> args = {"Xvfb",       ":" + std::to_string(number),
                                     "-displayfd", fd_text,
                                     "-nolisten",  "tcp",
                                     "-noreset",   "-screen",
                                     "0",          "1280x1024x24"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
      ::close(fds[0]);
      pid = -1;
      return false;
    }
    pollfd p = {fds[0], POLLIN, 0};
    char buffer[32] = {};
    ssize_t n = 0;
    if (::poll(&p, 1, 10000) == 1) n = ::read(fds[0], buffer, sizeof buffer - 1);
    // Kept open: a server that writes its number again must not die of a closed pipe.
    number_pipe = fds[0];
    if (n <= 0) return false;
    // Ready once its socket is there.
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 500 && ::access(socket.c_str(), F_OK) != 0; ++i) ::usleep(10 * 1000);
    display = ":" + std::string(buffer, static_cast<std::size_t>(n));
    while (!display.empty() && (display.back() == '\n' || display.back() == ' '))
      display.pop_back();
    return true;
  }

  ~VirtualScreen() {
    if (number_pipe >= 0) ::close(number_pipe);
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

// Milliseconds from the start of a fresh program in dir until it has ended after drawing its
// main window; negative when it failed or took longer than half a minute.
double TimeStart(const std::string& program, const fs::path& dir,
                 const std::vector<std::string>& environment) {
  std::vector<char*> envp;
  std::vector<std::string> env = environment;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  // What the program says goes to a file beside the workspace, shown when a start fails.
  const std::string log = (dir.parent_path() / "stderr.txt").string();
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  pid_t pid = -1;
  const auto start = Clock::now();
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - start > std::chrono::seconds(30)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    ::usleep(500);
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ms;
  std::printf("%s in %s: %s %d after %.0f ms; it said:\n", program.c_str(), dir.c_str(),
              WIFEXITED(status) ? "exit code" : "signal",
              WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status), ms);
  std::ifstream said(log);
  std::string line;
  while (std::getline(said, line)) std::printf("  %s\n", line.c_str());
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const std::string program = (self.parent_path() / "velotrax").string();
  if (::access(program.c_str(), X_OK) != 0) {
    std::printf("%s is not built: nothing to measure\n", program.c_str());
    return 0;
  }

  std::string root = (fs::temp_directory_path() / "velotrax-startup-XXXXXX").string();
  if (::mkdtemp(root.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path none = MakeWorkspace(root, "none", false);
  const fs::path many = MakeWorkspace(root, "many", true);
  // A workspace's files are old when the program starts; one changed within the last seconds is
  // compared by contents whenever it is looked at, which is not what this measures.
  std::this_thread::sleep_for(std::chrono::seconds(3));

  VirtualScreen screen;
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("QT_QPA_PLATFORM=", 0) == 0 ||
        entry.rfind("WAYLAND_DISPLAY=", 0) == 0) {
      continue;
    }
    environment.push_back(entry);
  }
  environment.push_back("VELOTRAX_EXIT_ONCE_SHOWN=1");
  std::string platform;
  if (!child::SearchPath("Xvfb").empty() && screen.Start()) {
    environment.push_back("DISPLAY=" + screen.display);
    environment.push_back("QT_QPA_PLATFORM=xcb");
    platform = "Xvfb " + screen.display;
  } else {
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    platform = "Qt offscreen (no Xvfb)";
  }

  // One start of each first, so that both measured series find the same warm caches.
  // A fresh server may still turn the very first client away: that start gets two more tries.
  bool ok = false;
  for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
    if (attempt > 0) ::usleep(300 * 1000);
    ok = TimeStart(program, none, environment) >= 0;
  }
  ok = ok && TimeStart(program, many, environment) >= 0;
  std::vector<double> with_none, with_many, ratios;
  for (int round = 0; round < kRounds && ok; ++round) {
    // Alternating which goes first, so that neither always follows the other.
    const bool none_first = round % 2 == 0;
    const double a = TimeStart(program, none_first ? none : many, environment);
    const double b = TimeStart(program, none_first ? many : none, environment);
    ok = a >= 0 && b >= 0;
    with_none.push_back(none_first ? a : b);
    with_many.push_back(none_first ? b : a);
    ratios.push_back(with_many.back() / with_none.back());
  }
  fs::remove_all(root);
  if (!ok) {
    std::printf("a start of %s failed or hung (platform: %s)\n", program.c_str(), platform.c_str());
    return 1;
  }

  const double ratio = Median(with_many) / Median(with_none);
  std::printf("start-up to the visible main window, %d rounds, platform: %s\n", kRounds,
              platform.c_str());
  std::printf("%-34s %10s %10s %10s\n", "workspace", "median ms", "best ms", "worst ms");
  const auto row = [](const char* name, const std::vector<double>& v) {
    std::printf("%-34s %10.1f %10.1f %10.1f\n", name, Median(v),
                *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
  };
  row("no reference computers", with_none);
  row("255 reference computers", with_many);
  std::printf("\nratio 255 / none (medians): %.2f, per round %.2f to %.2f; target <= %.1f%s\n",
              ratio, *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()), kTarget,
              ratio <= kTarget ? "" : "  MISSED");
  return 0;
}
