// A benchmark through the main window with a current build: the demo emulator started as "mame",
// and a stand-in that refuses the game, whose reason the error box shows; a classic pass that
// measured nothing, whose reason the status bar's tool-tip keeps.
#include <QRadioButton>

#include "tests/ui/window_fixture.h"
#include "ui/Unit2.h"

using namespace velotrax;
using namespace velotrax::testing;

class DialectWindowTest : public WindowFixture {
  Q_OBJECT

 private slots:
  void initTestCase() {
    CatchErrorBoxes();
    qputenv("VELOTRAX_DEMO_FRAMES", "100");
  }
  void init() { EnterTempDir(); }
  void cleanup() { LeaveTempDir(); }

  void CombinedBenchmarkWithACurrentBuild() {
    QVERIFY(QFile::copy(VELOTRAX_DEMO_EMULATOR, "mame"));
    QVERIFY(QFile::setPermissions("mame", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame\r\nselected=23\r\nmethode=3\r\n");
    StartProgram();
    Form1->StartBenchmark1->trigger();
    const ProgramState& state = Form1->State();
    QVERIFY(state.pass_plan.dialect == EmulatorDialect::current);
    QVERIFY(state.pass_plan.start.CommandLine.find(" -video soft ") != std::string::npos);
    QTRY_VERIFY_WITH_TIMEOUT(
        state.games[23].ddraw != 0 && state.games[23].d3d != 0 && !Form1->mame().Watching(), 60000);
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QVERIFY(state.pass_plan.start.CommandLine.find(" -video opengl ") != std::string::npos);
    QCOMPARE(Form1->edit1->text(), QString::number(state.games[23].d3d));
  }

  void RefusedGameShowsTheEmulatorsReason() {
    WriteFile("mame",
              "#!/bin/sh\n"
              "case $1 in\n"
              "  -showusage) echo '-seconds_to_run x'; echo '-video x' ;;\n"
              "  -listxml) echo '<display type=\"raster\" refresh=\"60.0\" />' ;;\n"
              "  -*) ;;\n"
              "  *) echo 'Fatal error: Required files are missing, the machine cannot be run.'\n"
              "     exit 2 ;;\n"
              "esac\n");
    QVERIFY(QFile::setPermissions("mame", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame\r\nselected=23\r\nmethode=3\r\n");
    StartProgram();
    Form1->State().games[23].d3d = 77;
    Form1->StartBenchmark1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!errors_.isEmpty(), 30000);
    QCOMPARE(errors_, QStringList{"pacman using DDraw: nothing was measured. Fatal error: Required "
                                  "files are missing, the machine cannot be run. The emulator "
                                  "ended with exit code 2."});
    QVERIFY(!Form1->mame().Watching());
    QCOMPARE(Form1->edit2->text(), QString("N/A"));
    QCOMPARE(Form1->State().games[23].d3d, 77);  // no Direct3D pass after the refusal
    QCOMPARE(Form1->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(!Form1->ref1->testAttribute(Qt::WA_SetCursor));
  }

  // A classic pass without a frame rate shows N/A and no error box; why waits on the status bar.
  void WhyNothingWasMeasuredWaitsOnTheStatusBar() {
    WriteFile("mame.exe", "#!/bin/sh\necho 'Error: cannot open the display' >&2\nexit 3\n");
    QVERIFY(
        QFile::setPermissions("mame.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=1\r\n");
    StartProgram();
    Form1->State().games[23].ddraw = 75;
    Form1->StartBenchmark1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Form1->State().games[23].ddraw == 0, 30000);
    QVERIFY(errors_.isEmpty());
    QCOMPARE(Form1->edit2->text(), QString("N/A"));
    QCOMPARE(Form1->StatusPanel->text(), QString("Status : Ready"));
    const QString tip = Form1->StatusPanel->toolTip();
    QVERIFY2(tip.contains("exit code 3; its last line:\n  Error: cannot open the display"),
             qPrintable(tip));

    // An emulator that cannot be started: the error box as ever, and its file named beside it.
    QVERIFY(QFile::remove("mame.exe"));
    Form1->StartBenchmark1->trigger();
    QCOMPARE(errors_, QStringList{"System Error.  Code: 2.\r\nNo such file or directory."});
    QVERIFY2(Form1->StatusPanel->toolTip().contains("the emulator &quot;" + QDir::currentPath() +
                                                    "/mame.exe&quot; is missing"),
             qPrintable(Form1->StatusPanel->toolTip()));
  }
};

QTEST_MAIN(DialectWindowTest)
#include "dialect_window_test.moc"
