// Benchmark passes: turns "Start Benchmark" into one or two emulator runs, gathers the output and
// stores the frame rate. The main window implements SequencerHost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/state.h"
#include "process/create_process.h"

namespace velotrax {

// The status text once no pass runs.
inline constexpr const char* kReadyText = "Status : Ready";

// What the sequencer needs of the windows.
class SequencerHost {
 public:
  virtual ~SequencerHost() = default;
  // Item index of rom_selector.
  virtual int SelectedGame() const = 0;
  // The checked radio button of the Preferences dialog.
  virtual PassMode CheckedPassMode() const = 0;
  // The status bar's first panel.
  virtual void SetStatusText(const std::string& text) = 0;
  // Hourglass on every object of the busy set.
  virtual void ShowBusyCursors() = 0;
  // Default pointer on every object of the restore set.
  virtual void RestoreCursors() = 0;
  // RefreshComparison of the main window.
  virtual void RefreshComparison() = 0;
  // The main window's runner, mame.
  virtual TJvCreateProcess& Runner() = 0;
};

// File > Start Benchmark: one pass, or the DirectDraw pass of a combined benchmark.
void StartBenchmark(ProgramState& state, SequencerHost& host);
// Starts one pass for the game selected now with the method of pass_is_d3d; throws the runner's
// errors.
void StartPass(ProgramState& state, SequencerHost& host);
// The runner's read event: appends the line to the pass log, or, when it is a newer state of
// the line reported last (starts_on_new_line false), puts it in that line's place.
void OnOutputLine(ProgramState& state, std::string_view line, bool starts_on_new_line = true);
// The runner's end event: stores the frame rate and starts the Direct3D pass when one is due.
void OnPassEnd(ProgramState& state, SequencerHost& host, uint32_t exit_code);
// The integer frames per second of the first "FPS" line with a separator, or 0; throws
// EConvertError.
int32_t ExtractFrameRate(const std::vector<std::string>& lines);

}  // namespace velotrax
