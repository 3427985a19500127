// Benchmark passes: turns "Start Benchmark" into one or two emulator runs, gathers the output and
// stores the frame rate. The main window implements SequencerHost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/state.h"
// ExtractFrameRate, the classic pass's reader, is declared there beside the other dialect's.
#include "emulator/emulator_dialect.h"
#include "process/create_process.h"

namespace velotrax {

// The status text once no pass runs.
inline constexpr const char* kReadyText = "Status : Ready";

// What the emulator left behind of a pass that measured nothing.
struct UnmeasuredPass {
  std::string pass;                     // "pacman using DDraw"
  uint32_t exit_code = 0;               // the emulator's exit code (128 + N when signal N ended it)
  std::string reason;                   // the emulator's own reason; empty when it gave none
  std::vector<std::string> last_lines;  // its last output lines, at most kReportedOutputLines
};

// How many of the emulator's last output lines a pass that measured nothing keeps.
inline constexpr std::size_t kReportedOutputLines = 5;

class EmulatorIdentification;

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
  // A pass ended without a frame rate; said before any error the pass end raises.
  virtual void ReportUnmeasuredPass(const UnmeasuredPass& pass) { (void)pass; }
  // Where the emulator is asked what it is without holding the UI thread; none: it is asked on
  // the spot when a pass starts.
  virtual EmulatorIdentification* Identification() { return nullptr; }
  // A pass has started; emulator says which file it runs, its dialect and its version.
  virtual void ShowMeasuredEmulator(const std::string& emulator) { (void)emulator; }
};

// File > Start Benchmark: one pass, or the DirectDraw pass of a combined benchmark.
void StartBenchmark(ProgramState& state, SequencerHost& host);
// Starts one pass for the game selected now with the method of pass_is_d3d; throws the runner's
// errors.
void StartPass(ProgramState& state, SequencerHost& host);
// The runner's read event: appends the line to the pass log, or, when it is a newer state of
// the line reported last (starts_on_new_line false), puts it in that line's place.
void OnOutputLine(PassState& state, std::string_view line, bool starts_on_new_line = true);
// The runner's end event: stores the frame rate and starts the Direct3D pass when one is due.
void OnPassEnd(ProgramState& state, SequencerHost& host, uint32_t exit_code);
// The report of a pass that measured nothing, several lines: what the emulator said, its exit
// code and its last output lines.
std::string UnmeasuredPassText(const UnmeasuredPass& pass);
// The emulator the running pass measures: "Emulator \"/w/mame\": current dialect, version 0.251
// (unknown)", or "... version unknown".
std::string MeasuredEmulatorText(const ProgramState& state);
// What is wrong with the emulator file at path after a start failed with the system's
// error_code, naming it: "the emulator \"/w/mame.exe\" is missing", "... is not executable ...",
// or "... could not be started".
std::string EmulatorFileProblem(const std::string& path, int error_code);

}  // namespace velotrax
