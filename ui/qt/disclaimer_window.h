// TForm3, the Disclaimer window: shown modally on the first run; every way of closing it agrees.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

namespace velotrax {

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  // Created hidden.
  explicit TForm3(QWidget* parent = nullptr);

  QPlainTextEdit* Memo1;
  QPushButton* Button1;  // "I Agree"

  // The ten lines of the warning, exactly as shown.
  static QStringList DisclaimerLines();

  void Button1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 public slots:
  // There is no way to decline: Escape and close requests agree like the button.
  void reject() override;

 private:
  bool shown_before_ = false;
};

}  // namespace velotrax
