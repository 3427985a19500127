#include "results/run_record.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "core/comparison.h"
#include "results/text_output.h"
#include "storage/int_text.h"

#ifndef VELOTRAX_VERSION
#define VELOTRAX_VERSION "unknown"
#endif

namespace velotrax::results {

namespace {

// Numbers of an export are read back on other machines: always with a point, whatever locale
// the program runs in (the window's is the user's).
std::string Number(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10);
  return std::string(text, end.ptr);
}

std::string Rates(const std::vector<int32_t>& rates) {
  std::string out = "[";
  for (std::size_t i = 0; i < rates.size(); ++i) out += (i ? ", " : "") + IntToText(rates[i]);
  return out + "]";
}

std::string JsonTextOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(DisplayText(text));
}

std::string Percent(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
  return std::string(text, end.ptr) + "%";
}

}  // namespace

const char* MethodName(bool is_d3d) {
  return is_d3d ? "D3D" : "DDraw";
}

EmulatorIdentity IdentifyEmulator(ProgramState& state) {
  const velotrax::EmulatorIdentity identity =
      state.emulators.Identify(state.base_dir, state.mame_file);
  return {state.mame_file, DialectName(identity.dialect), identity.version};
}

int32_t MedianScore(std::vector<int32_t> rates) {
  if (rates.empty()) return 0;
  std::sort(rates.begin(), rates.end());
  const std::size_t middle = rates.size() / 2;
  if (rates.size() % 2 == 1) return rates[middle];
  const int64_t sum = int64_t{rates[middle - 1]} + rates[middle];
  return static_cast<int32_t>(sum >= 0 ? sum / 2 : (sum - 1) / 2);
}

void FinishSeries(SeriesRecord& series, const StopRule& rule) {
  const std::vector<double> rates = AsDoubles(series.passes);
  series.stored = MedianScore(series.passes);
  series.interval = ReportedInterval(rule, rates);
  series.outliers = Outliers(rates);
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  ::gmtime_s(&utc, &now);
#else
  ::gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string VelotraxVersion() {
  return VELOTRAX_VERSION;
}

std::string ExportJson(const RunRecord& record) {
  const RunSettings& s = record.settings;
  std::string out = "{\n  \"format\": \"velotrax-run/1\",\n";
  out += "  \"velotrax_version\": " + JsonString(record.velotrax_version) + ",\n";
  out += "  \"date\": " + JsonString(record.date) + ",\n";
  out += "  \"machine\": {\"cpu_model\": " + JsonTextOrNull(record.machine.cpu_model) +
         ", \"cores\": " + std::to_string(record.machine.cores) +
         ", \"memory_kib\": " + std::to_string(record.machine.memory_kib) +
         ", \"kernel\": " + JsonTextOrNull(record.machine.kernel) + ", \"checks_not_offered\": [";
  for (std::size_t i = 0; i < record.machine.checks_not_offered.size(); ++i) {
    out += (i ? ", " : "") + JsonString(record.machine.checks_not_offered[i]);
  }
  out += "]},\n";
  out += "  \"emulator\": {\"file\": " + JsonString(DisplayText(record.emulator.file)) +
         ", \"dialect\": " + JsonString(record.emulator.dialect) +
         ", \"version\": " + JsonTextOrNull(record.emulator.version) + "},\n";
  out += "  \"settings\": {\"mode\": " + JsonString(s.mode) +
         ", \"warmup\": " + std::to_string(s.warmup) +
         ", \"repeat\": " + (s.confidence > 0 ? "null" : std::to_string(s.repeat)) +
         ", \"confidence_percent\": " + (s.confidence > 0 ? Number(s.confidence) : "null") +
         ", \"min_runs\": " + (s.confidence > 0 ? std::to_string(s.min_runs) : "null") +
         ", \"max_runs\": " + (s.confidence > 0 ? std::to_string(s.max_runs) : "null");
  if (s.Isolated()) {
    out += ", \"isolation\": {\"processor\": " +
           (s.processor >= 0 ? std::to_string(s.processor) : "null") + ", \"priority\": \"" +
           (s.raised_priority ? "raised" : "normal") + "\", \"warmup\": \"" +
           (s.auto_warmup ? "auto" : "fixed") + "\"}";
  }
  out += "},\n";
  out += "  \"results\": [";
  for (std::size_t i = 0; i < record.series.size(); ++i) {
    const SeriesRecord& r = record.series[i];
    const double median = MedianOf(AsDoubles(r.passes));
    out += i ? ",\n" : "\n";
    out += "    {\"index\": " + std::to_string(r.game) +
           ", \"rom\": " + JsonString(DisplayText(r.rom)) + ", \"method\": \"" +
           (r.is_d3d ? "d3d" : "ddraw") + "\", \"warmup\": " + Rates(r.warmup) +
           ", \"passes\": " + Rates(r.passes) + ", \"median\": " + Number(median) +
           ", \"stored\": " + std::to_string(r.stored);
    if (r.interval.bounded) {
      out += ", \"ci95\": {\"low\": " + Number(r.interval.low) +
             ", \"high\": " + Number(r.interval.high) +
             ", \"percent\": " + Number(IntervalPercent(median, r.interval)) + "}";
    } else {
      out += ", \"ci95\": null";
    }
    out += ", \"outliers\": [";
    for (std::size_t k = 0; k < r.outliers.size(); ++k) {
      out += (k ? ", " : "") + std::to_string(r.outliers[k] + 1);
    }
    out += "], \"stopped\": " + JsonString(r.stop) + "}";
  }
  out += "\n  ],\n  \"warnings\": [";
  for (std::size_t i = 0; i < record.warnings.size(); ++i) {
    const Warning& w = record.warnings[i];
    out += i ? ",\n" : "\n";
    out += "    {\"kind\": " + JsonString(w.kind) + ", \"text\": " + JsonString(w.text) +
           ", \"times\": " + std::to_string(w.times) + "}";
  }
  out += "\n  ]\n}\n";
  return out;
}

std::string ExportMarkdown(const RunRecord& record) {
  const RunSettings& s = record.settings;
  std::string out = "# Velotrax run, " + record.date + "\n\n";
  out += "- Machine: " +
         MarkdownCell(record.machine.cpu_model.empty() ? "unknown CPU" : record.machine.cpu_model) +
         ", " + std::to_string(record.machine.cores) + " logical processors, " +
         std::to_string(record.machine.memory_kib / 1024) + " MiB, kernel " +
         MarkdownCell(record.machine.kernel) + "\n";
  if (!record.machine.checks_not_offered.empty()) {
    out += "- Checks this system does not offer: ";
    for (std::size_t i = 0; i < record.machine.checks_not_offered.size(); ++i) {
      out += (i ? ", " : "") + record.machine.checks_not_offered[i];
    }
    out += "\n";
  }
  out += "- Emulator: " + MarkdownCell(DisplayText(record.emulator.file)) + " (" +
         record.emulator.dialect + " command line, version " +
         (record.emulator.version.empty() ? "unknown" : MarkdownCell(record.emulator.version)) +
         ")\n";
  out += "- Velotrax " + record.velotrax_version + ", mode " + s.mode + ", " +
         std::to_string(s.warmup) + " warm-up pass(es), ";
  if (s.confidence > 0) {
    out += "repeated until the 95 % interval of the median was within " + Number(s.confidence) +
           " % (" + std::to_string(s.min_runs) + " to " + std::to_string(s.max_runs) +
           " passes)\n\n";
  } else {
    out += std::to_string(s.repeat) + " pass(es) per game and method\n\n";
  }
  if (s.Isolated()) {
    // Before the table, after the blank line that ends the list above.
    out.pop_back();
    out += "- Kept steady: " +
           (s.processor >= 0
                ? "the emulator on processor " + std::to_string(s.processor) + " of its own"
                : std::string("the emulator on any processor")) +
           (s.raised_priority ? ", at a raised priority" : "") +
           (s.auto_warmup ? ", a first pass that ran cold not counted" : "") + "\n\n";
  }
  out += "| # | Game | Method | Stored (fps) | 95 % interval | Passes | Outliers | Stopped |\n";
  out += "|--:|:--|:--|--:|:--|:--|:--|:--|\n";
  for (const SeriesRecord& r : record.series) {
    const double median = MedianOf(AsDoubles(r.passes));
    std::string interval = "-";
    if (r.interval.bounded) {
      interval = Number(r.interval.low) + " to " + Number(r.interval.high) + " (±" +
                 Percent(IntervalPercent(median, r.interval)) + ")";
    }
    std::string passes;
    for (std::size_t k = 0; k < r.passes.size(); ++k) {
      passes += (k ? " " : "") + IntToText(r.passes[k]);
    }
    std::string outliers;
    for (std::size_t k : r.outliers) {
      outliers += (outliers.empty() ? "" : ", ") + ("pass " + std::to_string(k + 1));
    }
    out += "| " + std::to_string(r.game) + " | " + MarkdownCell(DisplayText(r.rom)) + " | " +
           MethodName(r.is_d3d) + " | " + ScoreText(r.stored) + " | " + interval + " | " + passes +
           " | " + (outliers.empty() ? "-" : outliers) + " | " + MarkdownCell(r.stop) + " |\n";
  }
  out += "\n";
  if (record.warnings.empty()) {
    out += "No warnings: the machine looked quiet.\n";
  } else {
    out += "Warnings:\n\n";
    for (const Warning& w : record.warnings) {
      out += "- " + MarkdownCell(w.text) + " (seen " + std::to_string(w.times) + " time(s))\n";
    }
  }
  return out;
}

}  // namespace velotrax::results
