#include "ui/qt/guard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "base/errors.h"
#include "ui/qt/text_codec.h"
#include "ui/window_texts.h"

namespace velotrax {

namespace {

ErrorBoxPresenter& Presenter() {
  static ErrorBoxPresenter presenter;
  return presenter;
}

QuestionPresenter& Questioner() {
  static QuestionPresenter presenter;
  return presenter;
}

// Shows the box modally; true when it was closed with Yes.
bool ExecMessageBox(QMessageBox& box) {
  // Give the keyboard back to the window and control that had it when the box closes.
  QPointer<QWidget> active_window = QApplication::activeWindow();
  QPointer<QWidget> focused = QApplication::focusWidget();
  box.setWindowModality(Qt::ApplicationModal);
  const bool yes = box.exec() == QMessageBox::Yes;
  if (active_window) active_window->activateWindow();
  if (focused) focused->setFocus();
  return yes;
}

void ShowMessageBox(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
  ExecMessageBox(box);
}

}  // namespace

QString ApplicationTitleFromPath(const QString& executable_path) {
  QString name = executable_path.mid(executable_path.lastIndexOf('/') + 1);
  const qsizetype dot = name.indexOf('.');
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

void ShowErrorBox(const std::string& message) {
  const QString caption = QCoreApplication::applicationName();
  const QString text = ShowText(ErrorBoxText(message));
  if (Presenter()) {
    Presenter()(caption, text);
  } else {
    ShowMessageBox(caption, text);
  }
}

bool AskQuestion(const std::string& question) {
  const QString caption = QCoreApplication::applicationName();
  const QString text = ShowText(question);
  if (Questioner()) return Questioner()(caption, text);
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  return ExecMessageBox(box);
}

QuestionPresenter SetQuestionPresenter(QuestionPresenter presenter) {
  QuestionPresenter previous = std::move(Questioner());
  Questioner() = std::move(presenter);
  return previous;
}

void ReportException(std::exception_ptr error) noexcept {
  ReportEscapedError(error, ShowErrorBox);
}

void RunGuarded(const std::function<void()>& handler) {
  RunGuardedWith(handler, ShowErrorBox);
}

ErrorBoxPresenter SetErrorBoxPresenter(ErrorBoxPresenter presenter) {
  ErrorBoxPresenter previous = std::move(Presenter());
  Presenter() = std::move(presenter);
  return previous;
}

}  // namespace velotrax
