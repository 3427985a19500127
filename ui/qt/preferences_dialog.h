// TForm2, the Preferences dialog: the PC description, the emulator file and the pass mode.
#pragma once

#include <QDialog>
#include <QPoint>
#include <optional>
#include <string>
#include <vector>

#include "core/state.h"
#include "results/series_benchmark.h"
#include "ui/qt/file_name_field.h"

class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace velotrax {

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  // Created hidden; shown modally with exec() by the main window.
  TForm2(StoredState& state, QWidget* main_window);

  QRadioButton* use_ddraw = nullptr;
  QRadioButton* use_d3d = nullptr;
  QRadioButton* use_both = nullptr;
  QLineEdit* pc_description = nullptr;
  TJvFilenameEdit* mamefile_selector = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QPushButton* ok_button = nullptr;
  QPushButton* cancel_button = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  // The option to repeat each pass until precise: like the radio buttons, the setting itself.
  QCheckBox* repeat_passes = nullptr;
  QDoubleSpinBox* repeat_percent = nullptr;
  QSpinBox* repeat_most = nullptr;
  // The emulator on a processor of its own, raised, for the series (see results/pass_isolation.h).
  QCheckBox* repeat_steady = nullptr;

  // The pass mode its radio buttons stand for (none only if no button is checked).
  PassMode CheckedPassMode() const;
  // Checks the button of mode, unchecking the other two; none leaves them as they are.
  void CheckPassMode(PassMode mode);

  // The option its repeat controls stand for, and setting them from one.
  results::RepeatOption CheckedRepeatOption() const;
  void SetRepeatOption(const results::RepeatOption& option);

  // Fills the two boxes from the program state; runs at every showing.
  void FormShow();
  // Keeps the emulator's stored file name and the description, then closes.
  void ok_buttonClick();
  // Closes without taking anything back.
  void cancel_buttonClick();

  // The information tab's text, line by line.
  static const std::vector<std::string>& InformationLines();

 protected:
  void showEvent(QShowEvent* event) override;

 public slots:
  // Every way of closing ends here: OK, Cancel and close requests.
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();

  StoredState& state_;
  std::string shown_description_;  // the bytes pc_description was filled from
  std::optional<QPoint> left_at_;  // where the frame was when the dialog was last closed
};

}  // namespace velotrax
