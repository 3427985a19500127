// Comparing two exported runs game by game and method by method: the exports read back, the
// change from A to B with its interval and p, and the one verdict those figures give.
#pragma once

#include <string>
#include <vector>

#include "results/statistics.h"

namespace velotrax::results {

// The passes of one game and method in an export.
struct ExportedSeries {
  std::string rom, method;  // method: "ddraw" or "d3d"
  std::vector<double> passes;
};

// A run export read back.
struct RunExport {
  std::string path, date, cpu_model, kernel, emulator, version;
  double cores = 0;  // 0 when not recorded
  std::vector<ExportedSeries> series;
  std::vector<std::string> warning_kinds;
};

// Reads the export at path whole (a regular file of at most 2 MiB with at most 10000 passes of a
// game and method); throws EResultsError naming the file for one that is no run or holds
// passes or series it cannot use.
RunExport LoadExport(const std::string& path);

// The series of in with the game and method of like, or nullptr.
const ExportedSeries* FindSeries(const RunExport& in, const ExportedSeries& like);

// "720 DDraw": the game and method of a series, for the terminal.
std::string SeriesName(const ExportedSeries& series);

// Throws EResultsError when a and b have no game and method in common.
void RequireCommonSeries(const RunExport& a, const RunExport& b);

// Why the passes of a and b give figures but no verdict (warnings, different machines), one
// paragraph per reason; empty when they give one.
std::string NoVerdictReason(const RunExport& a, const RunExport& b);

// What the figures of one game and method say.
enum class Verdict { no_frame_rate, too_few_passes, withheld, faster, slower, within_noise };

// One game and method of A against B.
struct SeriesComparison {
  double median_a = 0, median_b = 0;
  Shift shift;  // of B against A; set unless the verdict is no_frame_rate
  Verdict verdict = Verdict::no_frame_rate;
};

// The figures of a against b and their verdict; withheld instead of a verdict unless judge.
SeriesComparison CompareSeries(const ExportedSeries& a, const ExportedSeries& b, bool judge);

// The verdict as a line of the comparison ends: "B faster, beyond the noise", ...
const char* VerdictText(Verdict verdict);

}  // namespace velotrax::results
