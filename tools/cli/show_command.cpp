// velotrax-cli show: this computer's scores beside reference computers, as a text table with bars,
// CSV, JSON, Markdown or an SVG bar chart.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/comparison.h"
#include "results/text_output.h"
#include "storage/files.h"
#include "storage/int_text.h"
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

// One column group of the comparison: this computer (row 0 of the table below) or a reference.
struct Computer {
  int reference = 0;  // 0 for this computer, otherwise the row of reference.dat
  std::string name;   // UTF-8, as shown
};

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

class Comparison {
 public:
  Comparison(const CatalogueState& state, std::vector<Computer> computers, std::vector<int> games)
      : state_(state), computers_(std::move(computers)), games_(std::move(games)) {}

  int32_t D3d(const Computer& c, int g) const { return Entry(c, g).d3d; }
  int32_t DDraw(const Computer& c, int g) const { return Entry(c, g).ddraw; }

  // The scale of one game's bars: the largest score shown for it, as the desktop program's
  // gauges take it (three references at a time).
  int32_t Scale(int g) const {
    std::vector<int> rows;
    for (const Computer& c : computers_) {
      if (c.reference > 0) rows.push_back(c.reference);
    }
    while (rows.size() % 3 != 0 || rows.empty()) rows.push_back(0);
    int32_t scale = 0;
    for (std::size_t i = 0; i < rows.size(); i += 3) {
      scale = std::max(scale, ComputeGaugeScale(state_, g, rows[i], rows[i + 1], rows[i + 2]));
    }
    return scale;
  }

  const std::vector<Computer>& Computers() const { return computers_; }
  const std::vector<int>& Games() const { return games_; }
  const Tgameinfo& Game(int g) const { return state_.games[static_cast<std::size_t>(g)]; }

 private:
  const Tgameinfo& Entry(const Computer& c, int g) const {
    if (c.reference == 0) return state_.games[static_cast<std::size_t>(g)];
    return state_.references[static_cast<std::size_t>(c.reference)][static_cast<std::size_t>(g)];
  }

  const CatalogueState& state_;
  std::vector<Computer> computers_;
  std::vector<int> games_;
};

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

// A label cut to at most the given number of characters, on a character boundary.
std::string CutTo(const std::string& utf8, std::size_t characters) {
  if (DisplayWidth(utf8) <= characters) return utf8;
  std::string out;
  std::size_t count = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && ++count > characters - 3) break;
    out += c;
  }
  return out + "...";
}

// A name cut to the width of the table's column.
std::string Shorten(const std::string& utf8) {
  return CutTo(utf8, kLongestNameShown);
}

std::string TableLabel(const Computer& c) {
  return c.reference == 0 ? "This computer" : Shorten(TerminalText(c.name));
}

std::string FormatTable(const Comparison& comparison) {
  std::string out;
  const Computer& own = comparison.Computers().front();
  out +=
      "This computer: " + (own.name.empty() ? "(no description)" : TerminalText(own.name)) + "\n";
  out +=
      "Frames per second; N/A = not measured. The bars of a game share one scale: its largest "
      "score.\n\n";

  std::size_t name_width = 8;
  for (const Computer& c : comparison.Computers()) {
    name_width = std::max(name_width, DisplayWidth(TableLabel(c)));
  }
  std::size_t rom_width = 4;
  for (int g : comparison.Games()) rom_width = std::max(rom_width, comparison.Game(g).rom.size());

  const std::string score_column = std::string(6 + 1 + kBarWidth, ' ');
  out += " # " + PadRight("Game", rom_width) + "  " + PadRight("Computer", name_width) + "  " +
         PadRight(PadLeft("DDraw", 6), score_column.size()) + "  " + PadLeft("D3D", 6) + "\n";
  for (int g : comparison.Games()) {
    const int32_t scale = comparison.Scale(g);
    bool first = true;
    for (const Computer& c : comparison.Computers()) {
      const int32_t d3d = comparison.D3d(c, g), ddraw = comparison.DDraw(c, g);
      char index[8];
      std::snprintf(index, sizeof index, "%2d", g);
      out += first ? std::string(index) + " " +
                         PadRight(TerminalText(comparison.Game(g).rom), rom_width)
                   : std::string(3 + rom_width, ' ');
      out += "  " + PadRight(TableLabel(c), name_width) + "  " + PadLeft(ScoreText(ddraw), 6) +
             " " + Bar(ddraw, scale) + "  " + PadLeft(ScoreText(d3d), 6) + " " + Bar(d3d, scale) +
             "\n";
      first = false;
    }
  }
  return out;
}

std::string FormatCsv(const Comparison& comparison) {
  std::string out = "index,rom,driver,reference,computer,ddraw,d3d\r\n";
  for (int g : comparison.Games()) {
    const Tgameinfo& game = comparison.Game(g);
    for (const Computer& c : comparison.Computers()) {
      out += IntToText(g) + "," + SpreadsheetCsvField(DisplayText(game.rom)) + "," +
             SpreadsheetCsvField(DisplayText(game.driver)) + "," + IntToText(c.reference) + "," +
             SpreadsheetCsvField(c.name) + "," + ScoreText(comparison.DDraw(c, g)) + "," +
             ScoreText(comparison.D3d(c, g)) + "\r\n";
    }
  }
  return out;
}

std::string JsonScore(int32_t score) {
  return score == 0 ? "null" : IntToText(score);
}

std::string FormatJson(const Comparison& comparison) {
  std::string out = "{\n  \"computers\": [";
  bool first = true;
  for (const Computer& c : comparison.Computers()) {
    out += first ? "\n" : ",\n";
    out +=
        "    {\"reference\": " + IntToText(c.reference) + ", \"name\": " + JsonString(c.name) + "}";
    first = false;
  }
  out += "\n  ],\n  \"games\": [";
  first = true;
  for (int g : comparison.Games()) {
    const Tgameinfo& game = comparison.Game(g);
    out += first ? "\n" : ",\n";
    out += "    {\"index\": " + IntToText(g) + ", \"rom\": " + JsonString(DisplayText(game.rom)) +
           ", \"driver\": " + JsonString(DisplayText(game.driver)) + ", \"scores\": [";
    bool first_score = true;
    for (const Computer& c : comparison.Computers()) {
      out += first_score ? "" : ", ";
      out += "{\"ddraw\": " + JsonScore(comparison.DDraw(c, g)) +
             ", \"d3d\": " + JsonScore(comparison.D3d(c, g)) + "}";
      first_score = false;
    }
    out += "]}";
    first = false;
  }
  out += "\n  ]\n}\n";
  return out;
}

std::string MarkdownName(const Computer& c) {
  if (c.reference != 0) return MarkdownCell(c.name);
  return c.name.empty() ? "This computer" : "This computer (" + MarkdownCell(c.name) + ")";
}

std::string FormatMarkdown(const Comparison& comparison) {
  std::string header = "| # | Game | Driver |";
  std::string rule = "|--:|:--|:--|";
  for (const Computer& c : comparison.Computers()) {
    header += " " + MarkdownName(c) + " DDraw | " + MarkdownName(c) + " D3D |";
    rule += "--:|--:|";
  }
  std::string out = header + "\n" + rule + "\n";
  for (int g : comparison.Games()) {
    const Tgameinfo& game = comparison.Game(g);
    out += "| " + IntToText(g) + " | " + MarkdownCell(DisplayText(game.rom)) + " | " +
           MarkdownCell(DisplayText(game.driver)) + " |";
    for (const Computer& c : comparison.Computers()) {
      out +=
          " " + ScoreText(comparison.DDraw(c, g)) + " | " + ScoreText(comparison.D3d(c, g)) + " |";
    }
    out += "\n";
  }
  return out;
}

// The colours of a computer's two bars (Direct3D, DirectDraw): this computer red and blue, the
// references maroon and navy first, as in the desktop program's window.
struct BarColours {
  const char* d3d;
  const char* ddraw;
};
constexpr BarColours kColours[] = {{"#ff0000", "#0000ff"}, {"#800000", "#000080"},
                                   {"#b8860b", "#006400"}, {"#800080", "#008080"},
                                   {"#ff8c00", "#4682b4"}, {"#8b4513", "#2e8b57"}};

BarColours ColoursOf(std::size_t computer) {
  if (computer == 0) return kColours[0];
  return kColours[1 + (computer - 1) % (std::size(kColours) - 1)];
}

// A step for the ticks of a value axis from 0 to scale: 1, 2 or 5 times a power of ten, giving
// from three to about eight ticks.
int32_t TickStep(int32_t scale) {
  int64_t step = 1;
  while (true) {
    for (int64_t factor : {1, 2, 5}) {
      if (scale / (step * factor) <= 6) return static_cast<int32_t>(step * factor);
    }
    step *= 10;
  }
}

// What one character of the chart's 11-pixel sans-serif text may take, wide letters included, so
// that no label reaches past its room.
constexpr int kCharWidth = 7;

std::string FormatSvg(const Comparison& comparison) {
  constexpr int kBarArea = 440, kRow = 14, kGameGap = 10, kTop = 20, kAxis = 16, kMargin = 10;
  constexpr std::size_t kLongestLabel = 40, kLongestLegend = 80;
  const std::size_t computers = comparison.Computers().size();
  const char* const kMethods[2] = {" DDraw", " D3D"};

  auto bar_label = [&](const Computer& c, int method) {
    return CutTo(c.reference == 0 ? std::string("This computer") : c.name, kLongestLabel) +
           kMethods[method];
  };
  auto legend_label = [&](const Computer& c, int method) {
    const std::string name =
        c.reference == 0 ? "This computer" + (c.name.empty() ? "" : " (" + c.name + ")") : c.name;
    return CutTo(name, kLongestLegend) + kMethods[method];
  };
  // The label column is as wide as its longest label; the chart as wide as its legend.
  std::size_t longest_label = 0, longest_legend = 0;
  for (const Computer& c : comparison.Computers()) {
    for (int method = 0; method < 2; ++method) {
      longest_label = std::max(longest_label, DisplayWidth(bar_label(c, method)));
      longest_legend = std::max(longest_legend, DisplayWidth(legend_label(c, method)));
    }
  }
  const int label_width = kMargin + static_cast<int>(longest_label) * kCharWidth + 6;
  const int legend_height = static_cast<int>(computers) * 2 * kRow + 10;
  const int game_height = static_cast<int>(computers) * 2 * kRow + kAxis + kGameGap;
  const int height =
      kTop + legend_height + static_cast<int>(comparison.Games().size()) * (game_height + 16) + 10;
  const int width = std::max(label_width + kBarArea + 60,
                             26 + static_cast<int>(longest_legend) * kCharWidth + kMargin);

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
         " " + std::to_string(height) +
         "\" font-family=\"sans-serif\" font-size=\"11\">\n"
         "<title>Velotrax comparison (frames per second)</title>\n"
         "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  int y = kTop;
  for (std::size_t k = 0; k < computers; ++k) {
    const Computer& c = comparison.Computers()[k];
    const BarColours colours = ColoursOf(k);
    for (int method = 0; method < 2; ++method) {
      out += "<rect x=\"10\" y=\"" + std::to_string(y - 9) +
             "\" width=\"10\" height=\"10\" fill=\"" + (method == 0 ? colours.ddraw : colours.d3d) +
             "\"/>";
      out += "<text x=\"26\" y=\"" + std::to_string(y) + "\">" + XmlText(legend_label(c, method)) +
             "</text>\n";
      y += kRow;
    }
  }
  y += 10;

  for (int g : comparison.Games()) {
    const int32_t scale = comparison.Scale(g);
    out += "<g>\n<text x=\"10\" y=\"" + std::to_string(y + 10) + "\" font-weight=\"bold\">" +
           XmlText(IntToText(g) + " " + DisplayText(comparison.Game(g).rom) + " (" +
                   DisplayText(comparison.Game(g).driver) + ")") +
           "</text>\n";
    y += 16;
    for (std::size_t k = 0; k < computers; ++k) {
      const Computer& c = comparison.Computers()[k];
      const BarColours colours = ColoursOf(k);
      for (int method = 0; method < 2; ++method) {
        const int32_t score = method == 0 ? comparison.DDraw(c, g) : comparison.D3d(c, g);
        const int length =
            score > 0 && scale > 0
                ? static_cast<int>(std::max<int64_t>(1, int64_t{score} * kBarArea / scale))
                : 0;
        out += "<text x=\"" + std::to_string(label_width - 6) + "\" y=\"" + std::to_string(y + 10) +
               "\" text-anchor=\"end\">" + XmlText(bar_label(c, method)) + "</text>";
        out += "<rect x=\"" + std::to_string(label_width) + "\" y=\"" + std::to_string(y + 1) +
               "\" width=\"" + std::to_string(length) + "\" height=\"" + std::to_string(kRow - 3) +
               "\" fill=\"" + (method == 0 ? colours.ddraw : colours.d3d) + "\"/>";
        out += "<text x=\"" + std::to_string(label_width + length + 4) + "\" y=\"" +
               std::to_string(y + 10) + "\">" + ScoreText(score) + "</text>\n";
        y += kRow;
      }
    }
    // The game's value axis: its bars share the scale of its largest score.
    if (scale > 0) {
      const std::string axis_y = std::to_string(y + 2);
      out += "<g class=\"axis\" stroke=\"#808080\"><line x1=\"" + std::to_string(label_width) +
             "\" y1=\"" + axis_y + "\" x2=\"" + std::to_string(label_width + kBarArea) +
             "\" y2=\"" + axis_y + "\"/>";
      std::string ticks;
      const int32_t step = TickStep(scale);
      for (int64_t value = 0; value <= scale; value += step) {
        const std::string x = std::to_string(label_width + value * kBarArea / scale);
        out += "<line x1=\"" + x + "\" y1=\"" + axis_y + "\" x2=\"" + x + "\" y2=\"" +
               std::to_string(y + 6) + "\"/>";
        ticks += "<text x=\"" + x + "\" y=\"" + std::to_string(y + 15) +
                 "\" text-anchor=\"middle\">" + std::to_string(value) + "</text>";
      }
      out += "</g>\n<g class=\"ticks\" font-size=\"9\" fill=\"#404040\">" + ticks + "</g>\n";
    }
    out += "</g>\n";
    y += kAxis + kGameGap;
  }
  out += "</svg>\n";
  return out;
}

struct ShowOptions {
  std::vector<std::string> references;
  std::string (*format)(const Comparison&) = FormatTable;
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
      options.format =
          scan.Choice<std::string (*)(const Comparison&)>({{"table", FormatTable},
                                                           {"csv", FormatCsv},
                                                           {"json", FormatJson},
                                                           {"markdown", FormatMarkdown}},
                                                          {{"md", FormatMarkdown}});
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
  std::vector<int> games = ResolveGames(options.games, options.games.empty());
  ProgramState state;
  LoadWorkspace(state);
  std::vector<Computer> computers = {{0, DisplayText(state.games[0].cpu)}};
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
      const int row = FindReference(state, wanted);
      computers.push_back(
          {row, DisplayText(state.references[static_cast<std::size_t>(row)][0].cpu)});
    }
  }

  const Comparison comparison(state, std::move(computers), std::move(games));
  NoteEmulatorBuild(state);
  if (options.svg) ReplaceFile(options.svg_path, FormatSvg(comparison));
  if (options.svg && !options.format_given) return kExitSuccess;

  const std::string text = options.format(comparison);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitSuccess;
}

}  // namespace velotrax::cli
