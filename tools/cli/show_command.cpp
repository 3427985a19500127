// velotrax-cli show: this computer's scores beside reference computers, as a text table with bars
// for the terminal, or as one of the results layer's exports (CSV, JSON, Markdown, SVG chart).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "results/score_comparison.h"
#include "results/text_output.h"
#include "storage/files.h"
#include "tools/cli/cli.h"

namespace velotrax::cli {

namespace {

constexpr const char* kShowHelp =
    "Usage: velotrax-cli show [--ref NAME-or-NUMBER]... [--format table|csv|json|markdown]\n"
    "                         [--svg FILE] [GAME...]\n"
    "\n"
    "Shows this computer's scores (mark.dat) beside the reference computers chosen with --ref\n"
    "(from reference.dat, by name or by number; as many as wanted), for the games given or for\n"
    "all 54. Scores are frames per second; N/A means not measured.\n"
    "\n"
    "  --ref R        a reference computer: its number in reference.dat, or its name\n"
    "  --format F     table (the default; bars share one scale per game, its largest score),\n"
    "                 csv, json (scores not measured are null) or markdown (md)\n"
    "  --svg FILE     also write the comparison as an SVG bar chart; the text output is then\n"
    "                 printed only when --format is given\n"
    "\n"
    "Texts that are not valid UTF-8 are shown as Windows-1252, as the desktop program shows\n"
    "them. A CSV cell that begins with =, +, - or @ gets a leading apostrophe, so that\n"
    "spreadsheets show it as text and never run it as a formula.\n";

constexpr int kBarWidth = 20;
constexpr std::size_t kLongestNameShown = 40;

int FindReference(const CatalogueState& state, const std::string& wanted) {
  const long number = ParseCount(wanted);
  if (number >= 1 && number <= state.reference_count) return static_cast<int>(number);
  std::vector<int> exact, folded;
  for (int r = 1; r <= state.reference_count; ++r) {
    const std::string& name = state.references[static_cast<std::size_t>(r)][0].cpu;
    if (name == wanted || DisplayText(name) == wanted) exact.push_back(r);
    if (AsciiLowerCase(name) == AsciiLowerCase(wanted)) folded.push_back(r);
  }
  const std::vector<int>& found = exact.empty() ? folded : exact;
  if (found.size() == 1) return found.front();
  if (found.size() > 1) {
    throw UsageError("several reference computers are named '" + wanted +
                     "'; give its number instead");
  }
  if (state.reference_count == 0) {
    throw UsageError("unknown reference computer '" + wanted +
                     "': reference.dat lists no reference computers");
  }
  throw UsageError("unknown reference computer '" + wanted + "' (reference.dat lists " +
                   std::to_string(state.reference_count) + "; give a number from 1 to " +
                   std::to_string(state.reference_count) + " or a name)");
}

std::string Bar(int32_t score, int32_t scale) {
  if (score <= 0 || scale <= 0) return std::string(kBarWidth, '.');
  const int64_t filled = (int64_t{score} * kBarWidth + scale / 2) / scale;
  const int n = static_cast<int>(std::clamp<int64_t>(filled, 1, kBarWidth));
  return std::string(static_cast<std::size_t>(n), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - n), '.');
}

std::string PadRight(const std::string& utf8, std::size_t width) {
  const std::size_t shown = DisplayWidth(utf8);
  return shown >= width ? utf8 : utf8 + std::string(width - shown, ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// A name cut to the width of the table's column.
std::string Shorten(const std::string& utf8) {
  return CutText(utf8, kLongestNameShown);
}

std::string TableLabel(const ComparedComputer& c) {
  return c.reference == 0 ? "This computer" : Shorten(TerminalText(c.name));
}

// The comparison as a text table for the terminal, each score with a bar on its game's scale.
std::string FormatTable(const ScoreComparison& comparison) {
  std::string out;
  const ComparedComputer& own = comparison.computers.front();
  out +=
      "This computer: " + (own.name.empty() ? "(no description)" : TerminalText(own.name)) + "\n";
  out +=
      "Frames per second; N/A = not measured. The bars of a game share one scale: its largest "
      "score.\n\n";

  std::size_t name_width = 8;
  for (const ComparedComputer& c : comparison.computers) {
    name_width = std::max(name_width, DisplayWidth(TableLabel(c)));
  }
  std::size_t rom_width = 4;
  for (const ComparedGame& game : comparison.games) {
    rom_width = std::max(rom_width, game.rom.size());
  }

  const std::string score_column = std::string(6 + 1 + kBarWidth, ' ');
  out += " # " + PadRight("Game", rom_width) + "  " + PadRight("Computer", name_width) + "  " +
         PadRight(PadLeft("DDraw", 6), score_column.size()) + "  " + PadLeft("D3D", 6) + "\n";
  for (const ComparedGame& game : comparison.games) {
    for (std::size_t k = 0; k < comparison.computers.size(); ++k) {
      const int32_t d3d = game.scores[k].d3d, ddraw = game.scores[k].ddraw;
      char index[8];
      std::snprintf(index, sizeof index, "%2d", game.index);
      out += k == 0 ? std::string(index) + " " + PadRight(TerminalText(game.rom), rom_width)
                    : std::string(3 + rom_width, ' ');
      out += "  " + PadRight(TableLabel(comparison.computers[k]), name_width) + "  " +
             PadLeft(ScoreText(ddraw), 6) + " " + Bar(ddraw, game.scale) + "  " +
             PadLeft(ScoreText(d3d), 6) + " " + Bar(d3d, game.scale) + "\n";
    }
  }
  return out;
}

struct ShowOptions {
  std::vector<std::string> references;
  std::string (*format)(const ScoreComparison&) = FormatTable;
  bool format_given = false;
  std::string svg_path;
  bool svg = false;
  std::vector<std::string> games;
};

ShowOptions ParseShowOptions(const std::vector<std::string>& args) {
  ShowOptions options;
  ArgumentScanner scan(args);
  while (scan.NextOption(options.games)) {
    const std::string& name = scan.Name();
    if (name == "--ref") {
      options.references.push_back(scan.Value());
    } else if (name == "--format") {
      using Format = std::string (*)(const ScoreComparison&);
      options.format = scan.Choice<Format>({{"table", FormatTable},
                                            {"csv", ExportCsv},
                                            {"json", ExportJson},
                                            {"markdown", ExportMarkdown}},
                                           {{"md", ExportMarkdown}});
      options.format_given = true;
    } else if (name == "--svg") {
      options.svg_path = scan.Value();
      if (options.svg_path.empty()) throw UsageError("--svg needs a file name");
      options.svg = true;
    } else {
      throw UsageError("unknown option '" + scan.Word() + "'");
    }
  }
  return options;
}

}  // namespace

int ShowCommand(const std::vector<std::string>& args) {
  if (PrintHelpIfAsked(args, kShowHelp)) return kExitSuccess;
  const ShowOptions options = ParseShowOptions(args);
  const std::vector<int> games = ResolveGames(options.games, options.games.empty());
  ProgramState state;
  LoadWorkspace(state);
  std::vector<int> reference_rows;
  // reference.dat is read only when a reference is asked for: a broken one does not keep
  // anybody from seeing this computer's scores.
  if (!options.references.empty()) {
    if (!FileIsPresent(state.base_dir + "reference.dat")) {
      throw CliError(
          "there is no reference.dat in this directory, so no reference computer "
          "can be shown (velotrax-cli publish creates one)");
    }
    LoadReferenceTable(state);
    for (const std::string& wanted : options.references) {
      reference_rows.push_back(FindReference(state, wanted));
    }
  }

  const ScoreComparison comparison = CompareScores(state, reference_rows, games);
  NoteEmulatorBuild(state);
  if (options.svg) ReplaceFile(options.svg_path, ExportSvg(comparison));
  if (options.svg && !options.format_given) return kExitSuccess;

  const std::string text = options.format(comparison);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitSuccess;
}

}  // namespace velotrax::cli
