// velotrax-cli compare: two exported runs side by side, game by game and method by method, with
// a rank test telling a real difference from the noise of the passes.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "storage/files.h"
#include "tools/cli/cli.h"
#include "tools/cli/json_reader.h"
#include "tools/cli/statistics.h"
#include "tools/cli/text_output.h"

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

// The significance level of the verdict.
constexpr double kLevel = 0.05;
// What an export may hold. The largest run makes 1000 passes and 100 warm-up passes of each of
// 54 games and two methods: about 0.7 MiB with four-digit rates. The bounds leave room for that
// and keep a file that is no export from filling the memory (every number read takes about 100
// bytes while it is read).
constexpr std::size_t kLargestExport = 2 * 1024 * 1024;
constexpr std::size_t kMostPasses = 10000;

struct Series {
  std::string rom, method;
  std::vector<double> passes;
};

struct Export {
  std::string path, date, cpu_model, kernel, emulator, version;
  double cores = 0;  // 0 when not recorded
  std::vector<Series> series;
  std::vector<std::string> warning_kinds;
};

std::string TextOf(const JsonValue* value) {
  return value != nullptr && value->kind == JsonValue::Kind::string ? value->text : "";
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string SeriesName(const Series& s) {
  return TerminalText(s.rom) + (s.method == "d3d" ? " D3D" : " DDraw");
}

Export LoadExport(const std::string& path) {
  const std::string bytes = ReadWholeFile(path, kLargestExport);
  JsonValue document;
  try {
    document = ParseJson(bytes);
  } catch (const CliError& e) {
    throw CliError("\"" + path + "\" is " + e.what());
  }
  if (TextOf(document.Find("format")) != "velotrax-run/1") {
    throw CliError("\"" + path + "\" is no run exported by velotrax-cli run --export-json");
  }
  Export result;
  result.path = path;
  result.date = TextOf(document.Find("date"));
  if (const JsonValue* machine = document.Find("machine")) {
    result.cpu_model = TextOf(machine->Find("cpu_model"));
    result.kernel = TextOf(machine->Find("kernel"));
    const JsonValue* cores = machine->Find("cores");
    if (cores != nullptr && cores->kind == JsonValue::Kind::number) result.cores = cores->number;
  }
  if (const JsonValue* emulator = document.Find("emulator")) {
    result.emulator = TextOf(emulator->Find("file"));
    result.version = TextOf(emulator->Find("version"));
  }
  const JsonValue* results = document.Find("results");
  if (results == nullptr || results->kind != JsonValue::Kind::array) {
    throw CliError("\"" + path + "\" holds no results");
  }
  for (const JsonValue& item : results->items) {
    Series series;
    series.rom = TextOf(item.Find("rom"));
    series.method = TextOf(item.Find("method"));
    const JsonValue* passes = item.Find("passes");
    if (series.rom.empty() || (series.method != "ddraw" && series.method != "d3d") ||
        passes == nullptr || passes->kind != JsonValue::Kind::array) {
      throw CliError("\"" + path + "\" holds a result without rom, method or passes");
    }
    if (passes->items.size() > kMostPasses) {
      throw CliError("\"" + path + "\" holds " + std::to_string(passes->items.size()) +
                     " passes of " + TerminalText(series.rom) + " " + series.method +
                     "; compare takes at most " + std::to_string(kMostPasses) +
                     " of a game and method");
    }
    for (const JsonValue& pass : passes->items) {
      if (pass.kind != JsonValue::Kind::number) {
        throw CliError("\"" + path + "\" holds a pass that is no number");
      }
      // A pass without a frame rate (0) is no measurement: the figures of the others alone would
      // pass for the whole series.
      if (!(pass.number > 0) || !std::isfinite(pass.number)) {
        throw CliError("\"" + path + "\" holds a pass of " + SeriesName(series) + " of " +
                       Format("%g", pass.number) +
                       " fps; compare takes only passes that measured a frame rate");
      }
      series.passes.push_back(pass.number);
    }
    for (const Series& earlier : result.series) {
      if (earlier.rom == series.rom && earlier.method == series.method) {
        throw CliError("\"" + path + "\" holds two series of " + SeriesName(series) +
                       "; compare takes one of each game and method");
      }
    }
    result.series.push_back(std::move(series));
  }
  if (const JsonValue* warnings = document.Find("warnings")) {
    for (const JsonValue& warning : warnings->items) {
      result.warning_kinds.push_back(TextOf(warning.Find("kind")));
    }
  }
  return result;
}

const Series* FindSeries(const Export& in, const Series& like) {
  for (const Series& s : in.series) {
    if (s.rom == like.rom && s.method == like.method) return &s;
  }
  return nullptr;
}

std::string Describe(const char* label, const Export& e) {
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
std::string OnlyIn(const char* label, const Export& in, const Export& other) {
  std::string names;
  for (const Series& s : in.series) {
    if (FindSeries(other, s) == nullptr) names += (names.empty() ? "" : ", ") + SeriesName(s);
  }
  return names.empty() ? "" : "Only in " + std::string(label) + ": " + names + "\n";
}

// Why the passes cannot tell a difference from the noise, or nothing. The test takes the passes
// of a run as independent draws; they are not independent of the machine's state, which lasts the
// run: a disturbance, or another machine, shifts them all together and the test would call that
// a difference. Memory is left out of "another machine": its total moves with the kernel.
std::string NoVerdictReason(const Export& a, const Export& b) {
  const bool warned_a = !a.warning_kinds.empty(), warned_b = !b.warning_kinds.empty();
  std::string reason;
  if (warned_a || warned_b) {
    reason = std::string("No verdict: ") +
             (warned_a && warned_b ? "A and B were"
              : warned_a           ? "A was"
                                   : "B was") +
             " measured with warnings (see above). A disturbance that lasts a run\nshifts all "
             "its passes and the test would take it for a difference: measure again on a\nquiet "
             "machine.\n";
  }
  const bool other_cpu = !a.cpu_model.empty() && !b.cpu_model.empty() && a.cpu_model != b.cpu_model;
  const bool other_cores = a.cores > 0 && b.cores > 0 && a.cores != b.cores;
  if (other_cpu || other_cores) {
    reason +=
        "No verdict: A and B were measured on different machines. The passes show the noise "
        "within\neach run, not between machines: read the change and its interval.\n";
  }
  return reason;
}

std::string CompareLine(const Series& a, const Series& b_series, bool judge) {
  const Series* b = &b_series;
  std::string line = PadTo(TerminalText(a.rom), 10, false) + " " +
                     PadTo(a.method == "d3d" ? "D3D" : "DDraw", 6, false) + " ";
  const double median_a = MedianOf(a.passes), median_b = MedianOf(b->passes);
  line += PadTo(a.passes.empty() ? "-" : Format("%.1f", median_a), 9, true) + " " +
          PadTo(b->passes.empty() ? "-" : Format("%.1f", median_b), 9, true) + "  ";
  if (a.passes.empty() || b->passes.empty() || median_a <= 0) {
    return line + "no frame rate to compare\n";
  }
  const Shift shift = ShiftEstimate(a.passes, b->passes);
  const double scale = 100.0 / median_a;
  line += PadTo(Format("%+.1f%%", shift.estimate * scale), 7, true) + "  ";
  std::string interval = "-";
  if (shift.interval.bounded) {
    interval = Format("%+.1f%%", shift.interval.low * scale) + " to " +
               Format("%+.1f%%", shift.interval.high * scale);
  }
  line += PadTo(interval, 19, false) + " " +
          PadTo(shift.p < 0.0001 ? "<0.0001" : Format("%.4f", shift.p), 7, true) + "  ";
  // One rule: beyond the noise when the interval leaves out 0, which is when p < 5 %.
  const bool beyond = shift.interval.bounded && (shift.interval.low > 0 || shift.interval.high < 0);
  if (shift.smallest_p >= kLevel || !shift.interval.bounded) {
    line += "too few passes to tell";
  } else if (!judge) {
    line += "no verdict (see below)";
  } else if (beyond) {
    line += shift.estimate > 0 ? "B faster, beyond the noise" : "B slower, beyond the noise";
  } else {
    line += "within the noise";
  }
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
  const Export a = LoadExport(files[0]), b = LoadExport(files[1]);
  bool common = false;
  for (const Series& s : a.series) common = common || FindSeries(b, s) != nullptr;
  if (!common) {
    throw CliError("\"" + a.path + "\" and \"" + b.path +
                   "\" have no game and method in common: nothing to compare");
  }

  std::string out = Describe("A", a) + Describe("B", b) + "\n";
  out +=
      "Game       Method  A median  B median   Change  95% interval of it      p      "
      "Verdict\n";
  const std::string no_verdict = NoVerdictReason(a, b);
  for (const Series& s : a.series) {
    if (const Series* other = FindSeries(b, s)) out += CompareLine(s, *other, no_verdict.empty());
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
