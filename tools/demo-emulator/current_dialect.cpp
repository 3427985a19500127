#include "tools/demo-emulator/current_dialect.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/state.h"
#include "tools/demo-emulator/scene.h"

namespace velotrax::demo {

namespace {

constexpr const char* kBanner = "Velotrax demo emulator v1.0 (a stand-in, not an emulator)";
constexpr long kMostSeconds = 100000;

// The options a current build lists, those the demo takes, with their help texts.
constexpr struct {
  const char* name;
  bool takes_value;
  const char* help;
} kOptions[] = {
    {"-readconfig", false, "enable loading of configuration files"},
    {"-rompath", true, "path to ROM sets and hard disk images"},
    {"-seconds_to_run", true, "number of emulated seconds to run before automatically exiting"},
    {"-throttle", false, "throttle emulation to keep system running in sync with real time"},
    {"-skip_gameinfo", false, "skip displaying the system information screen at startup"},
    {"-video", true, "video output method: none, soft or opengl"},
    {"-window", false, "enable window mode; otherwise, full screen mode is assumed"},
    {"-resolution", true, "preferred resolution for all screens"},
    {"-sound", true, "sound output method: none"},
    {"-mouse", false, "enable mouse input"},
    {"-joystick", false, "enable joystick input"},
};

// The option a word names: "-str" is short for -seconds_to_run, "-noX" negates the switch -X.
const char* OptionNamed(std::string_view word, bool& takes_value) {
  if (word == "-str") word = "-seconds_to_run";
  for (const auto& option : kOptions) {
    const std::string_view name = option.name;
    const bool negated = !option.takes_value && word.size() > 3 && word.substr(0, 3) == "-no" &&
                         word.substr(3) == name.substr(1);
    if (word == name || negated) {
      takes_value = option.takes_value;
      return option.name;
    }
  }
  return nullptr;
}

bool IsGame(const std::string& rom) {
  ProgramState catalogue;
  BuildCatalogue(catalogue);
  for (int i = 1; i < game_count; ++i) {
    if (catalogue.games[i].rom == rom) return true;
  }
  return false;
}

// Each game has a refresh rate of its own, between 55 and 61 Hz.
double RefreshFor(const std::string& rom) {
  return 55.0 + static_cast<double>(ShapeForGame(rom).seed % 60) / 10.0;
}

int ListXml(const std::string& rom) {
  if (!IsGame(rom)) {
    std::fprintf(stderr, "No matching machines found for '%s'\n", rom.c_str());
    return 1;
  }
  std::printf("<?xml version=\"1.0\"?>\n<mame build=\"demo\">\n");
  std::printf("\t<machine name=\"%s\" sourcefile=\"demo.cpp\">\n", rom.c_str());
  std::printf(
      "\t\t<display tag=\"screen\" type=\"raster\" rotate=\"0\" width=\"%d\" height=\"%d\" "
      "refresh=\"%.6f\" />\n",
      kScreenWidth, kScreenHeight, RefreshFor(rom));
  std::printf("\t</machine>\n</mame>\n");
  return 0;
}

int Pass(const std::vector<std::string>& args) {
  const std::string& rom = args[0];
  long seconds = 0;
  std::string video = "soft";
  for (std::size_t i = 1; i < args.size(); ++i) {
    bool takes_value = false;
    const char* name = OptionNamed(args[i], takes_value);
    if (name == nullptr || (takes_value && i + 1 >= args.size())) {
      std::printf("Error: unknown option: %s\n", args[i].c_str());
      return 6;
    }
    if (!takes_value) continue;
    const std::string& value = args[++i];
    if (std::string_view(name) == "-seconds_to_run") {
      char* end = nullptr;
      seconds = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || seconds < 0 || seconds > kMostSeconds) seconds = 0;
    } else if (std::string_view(name) == "-video") {
      video = value;
    }
  }
  if (!IsGame(rom)) {
    std::printf("Unknown system '%s'\n", rom.c_str());
    return 5;
  }
  const double refresh = RefreshFor(rom);
  long frames = seconds > 0 ? std::lround(seconds * refresh) : 1000000;
  // Tests ask for fewer frames than a real pass runs.
  if (const char* lower = std::getenv("VELOTRAX_DEMO_FRAMES"); lower && *lower) {
    const long count = std::atol(lower);
    if (count > 0 && count < frames) frames = count;
  }

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("%s\nIts figures are no measure of any emulator.\n", kBanner);
  Scene scene(ShapeForGame(rom), video == "opengl");
  const auto start = std::chrono::steady_clock::now();
  if (video != "none") {
    for (long frame = 1; frame <= frames; ++frame) scene.RenderFrame(static_cast<int>(frame));
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double real = elapsed.count() > 0 ? elapsed.count() : 1e-9;
  // Like a current build, the speed of the emulated time against the real time, the first
  // emulated second left out of the count.
  std::printf("Average speed: %.2f%% (%ld seconds)\n",
              100.0 * static_cast<double>(frames) / refresh / real,
              std::max(0L, std::lround(frames / refresh) - 1));
  return 0;
}

}  // namespace

bool SpeaksCurrentDialect(const std::string& program_name, const std::vector<std::string>& args) {
  const std::size_t slash = program_name.rfind('/');
  const std::string base = program_name.substr(slash == std::string::npos ? 0 : slash + 1);
  if (base == "mame") return true;
  // Under a Windows build's name it is a described build, which refuses the usage question.
  const bool windows_name = base.size() > 4 && base.compare(base.size() - 4, 4, ".exe") == 0;
  for (const std::string& arg : args) {
    if ((arg == "-showusage" && !windows_name) || arg == "-listxml" || arg == "-str" ||
        arg == "-seconds_to_run" || arg == "-video") {
      return true;
    }
  }
  return false;
}

int RunCurrentDialect(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "-help") {
    std::printf("%s\n\nUsage: mame [machine] [options]\n", kBanner);
    return args.empty() ? 1 : 0;
  }
  if (args[0] == "-showusage") {
    std::printf("Usage:  mame [machine] [options]\n\nOptions:\n\n");
    for (const auto& option : kOptions) std::printf("%-20s %s\n", option.name, option.help);
    return 0;
  }
  if (args[0] == "-listxml") return ListXml(args.size() > 1 ? args[1] : "");
  return Pass(args);
}

}  // namespace velotrax::demo
