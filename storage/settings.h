// The settings file "velotrax.ini": read at start-up (with the first run's Disclaimer and
// emulator detection) and written at every close. The windows implement SettingsHost.
#pragma once

#include <string>

#include "storage/stored_state.h"

namespace velotrax {

// What the settings code needs of the windows.
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  // Shows the Disclaimer window modally and returns when it has closed.
  virtual void ShowDisclaimer() = 0;
  // Item index of rom_selector.
  virtual int SelectedGame() const = 0;
  // Selects an item of rom_selector without a change event.
  virtual void SelectGame(int index) = 0;
  // The checked radio button of the Preferences dialog.
  virtual PassMode CheckedPassMode() const = 0;
  // Checks one radio button (the other two are unchecked).
  virtual void CheckPassMode(PassMode mode) = 0;
};

// The emulator a first run takes: the last of the known names found in base_dir, else fallback.
std::string FindEmulatorFile(const std::string& base_dir, std::string fallback);
// First step of the show sequence; throws EConvertError, EIniFileException.
void LoadSettings(StoredState& state, SettingsHost& host);
// First step of the close handling; throws EIniFileException.
void SaveSettings(StoredState& state, SettingsHost& host);

}  // namespace velotrax
