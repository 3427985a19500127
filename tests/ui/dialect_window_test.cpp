// A benchmark through the main window with a current build: the demo emulator started as "mame",
// and a stand-in that refuses the game, whose reason the error box shows; a classic pass that
// measured nothing, whose reason the status bar's tool-tip keeps; a build asked what it is while
// the window goes on answering.
#include <signal.h>

#include <QRadioButton>

#include "tests/ui/window_fixture.h"
#include "ui/qt/about_window.h"
#include "ui/qt/preferences_dialog.h"

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

  // A current build that answers -showusage only once the test says so ("answer" exists), or
  // never; the probe's process id goes to probe.pid.
  void WriteSlowEmulator(bool answers) {
    WriteFile("mame", QByteArray("#!/bin/sh\n"
                                 "case $1 in\n"
                                 "  -showusage) echo $$ > probe.pid\n") +
                          (answers ? "    while [ ! -e answer ]; do sleep 0.05; done\n"
                                   : "    exec sleep 600\n") +
                          "    echo '-seconds_to_run x'; echo '-video x' ;;\n"
                          "  -help) echo 'MAME v0.251 (unknown)' ;;\n"
                          "  -listxml) echo '<display type=\"raster\" refresh=\"60.0\" />' ;;\n"
                          "  *) echo 'Average speed: 250.00% (82 seconds)' ;;\n"
                          "esac\n");
    QVERIFY(QFile::setPermissions("mame", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame\r\nselected=23\r\nmethode=1\r\n");
  }

  // The probe's process id once it has started.
  static pid_t ProbeId() {
    (void)QTest::qWaitFor([] { return !ReadFile("probe.pid").trimmed().isEmpty(); }, 10000);
    return static_cast<pid_t>(ReadFile("probe.pid").trimmed().toInt());
  }

  void WindowAnswersWhileItIdentifiesTheEmulator() {
    WriteSlowEmulator(true);
    StartProgram();
    main_window_->StartBenchmark1->trigger();
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Identifying the emulator..."));
    QVERIFY(ProbeId() > 0);
    bool answered = false;
    QTimer::singleShot(0, main_window_.get(), [&] { answered = true; });
    QTRY_VERIFY(answered);
    QTimer::singleShot(0, main_window_->About(), [this] { main_window_->About()->reject(); });
    main_window_->Info1->trigger();
    // A second start is refused as beside a running pass, and changes nothing.
    main_window_->StartBenchmark1->trigger();
    QCOMPARE(errors_, QStringList{"Cannot perform this operation when process is running."});
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Identifying the emulator..."));
    QVERIFY(main_window_->ref1->testAttribute(Qt::WA_SetCursor));

    WriteFile("answer", "");
    const ProgramState& state = main_window_->State();
    QTRY_VERIFY_WITH_TIMEOUT(state.games[23].ddraw == 150 && !main_window_->mame().Watching(),
                             30000);
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(state.pass_plan.start.CommandLine.find(" -video soft ") != std::string::npos);
    const QString tip = main_window_->StatusPanel->toolTip();
    QVERIFY2(tip.contains("Emulator &quot;" + QDir::currentPath() +
                          "/mame&quot;: current dialect, version 0.251 (unknown)"),
             qPrintable(tip));
  }

  void EmulatorThatDoesNotAnswerIsEnded() {
    WriteSlowEmulator(false);
    StartProgram();
    main_window_->StartBenchmark1->trigger();
    const pid_t probe = ProbeId();
    QVERIFY(probe > 0);
    QTRY_VERIFY_WITH_TIMEOUT(!errors_.isEmpty(), 30000);
    QCOMPARE(errors_, QStringList{"The emulator \"" + QDir::currentPath() +
                                  "/mame\" did not answer \"mame -showusage\" within 5 seconds "
                                  "and was ended; the benchmark was not started."});
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(!main_window_->ref1->testAttribute(Qt::WA_SetCursor));
    QTRY_VERIFY(::kill(probe, 0) != 0);
    QCOMPARE(main_window_->State().games[23].ddraw, 0);
  }

  void ClosingWhileIdentifyingEndsTheProbe() {
    WriteSlowEmulator(false);
    StartProgram();
    main_window_->StartBenchmark1->trigger();
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Identifying the emulator..."));
    const pid_t probe = ProbeId();
    QVERIFY(probe > 0);
    main_window_->close();
    QCOMPARE(closed_, 1);
    main_window_.reset();
    QTRY_VERIFY(::kill(probe, 0) != 0);
    QTest::qWait(100);  // nothing of the probe may reach the windows now gone
    QVERIFY(errors_.isEmpty());
  }

  void CombinedBenchmarkWithACurrentBuild() {
    QVERIFY(QFile::copy(VELOTRAX_DEMO_EMULATOR, "mame"));
    QVERIFY(QFile::setPermissions("mame", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame\r\nselected=23\r\nmethode=3\r\n");
    StartProgram();
    // Known beforehand, so that the pass starts with the trigger: asking it first is the test
    // above.
    const std::string dir = QDir::currentPath().toStdString() + "/";
    QVERIFY(main_window_->State().emulators.Identify(dir, "mame").dialect ==
            EmulatorDialect::current);
    QVERIFY(main_window_->State().emulators.RefreshRate(dir, "mame", "pacman") > 0);
    main_window_->StartBenchmark1->trigger();
    const ProgramState& state = main_window_->State();
    QVERIFY(state.pass_plan.dialect == EmulatorDialect::current);
    QVERIFY(state.pass_plan.start.CommandLine.find(" -video soft ") != std::string::npos);
    QTRY_VERIFY_WITH_TIMEOUT(
        state.games[23].ddraw != 0 && state.games[23].d3d != 0 && !main_window_->mame().Watching(),
        60000);
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QVERIFY(state.pass_plan.start.CommandLine.find(" -video opengl ") != std::string::npos);
    QCOMPARE(main_window_->edit1->text(), QString::number(state.games[23].d3d));
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
    main_window_->State().games[23].d3d = 77;
    main_window_->StartBenchmark1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!errors_.isEmpty(), 30000);
    QCOMPARE(errors_, QStringList{"pacman using DDraw: nothing was measured. Fatal error: Required "
                                  "files are missing, the machine cannot be run. The emulator "
                                  "ended with exit code 2."});
    QVERIFY(!main_window_->mame().Watching());
    QCOMPARE(main_window_->edit2->text(), QString("N/A"));
    QCOMPARE(main_window_->State().games[23].d3d, 77);  // no Direct3D pass after the refusal
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(!main_window_->ref1->testAttribute(Qt::WA_SetCursor));
  }

  // A classic pass without a frame rate shows N/A and no error box; why waits on the status bar.
  void WhyNothingWasMeasuredWaitsOnTheStatusBar() {
    WriteFile("mame.exe", "#!/bin/sh\necho 'Error: cannot open the display' >&2\nexit 3\n");
    QVERIFY(
        QFile::setPermissions("mame.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=1\r\n");
    StartProgram();
    main_window_->State().games[23].ddraw = 75;
    main_window_->StartBenchmark1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(main_window_->State().games[23].ddraw == 0, 30000);
    QVERIFY(errors_.isEmpty());
    QCOMPARE(main_window_->edit2->text(), QString("N/A"));
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    const QString tip = main_window_->StatusPanel->toolTip();
    QVERIFY2(tip.contains("exit code 3; its last line:\n  Error: cannot open the display"),
             qPrintable(tip));

    // An emulator that cannot be started: the error box as ever, and its file named beside it.
    QVERIFY(QFile::remove("mame.exe"));
    main_window_->StartBenchmark1->trigger();
    QCOMPARE(errors_, QStringList{"System Error.  Code: 2.\r\nNo such file or directory."});
    QVERIFY2(main_window_->StatusPanel->toolTip().contains(
                 "the emulator &quot;" + QDir::currentPath() + "/mame.exe&quot; is missing"),
             qPrintable(main_window_->StatusPanel->toolTip()));
  }
};

QTEST_MAIN(DialectWindowTest)
#include "dialect_window_test.moc"
