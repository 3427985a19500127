#include "ui/window_actions.h"

#include <algorithm>

#include "emulator/emulator_contract.h"
#include "storage/files.h"
#include "storage/score_files.h"
#include "ui/window_texts.h"

namespace velotrax {

namespace {

// The references are read whole before the selectors take their names: one batch, also when
// the read breaks off part way.
void LoadReferenceItems(ProgramState& state, MainWindowHost& host) {
  std::vector<std::string> names;
  try {
    LoadReferences(state, [&names](const std::string& name) { names.push_back(name); });
  } catch (...) {
    if (!names.empty()) host.AppendReferenceItems(names);
    throw;
  }
  if (!names.empty()) host.AppendReferenceItems(names);
}

}  // namespace

void RunShowSequence(ProgramState& state, SettingsHost& settings_host, MainWindowHost& host) {
  LoadSettings(state, settings_host);
  host.SetRepeatOption(results::ReadRepeatOption(*state.settings));
  BuildCatalogue(state);
  if (FileIsPresent(state.base_dir + "mark.dat")) LoadScores(state);
  LoadReferenceItems(state, host);
  host.RefreshComparison();
  state.current_game = 1;
  state.pass_is_d3d = true;
  state.d3d_options = std::string(D3DOptionString);
  state.ddraw_options = std::string(DDrawOptionString);
  host.RefreshComparison();
}

void RunCloseQuery(ProgramState& state, SettingsHost& settings_host, MainWindowHost& host) {
  SaveSettings(state, settings_host);
  results::WriteRepeatOption(*state.settings, host.CheckedRepeatOption());
  SaveScores(state);
}

void ShowPickedGame(ProgramState& state, MainWindowHost& host) {
  ReloadChangedScores(state);
  host.RefreshComparison();
}

std::optional<int> PreviousGameIndex(int index) {
  if (index < 1) return std::nullopt;
  return index - 1;
}

std::optional<int> NextGameIndex(int index) {
  if (index >= game_count - 1) return std::nullopt;
  return index + 1;
}

void StartBenchmarkOrSeries(ProgramState& state, SequencerHost& host,
                            results::SeriesBenchmark& series, const results::RepeatOption& option) {
  if (option.on || series.Running()) {
    series.Start(option);
  } else {
    StartBenchmark(state, host);
  }
}

void EndPass(ProgramState& state, SequencerHost& host, results::SeriesBenchmark& series,
             uint32_t exit_code) {
  if (series.Running()) {
    series.PassEnded(exit_code);
    return;
  }
  // The pass's game and method, before a Direct3D pass due next takes their place.
  const int game = state.current_game;
  const bool is_d3d = state.pass_is_d3d;
  OnPassEnd(state, host, exit_code);
  if (game > 0 && static_cast<std::size_t>(game) < state.games.size()) {
    const Tgameinfo& entry = state.games[static_cast<std::size_t>(game)];
    series.KeepSinglePass(game, is_d3d, is_d3d ? entry.d3d : entry.ddraw);
  }
}

std::string RefusedStartHint(const ProgramState& state, int error_code) {
  return EmulatorFileProblem(state.base_dir + state.mame_file, error_code) +
         std::string(texts::kChooseAnotherEmulator);
}

std::string MachineWarningLine(const std::string& text) {
  return std::string(texts::kWarningPrefix) + text;
}

void StatusToolTip::BeginBenchmark(bool benchmark_running) {
  if (!benchmark_running) paragraphs_.clear();
}

void StatusToolTip::Add(const std::string& paragraph) {
  paragraphs_.push_back(paragraph);
}

void StatusToolTip::AddOnce(const std::string& paragraph) {
  if (std::find(paragraphs_.begin(), paragraphs_.end(), paragraph) == paragraphs_.end()) {
    paragraphs_.push_back(paragraph);
  }
}

std::string StatusToolTip::Text() const {
  return texts::JoinLines(paragraphs_, "\n");
}

std::string SelectionIntervalText(const ProgramState& state, const results::SeriesBenchmark& series,
                                  int game, bool is_d3d) {
  if (game <= 0 || static_cast<std::size_t>(game) >= state.games.size()) return {};
  const Tgameinfo& entry = state.games[static_cast<std::size_t>(game)];
  return series.IntervalText(game, is_d3d, is_d3d ? entry.d3d : entry.ddraw);
}

PreferencesTexts PreferencesOpening(const StoredState& state) {
  return {state.games.empty() ? std::string() : state.games[0].cpu,
          state.base_dir + state.mame_file};
}

void PreferencesOk(StoredState& state, const std::string& emulator_short_name,
                   const std::string& pc_description) {
  state.mame_file = emulator_short_name;
  if (!state.games.empty()) state.games[0].cpu = pc_description;
}

}  // namespace velotrax
