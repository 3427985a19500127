// TForm4, the About window: name, version and the warning; any mouse press on the text closes it.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStringList>

namespace velotrax {

class TForm4 : public QDialog {
  Q_OBJECT

 public:
  // Created hidden; centred over main_window the first time it is shown.
  explicit TForm4(QWidget* main_window = nullptr);

  QPlainTextEdit* Memo1;

  // The fourteen lines of the text, exactly as shown.
  static QStringList AboutLines();
  // The colour of the 5-pixel frame around the text.
  static QColor DesktopBackgroundColour();

  void Memo1MouseDown();
  void Memo1Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 public slots:
  // A close request acts like a click on the text.
  void reject() override;

 private:
  QPointer<QWidget> main_window_;
  bool shown_before_ = false;
};

}  // namespace velotrax
