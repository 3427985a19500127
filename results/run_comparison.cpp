#include "results/run_comparison.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "results/errors.h"
#include "results/json_reader.h"
#include "results/text_output.h"
#include "results/whole_file.h"

namespace velotrax::results {

namespace {

// The significance level of the verdict.
constexpr double kLevel = 0.05;
// What an export may hold. The largest run makes 1000 passes and 100 warm-up passes of each of
// 54 games and two methods: about 0.7 MiB with four-digit rates. The bounds leave room for that
// and keep a file that is no export from filling the memory (every number read takes about 100
// bytes while it is read).
constexpr std::size_t kLargestExport = 2 * 1024 * 1024;
constexpr std::size_t kMostPasses = 10000;

std::string TextOf(const JsonValue* value) {
  return value != nullptr && value->kind == JsonValue::Kind::string ? value->text : "";
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string SeriesName(const ExportedSeries& s) {
  return TerminalText(s.rom) + (s.method == "d3d" ? " D3D" : " DDraw");
}

RunExport LoadExport(const std::string& path) {
  const std::string bytes = ReadWholeFile(path, kLargestExport);
  JsonValue document;
  try {
    document = ParseJson(bytes);
  } catch (const EResultsError& e) {
    throw EResultsError("\"" + path + "\" is " + e.what());
  }
  if (TextOf(document.Find("format")) != "velotrax-run/1") {
    throw EResultsError("\"" + path + "\" is no run exported by velotrax-cli run --export-json");
  }
  RunExport result;
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
    throw EResultsError("\"" + path + "\" holds no results");
  }
  for (const JsonValue& item : results->items) {
    ExportedSeries series;
    series.rom = TextOf(item.Find("rom"));
    series.method = TextOf(item.Find("method"));
    const JsonValue* passes = item.Find("passes");
    if (series.rom.empty() || (series.method != "ddraw" && series.method != "d3d") ||
        passes == nullptr || passes->kind != JsonValue::Kind::array) {
      throw EResultsError("\"" + path + "\" holds a result without rom, method or passes");
    }
    if (passes->items.size() > kMostPasses) {
      throw EResultsError("\"" + path + "\" holds " + std::to_string(passes->items.size()) +
                          " passes of " + TerminalText(series.rom) + " " + series.method +
                          "; compare takes at most " + std::to_string(kMostPasses) +
                          " of a game and method");
    }
    for (const JsonValue& pass : passes->items) {
      if (pass.kind != JsonValue::Kind::number) {
        throw EResultsError("\"" + path + "\" holds a pass that is no number");
      }
      // A pass without a frame rate (0) is no measurement: the figures of the others alone would
      // pass for the whole series.
      if (!(pass.number > 0) || !std::isfinite(pass.number)) {
        throw EResultsError("\"" + path + "\" holds a pass of " + SeriesName(series) + " of " +
                            Format("%g", pass.number) +
                            " fps; compare takes only passes that measured a frame rate");
      }
      series.passes.push_back(pass.number);
    }
    for (const ExportedSeries& earlier : result.series) {
      if (earlier.rom == series.rom && earlier.method == series.method) {
        throw EResultsError("\"" + path + "\" holds two series of " + SeriesName(series) +
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

const ExportedSeries* FindSeries(const RunExport& in, const ExportedSeries& like) {
  for (const ExportedSeries& s : in.series) {
    if (s.rom == like.rom && s.method == like.method) return &s;
  }
  return nullptr;
}

void RequireCommonSeries(const RunExport& a, const RunExport& b) {
  for (const ExportedSeries& s : a.series) {
    if (FindSeries(b, s) != nullptr) return;
  }
  throw EResultsError("\"" + a.path + "\" and \"" + b.path +
                      "\" have no game and method in common: nothing to compare");
}

// The test takes the passes of a run as independent draws; they are not independent of the
// machine's state, which lasts the run: a disturbance, or another machine, shifts them all
// together and the test would call that a difference. Memory is left out of "another machine":
// its total moves with the kernel.
std::string NoVerdictReason(const RunExport& a, const RunExport& b) {
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

SeriesComparison CompareSeries(const ExportedSeries& a, const ExportedSeries& b, bool judge) {
  SeriesComparison result;
  result.median_a = MedianOf(a.passes);
  result.median_b = MedianOf(b.passes);
  if (a.passes.empty() || b.passes.empty() || result.median_a <= 0) return result;
  result.shift = ShiftEstimate(a.passes, b.passes);
  const Shift& shift = result.shift;
  // One rule: beyond the noise when the interval leaves out 0, which is when p < 5 %.
  const bool beyond = shift.interval.bounded && (shift.interval.low > 0 || shift.interval.high < 0);
  if (shift.smallest_p >= kLevel || !shift.interval.bounded) {
    result.verdict = Verdict::too_few_passes;
  } else if (!judge) {
    result.verdict = Verdict::withheld;
  } else if (beyond) {
    result.verdict = shift.estimate > 0 ? Verdict::faster : Verdict::slower;
  } else {
    result.verdict = Verdict::within_noise;
  }
  return result;
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::no_frame_rate:
      return "no frame rate to compare";
    case Verdict::too_few_passes:
      return "too few passes to tell";
    case Verdict::withheld:
      return "no verdict";
    case Verdict::faster:
      return "B faster, beyond the noise";
    case Verdict::slower:
      return "B slower, beyond the noise";
    case Verdict::within_noise:
      return "within the noise";
  }
  return "";
}

}  // namespace velotrax::results
