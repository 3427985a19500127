// Shared set-up of the main-window tests: a temporary working directory, the texts the error
// box would have shown, and a count of the main window's closes.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ui/qt/application.h"
#include "ui/qt/guard.h"
#include "ui/qt/main_window.h"

namespace velotrax::testing {

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Base of a test class (which adds Q_OBJECT and its slots) that starts the program in a fresh
// working directory.
class WindowFixture : public QObject {
 protected:
  // The program's main window, which owns its dialogs; null when the program is not running.
  std::unique_ptr<TForm1> main_window_;
  QTemporaryDir* dir_ = nullptr;
  QString old_dir_;
  QStringList errors_;
  int closed_ = 0;
  // The answer to a question box (No unless a test says otherwise), and how many error boxes
  // had been shown when each question was asked.
  bool answer_yes_ = false;
  QList<int> questions_;

  QString Path(const char* name) const { return dir_->filePath(QString::fromLatin1(name)); }

  // For initTestCase: error boxes only collect their texts.
  void CatchErrorBoxes() {
    SetUpApplication(*qApp);
    SetErrorBoxPresenter([this](const QString&, const QString& text) { errors_ << text; });
    SetQuestionPresenter([this](const QString&, const QString&) {
      questions_ << static_cast<int>(errors_.size());
      return answer_yes_;
    });
  }

  // For init: clears the counts and moves into a new temporary directory.
  void EnterTempDir() {
    errors_.clear();
    closed_ = 0;
    answer_yes_ = false;
    questions_.clear();
    dir_ = new QTemporaryDir;
    QVERIFY(dir_->isValid());
    old_dir_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_->path()));
  }

  // For cleanup: closes what is still open and leaves the temporary directory.
  void LeaveTempDir() {
    main_window_.reset();
    QDir::setCurrent(old_dir_);
    delete dir_;
    dir_ = nullptr;
  }

  // Creates and shows the windows; waits until the main window is exposed, or active.
  void StartProgram(bool wait_until_active = false) {
    main_window_ = CreateMainWindow();
    connect(main_window_.get(), &TForm1::Closed, this, [this] { ++closed_; });
    ShowMainWindow(*main_window_);
    if (wait_until_active) {
      QVERIFY(QTest::qWaitForWindowActive(main_window_.get()));
    } else {
      QVERIFY(QTest::qWaitForWindowExposed(main_window_.get()));
    }
  }
};

}  // namespace velotrax::testing
