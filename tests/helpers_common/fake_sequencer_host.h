// The main window as the benchmark sequencer sees it, for tests that run whole passes through
// the real runner on a plain event loop: the read event goes to OnOutputLine, the end event to
// OnPassEnd, and an error that escapes a handler is noted as the application's guard would show
// it.
#pragma once

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/sequencer.h"
#include "emulator/emulator_contract.h"
#include "emulator/emulator_dialect.h"
#include "process/event_loop.h"

namespace velotrax::testing {

class FakeSequencerHost : public SequencerHost {
 public:
  explicit FakeSequencerHost(ProgramState& state) : state_(state), runner_(loop_) {
    ConfigureEmulatorRunner(runner_, {});
    runner_.OnRead = [this](TJvCreateProcess&, std::string_view line, bool starts_on_new_line) {
      OnOutputLine(state_, line, starts_on_new_line);
    };
    runner_.OnTerminate = [this](TJvCreateProcess&, uint32_t exit_code) {
      exit_codes.push_back(exit_code);
      try {
        OnPassEnd(state_, *this, exit_code);
      } catch (const Exception& e) {
        errors.push_back(e.what());
      }
    };
  }

  int selected = 1;
  PassMode mode = PassMode::ddraw;
  std::string status;
  int busy = 0, restored = 0, refreshes = 0;
  std::vector<uint32_t> exit_codes;  // one per finished pass
  std::vector<std::string> errors;

  int SelectedGame() const override { return selected; }
  PassMode CheckedPassMode() const override { return mode; }
  void SetStatusText(const std::string& text) override { status = text; }
  void ShowBusyCursors() override { ++busy; }
  void RestoreCursors() override { ++restored; }
  void RefreshComparison() override { ++refreshes; }
  TJvCreateProcess& Runner() override { return runner_; }

  // Runs the loop until count passes have ended in all, or the (generous) limit.
  bool WaitForPassEnds(std::size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    return loop_.RunUntil([&] { return exit_codes.size() >= count; }, limit);
  }
  EventLoop& Loop() { return loop_; }

 private:
  ProgramState& state_;
  EventLoop loop_;
  TJvCreateProcess runner_;
};

// A state ready for passes in dir, with the emulator "mame.exe" a link to program.
inline bool PrepareBenchmarkState(ProgramState& state, const std::string& dir,
                                  const std::string& program) {
  BuildCatalogue(state);
  state.base_dir = dir + "/";
  state.mame_file = "mame.exe";
  state.current_game = 1;
  state.d3d_options = std::string(D3DOptionString);
  state.ddraw_options = std::string(DDrawOptionString);
  return program.empty() || ::symlink(program.c_str(), (dir + "/mame.exe").c_str()) == 0;
}

}  // namespace velotrax::testing
