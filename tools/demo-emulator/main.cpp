// A stand-in emulator, so that Velotrax can be tried without an emulator of one's own and its
// end-to-end tests can run a real child. It takes the emulator's command line for one of the 54
// games, draws a made-up scene for the requested number of frames and reports the frame rate
// the way the emulator does; under the name "mame" it answers as a current build does. Its
// figures say nothing about any emulator.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/state.h"
#include "emulator/emulator_contract.h"
#include "tools/demo-emulator/current_dialect.h"
#include "tools/demo-emulator/scene.h"

namespace {

constexpr int kMostFrames = 1000000;
constexpr int kProgressEvery = 100;

struct Run {
  std::string rom, driver;
  bool direct3d = false;
  int frames = 0;
};

// A whole positive number of frames, or nothing.
std::optional<int> FrameCount(const std::string& text) {
  if (text.empty() || text.size() > 7) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMostFrames) return std::nullopt;
  return value;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "Error: %s\n", message.c_str());
  return 1;
}

// True when the words are the option string's, the frame count after -ftr aside.
bool MatchesOptions(const std::vector<std::string>& words, const std::vector<std::string>& expected,
                    int& frames) {
  if (words.size() != expected.size()) return false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0 && expected[i - 1] == "-ftr") {
      const std::optional<int> count = FrameCount(words[i]);
      if (!count) return false;
      frames = *count;
    } else if (words[i] != expected[i]) {
      return false;
    }
  }
  return true;
}

// Reads the command line; on a fault prints it the way an emulator would and gives the exit
// code.
std::optional<Run> ReadCommandLine(int argc, char** argv, int& exit_code) {
  exit_code = 1;
  if (argc < 2) {
    Fail("no game given\nUsage: " + std::string(argc > 0 ? argv[0] : "mame") + " game options");
    return std::nullopt;
  }
  Run run;
  run.rom = argv[1];
  velotrax::ProgramState catalogue;
  velotrax::BuildCatalogue(catalogue);
  for (int i = 1; i < velotrax::game_count; ++i) {
    if (catalogue.games[i].rom == run.rom) run.driver = catalogue.games[i].driver;
  }
  if (run.driver.empty()) {
    Fail("\"" + run.rom + "\" is not a game this demo emulator knows");
    return std::nullopt;
  }

  const std::vector<std::string> words(argv + 2, argv + argc);
  const std::vector<std::string> ddraw = velotrax::SplitCommandLine(velotrax::DDrawOptionString);
  const std::vector<std::string> d3d = velotrax::SplitCommandLine(velotrax::D3DOptionString);
  if (MatchesOptions(words, ddraw, run.frames)) {
    run.direct3d = false;
  } else if (MatchesOptions(words, d3d, run.frames)) {
    run.direct3d = true;
  } else {
    for (std::size_t i = 0; i < words.size(); ++i) {
      const bool is_count = i > 0 && words[i - 1] == "-ftr";
      bool known = is_count;
      for (const auto* list : {&ddraw, &d3d}) {
        for (const std::string& option : *list) known = known || option == words[i];
      }
      if (is_count && !FrameCount(words[i])) {
        Fail("-ftr wants a number of frames from 1 to 1000000, not \"" + words[i] + "\"");
        return std::nullopt;
      }
      if (!known) {
        Fail("unknown option: " + words[i]);
        return std::nullopt;
      }
    }
    Fail("these options ask for neither a DirectDraw nor a Direct3D benchmark run; expected\n  " +
         std::string(velotrax::DDrawOptionString) + "\nor\n  " +
         std::string(velotrax::D3DOptionString));
    return std::nullopt;
  }

  // Tests ask for fewer frames than a real pass runs.
  if (const char* lower = std::getenv("VELOTRAX_DEMO_FRAMES"); lower && *lower) {
    const std::optional<int> count = FrameCount(lower);
    if (!count) {
      Fail("VELOTRAX_DEMO_FRAMES must be a number of frames from 1 to 1000000, not \"" +
           std::string(lower) + "\"");
      return std::nullopt;
    }
    if (*count < run.frames) run.frames = *count;
  }
  exit_code = 0;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  // Shows the words that reached the program, to check how a launcher hands them on.
  if (const char* show = std::getenv("VELOTRAX_DEMO_SHOW_ARGS"); show && *show) {
#ifdef _WIN32
    std::printf("Command line: %s\n", GetCommandLineA());
#endif
    for (int i = 0; i < argc; ++i) std::printf("Argument %d: %s\n", i, argv[i]);
  }
  // Under the name "mame", or asked with a current build's options, it answers as one.
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (velotrax::demo::SpeaksCurrentDialect(argc > 0 ? argv[0] : "", args)) {
    return velotrax::demo::RunCurrentDialect(args);
  }
  int exit_code = 0;
  const std::optional<Run> run = ReadCommandLine(argc, argv, exit_code);
  if (!run) return exit_code;

    // The output goes to a pipe: lines must not wait in a buffer until the end.
#ifdef _WIN32
  // The Windows C library has no line buffering (it takes _IOLBF for whole blocks).
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
  namespace demo = velotrax::demo;
  const demo::SceneShape shape = demo::ShapeForGame(run->rom);
  std::printf("Velotrax demo emulator: a stand-in for trying Velotrax, not an emulator.\n");
  std::printf(
      "It draws a made-up scene in software; its figures are no measure of any emulator.\n");
  std::printf("Game %s (%s): %d tile layer(s) of %dx%d tiles, %d sprites of %dx%d\n",
              run->rom.c_str(), run->driver.c_str(), shape.layers, shape.tile_size, shape.tile_size,
              shape.sprites, shape.sprite_size, shape.sprite_size);
  std::printf("Path %s, %dx%dx32, %d frames\n",
              run->direct3d ? "Direct3D (scaled and filtered)" : "DirectDraw", demo::kScreenWidth,
              demo::kScreenHeight, run->frames);

  demo::Scene scene(shape, run->direct3d);
  const auto start = std::chrono::steady_clock::now();
  for (int frame = 1; frame <= run->frames; ++frame) {
    scene.RenderFrame(frame);
    if (frame % kProgressEvery == 0 || frame == run->frames) {
      std::printf("\rFrame %7d of %d", frame, run->frames);
      std::fflush(stdout);
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double seconds = elapsed.count() > 0 ? elapsed.count() : 1e-9;

  std::printf("\nScene checksum %08x\n", scene.Checksum());
  std::printf("Average FPS: %f (%d frames)\n", run->frames / seconds, run->frames);
  std::fflush(stdout);
  return 0;
}
