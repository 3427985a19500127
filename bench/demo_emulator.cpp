// Frames per second of the demo emulator on both paths for a few games, as it reports them at
// its end, with the cost of the Direct3D path's scaling and filtering as a ratio and the time a
// full 5000-frame pass would take.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulator_contract.h"

extern char** environ;

namespace {

constexpr const char* kFrames = "400";
constexpr int kFullPass = 5000;

struct Report {
  double fps = 0;
  std::string shape;
};

// Runs one pass of the demo emulator and reads its banner's scene line and its closing line.
Report RunPass(const std::string& rom, std::string_view options) {
  std::vector<std::string> words = {"mame.exe", rom};
  for (const std::string& word : velotrax::SplitCommandLine(options)) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = 0;
  const int started =
      posix_spawn(&pid, VELOTRAX_DEMO_EMULATOR, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  if (started == 0) waitpid(pid, nullptr, 0);

  Report report;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Average FPS: ", 0) == 0) report.fps = std::atof(line.c_str() + 13);
    if (line.rfind("Game ", 0) == 0) report.shape = line.substr(line.find(':') + 2);
  }
  return report;
}

}  // namespace

int main() {
  setenv("VELOTRAX_DEMO_FRAMES", kFrames, 1);
  std::printf("Demo emulator, %s frames per pass at 1280x1024x32 (a stand-in, not an emulator)\n\n",
              kFrames);
  std::printf("%-9s %-54s %9s %9s %9s %12s\n", "game", "scene", "DDraw fps", "D3D fps", "D3D/DDraw",
              "5000 frames");
  for (const char* rom : {"pacman", "dkong", "galaxian", "sf2ce", "outrun", "tekken3", "kof2000"}) {
    const Report ddraw = RunPass(rom, velotrax::DDrawOptionString);
    const Report d3d = RunPass(rom, velotrax::D3DOptionString);
    const double ratio = ddraw.fps > 0 ? d3d.fps / ddraw.fps : 0;
    const double seconds =
        (ddraw.fps > 0 && d3d.fps > 0) ? kFullPass / ddraw.fps + kFullPass / d3d.fps : 0;
    std::printf("%-9s %-54s %9.1f %9.1f %9.2f %10.1f s\n", rom, ddraw.shape.c_str(), ddraw.fps,
                d3d.fps, ratio, seconds);
  }
  std::printf("\nThe last column is a combined benchmark: one pass on each path.\n");
  return 0;
}
