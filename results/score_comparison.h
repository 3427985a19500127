// This computer's scores beside reference computers, game by game, and their exports: CSV,
// JSON, Markdown and an SVG bar chart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/stored_state.h"

namespace velotrax::results {

// One computer of the comparison: this computer or a reference computer.
struct ComparedComputer {
  int reference = 0;  // 0 for this computer, otherwise its row of reference.dat
  std::string name;   // UTF-8, as shown
};

// One computer's two scores of a game, in frames per second; 0 when not measured.
struct ComparedScores {
  int32_t ddraw = 0, d3d = 0;
};

// One game of the comparison.
struct ComparedGame {
  int index = 0;                       // in the catalogue
  std::string rom, driver;             // as the score files hold them
  std::vector<ComparedScores> scores;  // one per computer, in the order of the computers
  int32_t scale = 0;                   // the largest score shown for the game: its bars' scale
};

// The computers (this computer first) and the games compared.
struct ScoreComparison {
  std::vector<ComparedComputer> computers;
  std::vector<ComparedGame> games;
};

// This computer and the reference computers of reference_rows (rows of reference.dat, in the
// order given) for the catalogue indices games; what the tables do not hold reads as not measured.
ScoreComparison CompareScores(const CatalogueState& state, const std::vector<int>& reference_rows,
                              const std::vector<int>& games);

// A CSV table with a row per game and computer; texts that spreadsheets would run are made safe.
std::string ExportCsv(const ScoreComparison& comparison);

// A JSON document with the computers and each game's scores; scores not measured are null.
std::string ExportJson(const ScoreComparison& comparison);

// A Markdown table with a row per game and two columns per computer.
std::string ExportMarkdown(const ScoreComparison& comparison);

// An SVG bar chart: a legend, then each game's bars on its own scale with a value axis.
std::string ExportSvg(const ScoreComparison& comparison);

}  // namespace velotrax::results
