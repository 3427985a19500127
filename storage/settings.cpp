#include "storage/settings.h"

#include <array>
#include <memory>
#include <string_view>

#include "storage/files.h"
#include "storage/int_text.h"

namespace velotrax {

namespace {

constexpr std::string_view kSection = "velotrax";
constexpr std::string_view kSettingsFile = "velotrax.ini";

// Emulator builds looked for on a first run; when several exist the last one found is kept.
// "mame", the emulator's name on Linux, comes first so that any of the others wins over it.
constexpr std::array<std::string_view, 7> kEmulatorNames = {
    "mame", "fastmame.exe", "mameat.exe", "mamep.exe", "mamepp.exe", "mamep4.exe", "mame.exe"};

// The selector has the placeholder and 54 games; the rest of the program indexes the catalogue
// with its index unchecked.
constexpr int kLastSelectorIndex = 54;

TIniFile& Settings(StoredState& state) {
  // A close can come after a start-up that never reached LoadSettings: write the file anyway.
  if (!state.settings) {
    state.settings = std::make_unique<TIniFile>(state.base_dir + std::string(kSettingsFile));
  }
  return *state.settings;
}

}  // namespace

std::string FindEmulatorFile(const std::string& base_dir, std::string fallback) {
  for (std::string_view name : kEmulatorNames) {
    if (FileIsPresent(base_dir + std::string(name))) fallback = name;
  }
  return fallback;
}

void LoadSettings(StoredState& state, SettingsHost& host) {
  state.settings = std::make_unique<TIniFile>(state.base_dir + std::string(kSettingsFile));
  TIniFile& settings = *state.settings;
  const std::string& path = settings.FileName();

  if (!FileIsPresent(path)) host.ShowDisclaimer();
  if (!FileIsPresent(path)) {
    state.mame_file = FindEmulatorFile(state.base_dir, state.mame_file);
    settings.WriteValue(kSection, "mamefile", state.mame_file);
    settings.WriteValue(kSection, "selected", "0");
    settings.WriteValue(kSection, "methode", "1");
  }

  state.mame_file = settings.ReadValue(kSection, "mamefile", "");

  const int32_t selected = TextToInt(settings.ReadValue(kSection, "selected", ""));
  // A number outside the selector (a hand-edited or foreign file) falls back to "Select Rom".
  host.SelectGame(selected >= 0 && selected <= kLastSelectorIndex ? selected : 0);

  if (settings.ReadValue(kSection, "methode", "") == "1") host.CheckPassMode(PassMode::ddraw);
  if (settings.ReadValue(kSection, "methode", "") == "2") host.CheckPassMode(PassMode::d3d);
  if (settings.ReadValue(kSection, "methode", "") == "3") host.CheckPassMode(PassMode::both);
}

void SaveSettings(StoredState& state, SettingsHost& host) {
  TIniFile& settings = Settings(state);
  settings.WriteValue(kSection, "mamefile", state.mame_file);
  settings.WriteValue(kSection, "selected", IntToText(host.SelectedGame()));
  switch (host.CheckedPassMode()) {
    case PassMode::ddraw:
      settings.WriteValue(kSection, "methode", "1");
      break;
    case PassMode::d3d:
      settings.WriteValue(kSection, "methode", "2");
      break;
    case PassMode::both:
      settings.WriteValue(kSection, "methode", "3");
      break;
    case PassMode::none:
      break;
  }
}

}  // namespace velotrax
