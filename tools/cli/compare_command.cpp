// velotrax-cli compare: two exported runs side by side, game by game and method by method, with
// a rank test telling a real difference from the noise of the passes.
#include <cstdio>
#include <string>
#include <vector>

#include "results/run_comparison.h"
#include "results/text_output.h"
#include "tools/cli/cli.h"

namespace velotrax::cli {

namespace {

constexpr const char* kCompareHelp =
    "Usage: velotrax-cli compare A.json B.json\n"
    "\n"
    "Compares two runs exported with 'velotrax-cli run --export-json', game by game and method\n"
    "by method: the median of each, the change from A to B in per cent with its 95 % interval\n"
    "(Hodges-Lehmann), and whether the difference is larger than the noise of the passes: it\n"
    "is when the interval leaves out 0, which is when the Mann-Whitney U test (two-sided, ties\n"
    "counting against a difference) gives p < 0.05. Use it for two emulator builds or two\n"
    "settings, or to see by how much two machines differ. A difference needs several passes on\n"
    "each side (4 and 4, 3 and 5 or 2 and 8 at least): run with --repeat or --confidence.\n"
    "Runs measured with warnings, or on different machines, get the figures but no verdict.\n"
    "Each file must be a regular file of at most 2 MiB with at most 10000 passes of a game\n"
    "and method.\n";

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Describe(const char* label, const RunExport& e) {
  std::string line = std::string(label) + ": " + TerminalText(DisplayText(e.path)) + " (" +
                     (e.date.empty() ? "no date" : TerminalText(e.date)) + ", " +
                     (e.cpu_model.empty() ? "unknown CPU" : TerminalText(e.cpu_model)) + ", " +
                     TerminalText(e.emulator) +
                     (e.version.empty() ? "" : " " + TerminalText(e.version)) + ")";
  if (!e.warning_kinds.empty()) {
    line += "\n   measured with warnings:";
    for (const std::string& kind : e.warning_kinds) line += " " + TerminalText(kind);
  }
  return line + "\n";
}

std::string PadTo(const std::string& text, std::size_t width, bool right) {
  const std::size_t shown = DisplayWidth(text);
  if (shown >= width) return text;
  const std::string fill(width - shown, ' ');
  return right ? fill + text : text + fill;
}

// "Only in A: 720 DDraw, asteroid DDraw", or nothing when every result has its counterpart.
std::string OnlyIn(const char* label, const RunExport& in, const RunExport& other) {
  std::string names;
  for (const ExportedSeries& s : in.series) {
    if (FindSeries(other, s) == nullptr) names += (names.empty() ? "" : ", ") + SeriesName(s);
  }
  return names.empty() ? "" : "Only in " + std::string(label) + ": " + names + "\n";
}

std::string CompareLine(const ExportedSeries& a, const ExportedSeries& b, bool judge) {
  std::string line = PadTo(TerminalText(a.rom), 10, false) + " " +
                     PadTo(a.method == "d3d" ? "D3D" : "DDraw", 6, false) + " ";
  const SeriesComparison compared = CompareSeries(a, b, judge);
  line += PadTo(a.passes.empty() ? "-" : Format("%.1f", compared.median_a), 9, true) + " " +
          PadTo(b.passes.empty() ? "-" : Format("%.1f", compared.median_b), 9, true) + "  ";
  if (compared.verdict == Verdict::no_frame_rate) {
    return line + VerdictText(compared.verdict) + "\n";
  }
  const Shift& shift = compared.shift;
  const double scale = 100.0 / compared.median_a;
  line += PadTo(Format("%+.1f%%", shift.estimate * scale), 7, true) + "  ";
  std::string interval = "-";
  if (shift.interval.bounded) {
    interval = Format("%+.1f%%", shift.interval.low * scale) + " to " +
               Format("%+.1f%%", shift.interval.high * scale);
  }
  line += PadTo(interval, 19, false) + " " +
          PadTo(shift.p < 0.0001 ? "<0.0001" : Format("%.4f", shift.p), 7, true) + "  ";
  line += VerdictText(compared.verdict);
  if (compared.verdict == Verdict::withheld) line += " (see below)";
  return line + "\n";
}

}  // namespace

int CompareCommand(const std::vector<std::string>& args) {
  if (PrintHelpIfAsked(args, kCompareHelp)) return kExitSuccess;
  std::vector<std::string> files;
  ArgumentScanner scan(args);
  while (scan.Next()) {
    if (scan.IsOption()) throw UsageError("unknown option '" + scan.Word() + "'");
    files.push_back(scan.Word());
  }
  if (files.size() != 2) throw UsageError("compare wants two exported runs, A and B");
  const RunExport a = LoadExport(files[0]), b = LoadExport(files[1]);
  RequireCommonSeries(a, b);

  std::string out = Describe("A", a) + Describe("B", b) + "\n";
  out +=
      "Game       Method  A median  B median   Change  95% interval of it      p      "
      "Verdict\n";
  const std::string no_verdict = NoVerdictReason(a, b);
  for (const ExportedSeries& s : a.series) {
    if (const ExportedSeries* other = FindSeries(b, s)) {
      out += CompareLine(s, *other, no_verdict.empty());
    }
  }
  out += OnlyIn("A", a, b) + OnlyIn("B", b, a);
  if (!no_verdict.empty()) out += "\n" + no_verdict;
  out +=
      "\nChange: the shift from A to B (Hodges-Lehmann) in per cent of A's median; p: "
      "Mann-Whitney U, two-sided,\nties counting against a change; beyond the noise when the "
      "interval leaves out 0, that is when p < 0.05.\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitSuccess;
}

}  // namespace velotrax::cli
