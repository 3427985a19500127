#include "results/score_comparison.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "core/comparison.h"
#include "results/text_output.h"
#include "storage/int_text.h"

namespace velotrax::results {

namespace {

// The scale of one game's bars: the largest score shown for it, as the desktop program's
// gauges take it (three references at a time).
int32_t Scale(const CatalogueState& state, const std::vector<int>& reference_rows, int g) {
  std::vector<int> rows(reference_rows);
  while (rows.size() % 3 != 0 || rows.empty()) rows.push_back(0);
  int32_t scale = 0;
  for (std::size_t i = 0; i < rows.size(); i += 3) {
    scale = std::max(scale, ComputeGaugeScale(state, g, rows[i], rows[i + 1], rows[i + 2]));
  }
  return scale;
}

std::string JsonScore(int32_t score) {
  return score == 0 ? "null" : IntToText(score);
}

std::string MarkdownName(const ComparedComputer& c) {
  if (c.reference != 0) return MarkdownCell(c.name);
  return c.name.empty() ? "This computer" : "This computer (" + MarkdownCell(c.name) + ")";
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

}  // namespace

ScoreComparison CompareScores(const CatalogueState& state, const std::vector<int>& reference_rows,
                              const std::vector<int>& games) {
  ScoreComparison comparison;
  comparison.computers.push_back({0, DisplayText(ScoreEntry(state, 0, 0).cpu)});
  for (int row : reference_rows) {
    comparison.computers.push_back({row, DisplayText(ScoreEntry(state, row, 0).cpu)});
  }
  for (int g : games) {
    const Tgameinfo& game = ScoreEntry(state, 0, g);
    ComparedGame compared{g, game.rom, game.driver, {}, Scale(state, reference_rows, g)};
    for (const ComparedComputer& c : comparison.computers) {
      const Tgameinfo& entry = ScoreEntry(state, c.reference, g);
      compared.scores.push_back({entry.ddraw, entry.d3d});
    }
    comparison.games.push_back(std::move(compared));
  }
  return comparison;
}

std::string ExportCsv(const ScoreComparison& comparison) {
  std::string out = "index,rom,driver,reference,computer,ddraw,d3d\r\n";
  for (const ComparedGame& game : comparison.games) {
    for (std::size_t k = 0; k < comparison.computers.size(); ++k) {
      const ComparedComputer& c = comparison.computers[k];
      out += IntToText(game.index) + "," + SpreadsheetCsvField(DisplayText(game.rom)) + "," +
             SpreadsheetCsvField(DisplayText(game.driver)) + "," + IntToText(c.reference) + "," +
             SpreadsheetCsvField(c.name) + "," + ScoreText(game.scores[k].ddraw) + "," +
             ScoreText(game.scores[k].d3d) + "\r\n";
    }
  }
  return out;
}

std::string ExportJson(const ScoreComparison& comparison) {
  std::string out = "{\n  \"computers\": [";
  bool first = true;
  for (const ComparedComputer& c : comparison.computers) {
    out += first ? "\n" : ",\n";
    out +=
        "    {\"reference\": " + IntToText(c.reference) + ", \"name\": " + JsonString(c.name) + "}";
    first = false;
  }
  out += "\n  ],\n  \"games\": [";
  first = true;
  for (const ComparedGame& game : comparison.games) {
    out += first ? "\n" : ",\n";
    out += "    {\"index\": " + IntToText(game.index) +
           ", \"rom\": " + JsonString(DisplayText(game.rom)) +
           ", \"driver\": " + JsonString(DisplayText(game.driver)) + ", \"scores\": [";
    bool first_score = true;
    for (const ComparedScores& scores : game.scores) {
      out += first_score ? "" : ", ";
      out += "{\"ddraw\": " + JsonScore(scores.ddraw) + ", \"d3d\": " + JsonScore(scores.d3d) + "}";
      first_score = false;
    }
    out += "]}";
    first = false;
  }
  out += "\n  ]\n}\n";
  return out;
}

std::string ExportMarkdown(const ScoreComparison& comparison) {
  std::string header = "| # | Game | Driver |";
  std::string rule = "|--:|:--|:--|";
  for (const ComparedComputer& c : comparison.computers) {
    header += " " + MarkdownName(c) + " DDraw | " + MarkdownName(c) + " D3D |";
    rule += "--:|--:|";
  }
  std::string out = header + "\n" + rule + "\n";
  for (const ComparedGame& game : comparison.games) {
    out += "| " + IntToText(game.index) + " | " + MarkdownCell(DisplayText(game.rom)) + " | " +
           MarkdownCell(DisplayText(game.driver)) + " |";
    for (const ComparedScores& scores : game.scores) {
      out += " " + ScoreText(scores.ddraw) + " | " + ScoreText(scores.d3d) + " |";
    }
    out += "\n";
  }
  return out;
}

std::string ExportSvg(const ScoreComparison& comparison) {
  constexpr int kBarArea = 440, kRow = 14, kGameGap = 10, kTop = 20, kAxis = 16, kMargin = 10;
  constexpr std::size_t kLongestLabel = 40, kLongestLegend = 80;
  const std::size_t computers = comparison.computers.size();
  const char* const kMethods[2] = {" DDraw", " D3D"};

  auto bar_label = [&](const ComparedComputer& c, int method) {
    return CutText(c.reference == 0 ? std::string("This computer") : c.name, kLongestLabel) +
           kMethods[method];
  };
  auto legend_label = [&](const ComparedComputer& c, int method) {
    const std::string name =
        c.reference == 0 ? "This computer" + (c.name.empty() ? "" : " (" + c.name + ")") : c.name;
    return CutText(name, kLongestLegend) + kMethods[method];
  };
  // The label column is as wide as its longest label; the chart as wide as its legend.
  std::size_t longest_label = 0, longest_legend = 0;
  for (const ComparedComputer& c : comparison.computers) {
    for (int method = 0; method < 2; ++method) {
      longest_label = std::max(longest_label, DisplayWidth(bar_label(c, method)));
      longest_legend = std::max(longest_legend, DisplayWidth(legend_label(c, method)));
    }
  }
  const int label_width = kMargin + static_cast<int>(longest_label) * kCharWidth + 6;
  const int legend_height = static_cast<int>(computers) * 2 * kRow + 10;
  const int game_height = static_cast<int>(computers) * 2 * kRow + kAxis + kGameGap;
  const int height =
      kTop + legend_height + static_cast<int>(comparison.games.size()) * (game_height + 16) + 10;
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
    const ComparedComputer& c = comparison.computers[k];
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

  for (const ComparedGame& game : comparison.games) {
    const int32_t scale = game.scale;
    out += "<g>\n<text x=\"10\" y=\"" + std::to_string(y + 10) + "\" font-weight=\"bold\">" +
           XmlText(IntToText(game.index) + " " + DisplayText(game.rom) + " (" +
                   DisplayText(game.driver) + ")") +
           "</text>\n";
    y += 16;
    for (std::size_t k = 0; k < computers; ++k) {
      const ComparedComputer& c = comparison.computers[k];
      const BarColours colours = ColoursOf(k);
      for (int method = 0; method < 2; ++method) {
        const int32_t score = method == 0 ? game.scores[k].ddraw : game.scores[k].d3d;
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

}  // namespace velotrax::results
