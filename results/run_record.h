// What a run of passes measured and under which conditions, and its export as JSON (read back
// to compare two runs) or Markdown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/state.h"
#include "results/conditions.h"
#include "results/statistics.h"

namespace velotrax::results {

// The emulator a run used. The version is empty when the emulator does not tell it.
struct EmulatorIdentity {
  std::string file;     // the emulator file's name, as velotrax.ini names it
  std::string dialect;  // the command line it was given: "classic" or "current"
  std::string version;
};

// The emulator of the workspace as far as this tool can tell it.
EmulatorIdentity IdentifyEmulator(ProgramState& state);

// The passes of one game and method.
struct SeriesRecord {
  int game = 0;
  std::string rom;
  bool is_d3d = false;
  std::vector<int32_t> warmup, passes;  // frames per second, in the order run
  int32_t stored = 0;                   // the score stored in mark.dat: the median
  Interval interval;                    // 95 % interval of the median
  std::vector<std::size_t> outliers;    // indices into passes
  std::string stop;                     // why no further pass was run
};

// The score of passes: the middle one; with an even number the mean of the two middle ones,
// rounded down.
int32_t MedianScore(std::vector<int32_t> rates);

// What the passes of series give once rule has stopped them: the score stored, the interval
// reported and the outliers.
void FinishSeries(SeriesRecord& series, const StopRule& rule);

// How the run was asked for.
struct RunSettings {
  std::string mode = "ddraw";
  int warmup = 0;
  int repeat = 1;         // passes per game and method without --confidence
  double confidence = 0;  // per cent; 0 without --confidence
  int min_runs = 0, max_runs = 0;
  // What kept the passes steady; all off in a run without these measures, whose export then
  // reads as before them.
  int processor = -1;            // the one the emulator ran on; -1: wherever the system put it
  bool raised_priority = false;  // the emulator started a little above other programs
  bool auto_warmup = false;      // a first pass that ran cold was not counted
  bool Isolated() const { return processor >= 0 || raised_priority || auto_warmup; }
};

struct RunRecord {
  std::string date;  // UTC, ISO 8601
  std::string velotrax_version;
  MachineFacts machine;
  EmulatorIdentity emulator;
  RunSettings settings;
  std::vector<SeriesRecord> series;
  std::vector<Warning> warnings;
};

// The time now as "2026-12-08T12:34:56Z".
std::string UtcNow();

// This program's version.
std::string VelotraxVersion();

// The record as a JSON document (format "velotrax-run/1").
std::string ExportJson(const RunRecord& record);

// The record as a Markdown report: conditions, one table row per game and method, warnings.
std::string ExportMarkdown(const RunRecord& record);

// "DDraw" or "D3D", as the tool prints methods.
const char* MethodName(bool is_d3d);

}  // namespace velotrax::results
