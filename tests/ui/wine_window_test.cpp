// A Windows build of the emulator benchmarked through the main window: the MinGW-w64 build of
// the demo emulator as mame.exe runs under Wine and its score is stored; without Wine the error
// box says what is missing and nothing is stored. Skips itself without wine or the Windows build.
#include <QFile>
#include <QtTest>
#include <cstdlib>

#include "emulator/windows_executable.h"
#include "tests/ui/window_fixture.h"

using namespace velotrax;
using namespace velotrax::testing;

class WineWindowTest : public WindowFixture {
  Q_OBJECT

  // Why the Wine pass cannot run here; empty when it can.
  static QString WhyNoWine() {
#ifdef VELOTRAX_WINDOWS_DEMO
    if (!QFile::exists(VELOTRAX_WINDOWS_DEMO)) return "the Windows demo emulator was not built";
#else
    return "the MinGW-w64 compiler is missing, so the Windows demo emulator was not built";
#endif
    if (FindWineTools().wine.empty()) return "wine is not installed";
    return {};
  }

  // pacman selected for a DirectDraw pass; mame.exe the Windows demo, or else the smallest file
  // that is a Windows program to look at.
  void PrepareWindowsWorkspace() {
#ifdef VELOTRAX_WINDOWS_DEMO
    if (QFile::exists(VELOTRAX_WINDOWS_DEMO))
      QVERIFY(QFile::copy(VELOTRAX_WINDOWS_DEMO, "mame.exe"));
#endif
    if (!QFile::exists("mame.exe")) {
      QByteArray header(64, '\0');
      header[0] = 'M';
      header[1] = 'Z';
      header[0x3C] = 64;
      WriteFile("mame.exe", header + QByteArray("PE\0\0", 4));
    }
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=1\r\n");
  }

 private slots:
  void initTestCase() {
    CatchErrorBoxes();
    qputenv("VELOTRAX_DEMO_FRAMES", "50");
  }
  void init() {
    EnterTempDir();
  }
  void cleanup() {
    qunsetenv("VELOTRAX_WINE");
    LeaveTempDir();
  }

  void WindowsBuildIsBenchmarkedThroughWine() {
    if (const QString why = WhyNoWine(); !why.isEmpty()) {
      QSKIP(qPrintable("Windows emulator passes under Wine not tested: " + why +
                       " (scripts/install-deps --wine installs what they need)"));
    }
    PrepareWindowsWorkspace();
    StartProgram();
    QCOMPARE(main_window_->rom_selector->currentText(), QString("pacman"));
    main_window_->StartBenchmark1->trigger();
    // A Windows program is asked what it is first, through Wine, while the window goes on.
    QTRY_COMPARE_WITH_TIMEOUT(main_window_->StatusPanel->text(),
                              QString("Status : Benchmarking pacman using DDraw Please Wait..."),
                              300000);
    const ProgramState& state = main_window_->State();
    // A first start of Wine may prepare its prefix first.
    QTRY_VERIFY_WITH_TIMEOUT(!main_window_->mame().Watching(), 300000);
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QVERIFY(state.games[23].ddraw > 0);
    QCOMPARE(main_window_->edit2->text(), QString::number(state.games[23].ddraw));
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
  }

  void WithoutWineTheErrorBoxSaysWhatIsNeeded() {
    PrepareWindowsWorkspace();
    qputenv("VELOTRAX_WINE", "/nonexistent/wine");
    StartProgram();
    main_window_->StartBenchmark1->trigger();
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains("is a Windows program; Wine is needed to run it"),
             qPrintable(errors_[0]));
    QVERIFY(!main_window_->mame().Watching());
    QCOMPARE(main_window_->State().games[23].ddraw, 0);
    QCOMPARE(main_window_->edit2->text(), QString("N/A"));
  }
};

QTEST_MAIN(WineWindowTest)
#include "wine_window_test.moc"
