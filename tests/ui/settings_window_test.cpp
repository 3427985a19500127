// The settings file as the whole program uses it: restored at start, written at every close,
// its errors shown in the error box, and the pass mode it keeps driving the benchmark.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "tests/ui/window_fixture.h"
#include "ui/qt/application.h"
#include "ui/qt/disclaimer_window.h"
#include "ui/qt/guard.h"
#include "ui/qt/main_window.h"
#include "ui/qt/preferences_dialog.h"

using namespace velotrax;

using velotrax::testing::ReadFile;
using velotrax::testing::WriteFile;

class SettingsWindowTest : public velotrax::testing::WindowFixture {
  Q_OBJECT

 private:
  void StopProgram() {
    main_window_.reset();
    closed_ = 0;
  }

 private slots:
  void initTestCase() { CatchErrorBoxes(); }

  void init() { EnterTempDir(); }

  void cleanup() { LeaveTempDir(); }

  void FirstRunShowsTheDisclaimerAndCreatesTheFile() {
    WriteFile(Path("mameat.exe"), "x");
    bool disclaimer_seen = false;
    QTimer::singleShot(0, this, [&] {
      auto* disclaimer = qobject_cast<TForm3*>(QApplication::activeModalWidget());
      disclaimer_seen =
          disclaimer != nullptr && main_window_ != nullptr && !main_window_->isVisible();
      if (disclaimer) disclaimer->Button1->click();
    });
    StartProgram();
    QVERIFY(disclaimer_seen);
    QCOMPARE(ReadFile(Path("velotrax.ini")),
             QByteArray("[velotrax]\r\nmamefile=mameat.exe\r\nselected=0\r\nmethode=1\r\n"));
    QCOMPARE(main_window_->State().mame_file, std::string("mameat.exe"));
    QVERIFY(errors_.isEmpty());
  }

  void SelectedGameComesBackAfterARestart() {
    WriteFile(Path("velotrax.ini"),
              "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=1\r\n");
    StartProgram();
    main_window_->rom_selector->setCurrentIndex(23);
    QVERIFY(main_window_->close());
    QCOMPARE(closed_, 1);
    QVERIFY(ReadFile(Path("velotrax.ini")).contains("\r\nselected=23\r\n"));
    StopProgram();

    StartProgram();
    QCOMPARE(main_window_->rom_selector->currentIndex(), 23);
    QCOMPARE(main_window_->rom_selector->currentText().toStdString(), GameSelectorItem(23));
    QVERIFY(
        main_window_->rom_display->title().contains(QString::fromStdString(GameSelectorItem(23))));
    QVERIFY(errors_.isEmpty());
  }

  void Direct3DModeRunsADirect3DPass() {
#ifndef VELOTRAX_DEMO_EMULATOR
    QSKIP("the demo emulator is not built");
#else
    QVERIFY(QFile::copy(QStringLiteral(VELOTRAX_DEMO_EMULATOR), Path("mame.exe")));
    QDir(dir_->path()).mkpath(QStringLiteral("roms"));
    qputenv("VELOTRAX_DEMO_FRAMES", "20");
    WriteFile(Path("velotrax.ini"),
              "[velotrax]\r\nmamefile=mame.exe\r\nselected=1\r\nmethode=2\r\n");
    StartProgram();
    QVERIFY(main_window_->Preferences()->use_d3d->isChecked());
    QCOMPARE(main_window_->rom_selector->currentIndex(), 1);
    main_window_->StartBenchmark1->trigger();
    const Tgameinfo& game = main_window_->State().games[1];
    QTRY_VERIFY_WITH_TIMEOUT(game.d3d > 0 || !errors_.isEmpty(), 60000);
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QCOMPARE(game.ddraw, 0);
    qunsetenv("VELOTRAX_DEMO_FRAMES");
#endif
  }

  void NonIntegerSelectedIsShownAndTheProgramGoesOn() {
    WriteFile(Path("velotrax.ini"),
              "[velotrax]\r\nmamefile=mame.exe\r\nselected=abc\r\nmethode=2\r\n");
    StartProgram();
    QCOMPARE(errors_, QStringList({"'abc' is not a valid integer value."}));
    QVERIFY(main_window_->isVisible());
    QVERIFY(main_window_->Preferences()->use_ddraw->isChecked());  // the pass mode was never read
    main_window_->ToolButton2->click();                            // the program still answers
    QVERIFY(main_window_->close());
    QCOMPARE(closed_, 1);
    QCOMPARE(errors_.size(), 1);
  }

  void UnwritableSettingsKeepTheWindowOpen() {
    WriteFile(Path("velotrax.ini"),
              "[velotrax]\r\nmamefile=mame.exe\r\nselected=3\r\nmethode=1\r\n");
    StartProgram();
    QVERIFY(QFile::remove(Path("velotrax.ini")));
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("velotrax.ini")));
    QVERIFY(!main_window_->close());
    QCOMPARE(errors_, QStringList({"Unable to write to " + Path("velotrax.ini") + "."}));
    QVERIFY(main_window_->isVisible());
    QCOMPARE(closed_, 0);

    QVERIFY(QDir(dir_->path()).rmdir(QStringLiteral("velotrax.ini")));
    QVERIFY(main_window_->close());
    QCOMPARE(closed_, 1);
    QVERIFY(ReadFile(Path("velotrax.ini")).contains("selected=3"));
  }

  void PassModeChangedThenCancelledIsKeptAndSaved() {
    WriteFile(Path("velotrax.ini"),
              "[velotrax]\r\nmamefile=mame.exe\r\nselected=0\r\nmethode=1\r\n");
    StartProgram();
    bool dialog_seen = false;
    QTimer::singleShot(0, this, [&] {
      dialog_seen = QApplication::activeModalWidget() == main_window_->Preferences();
      main_window_->Preferences()->use_both->click();
      main_window_->Preferences()->cancel_button->click();
    });
    main_window_->BenchmarkAll1->trigger();
    QVERIFY(dialog_seen);
    QVERIFY(!main_window_->Preferences()->isVisible());
    QCOMPARE(main_window_->CheckedPassMode(), PassMode::both);
    QVERIFY(main_window_->close());
    QVERIFY(ReadFile(Path("velotrax.ini")).contains("\r\nmethode=3\r\n"));
  }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
