// TForm2, the Preferences dialog: the PC description, the emulator file and the pass mode.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/game.h"
#include "core/state.h"
#include "results/series_benchmark.h"
#include "ui/win32/file_name_field.h"
#include "ui/win32/window_support.h"

namespace velotrax::win32ui {

class TForm2 : public Window {
 public:
  // Builds the dialog hidden, owned by the main window.
  TForm2(ProgramState& state, HWND owner);

  // Shows the dialog modally; returns when it has closed.
  void ShowModal();

  // The checked one of use_ddraw, use_d3d and use_both.
  PassMode CheckedPassMode() const;
  // Checks one of them (the others are unchecked); none changes nothing.
  void CheckPassMode(PassMode mode);
  // The repeated passes as the dialog's controls stand, and setting them.
  results::RepeatOption CheckedRepeatOption() const;
  void SetRepeatOption(const results::RepeatOption& option);
  // Whether the hourglass is shown over use_ddraw and use_d3d.
  void SetBusy(bool busy) { busy_ = busy; }

  // Handlers.
  void FormShow();
  void ok_buttonClick();
  void cancel_buttonClick();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  HWND Control(std::string_view name) const;
  HWND MakeNumberBox(const layout::Control& control, HWND parent, RECT place, int id);
  // The number in a number box, within [lowest, highest]; `fallback` when it holds none.
  double NumberIn(std::string_view name, double lowest, double highest, double fallback) const;
  void EnableRepeatNumbers(bool on);
  void ShowPage(int index);

  ProgramState& state_;
  HWND owner_;
  std::map<std::string_view, HWND> controls_;
  std::map<std::string_view, HWND> arrows_;  // the up-down arrows of each number box
  HWND pages_ = nullptr;
  HWND pc_description_ = nullptr;
  HWND use_ddraw_ = nullptr, use_d3d_ = nullptr, use_both_ = nullptr;
  std::unique_ptr<TJvFilenameEdit> mamefile_selector_;
  // The description as last put into the box: unedited, it goes back byte for byte.
  std::string shown_description_;
  bool placed_ = false;
  bool busy_ = false;
};

}  // namespace velotrax::win32ui
