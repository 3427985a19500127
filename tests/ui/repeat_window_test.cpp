// The window's option to repeat each pass until precise: a series of passes whose median is
// stored and whose interval shows beside the score, the same figures as velotrax-cli's for the
// same passes, its export read by velotrax-cli compare, and the option kept in velotrax.ini.
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QProcess>
#include <QSpinBox>

#include "tests/ui/window_fixture.h"
#include "ui/qt/preferences_dialog.h"

using namespace velotrax;
using namespace velotrax::testing;

namespace {

// The passes' rates: the interval is within ±6 % after the ninth, whose rate is not the median.
constexpr const char* kRates = "100,110,90,105,95,102,98,101,103";
constexpr const char* kIni = "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=3\r\n";

// The one line of each series in an export.
QByteArrayList SeriesLines(const QByteArray& json) {
  QByteArrayList lines;
  for (const QByteArray& line : json.split('\n')) {
    if (line.contains("\"index\"")) lines << line.trimmed();
  }
  return lines;
}

}  // namespace

class RepeatWindowTest : public WindowFixture {
  Q_OBJECT

 private slots:
  void initTestCase() { CatchErrorBoxes(); }
  void init() { EnterTempDir(); }
  void cleanup() {
    qunsetenv("VELOTRAX_SYSTEM_ROOT");
    LeaveTempDir();
  }

  void SeriesStoresTheMedianShowsTheIntervalAndExportsTheCliFigures() {
    QVERIFY(QFile::copy(VELOTRAX_HELPER_DIR "/helper-cli_emulator", Path("mame.exe")));
    QVERIFY(QFile::setPermissions(Path("mame.exe"), QFile::ReadOwner | QFile::ExeOwner));
    WriteFile(Path("velotrax.ini"), kIni);
    // A machine that saves power: its warning goes to the status bar's tool-tip.
    QVERIFY(QDir().mkpath(Path("root/sys/devices/system/cpu/cpu0/cpufreq")));
    WriteFile(Path("root/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor"), "powersave\n");
    qputenv("VELOTRAX_SYSTEM_ROOT", Path("root").toLocal8Bit());
    qputenv("CLI_EMULATOR_FPS_SEQUENCE", kRates);
    StartProgram();
    main_window_->State().emulators.SetChoice(DialectChoice::classic);
    main_window_->Preferences()->repeat_passes->setChecked(true);
    main_window_->Preferences()->repeat_percent->setValue(6);
    const ProgramState& state = main_window_->State();

    main_window_->StartBenchmark1->trigger();
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Benchmarking ") +
                                                    state.games[23].rom.c_str() +
                                                    " using DDraw Please Wait... (pass 1)");
    QTRY_VERIFY_WITH_TIMEOUT(!main_window_->Series().Running(), 60000);
    QCOMPARE(errors_, QStringList());
    QCOMPARE(state.games[23].ddraw, 101);
    QCOMPARE(state.games[23].d3d, 101);
    QCOMPARE(ReadFile(Path("emulator.log")).count('\n'), 18);
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QCOMPARE(main_window_->interval_ddraw->text(), QString("±10.9%"));
    QCOMPARE(main_window_->interval_d3d->text(), QString("±10.9%"));
    QVERIFY2(main_window_->StatusPanel->toolTip().contains("governor is &quot;powersave&quot;"),
             qPrintable(main_window_->StatusPanel->toolTip()));

    main_window_->ExportResults(Path("window.json").toStdString());
    main_window_->ExportResults(Path("window.md").toStdString());
    QVERIFY(ReadFile(Path("window.md")).contains("| 95 % interval |"));
    QVERIFY_THROWS_EXCEPTION(std::exception,
                             main_window_->ExportResults(Path("window.txt").toStdString()));

    // velotrax-cli measures the same passes to the same figures, and compares the two runs.
    WriteFile(Path("emulator.log"), "");
    QProcess cli;
    cli.start(VELOTRAX_CLI,
              {"run", "--mode", "both", "--confidence", "6", "--max-runs", "20", "--export-json",
               "cli.json", QString::fromStdString(state.games[23].rom)});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QByteArrayList window_series = SeriesLines(ReadFile(Path("window.json")));
    QCOMPARE(window_series.size(), 2);
    QCOMPARE(window_series, SeriesLines(ReadFile(Path("cli.json"))));
    cli.start(VELOTRAX_CLI, {"compare", "window.json", "cli.json"});
    QVERIFY(cli.waitForFinished(30000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    QVERIFY(cli.readAllStandardOutput().contains(state.games[23].rom.c_str()));
  }

  void OptionIsKeptInItsOwnKeysOnlyOnceChanged() {
    WriteFile(Path("velotrax.ini"), kIni);
    StartProgram();
    QVERIFY(!main_window_->Preferences()->repeat_passes->isChecked());
    QVERIFY(!main_window_->Preferences()->repeat_percent->isEnabled());
    QVERIFY(main_window_->close());
    QCOMPARE(ReadFile(Path("velotrax.ini")), QByteArray(kIni));
    main_window_.reset();

    StartProgram();
    main_window_->Preferences()->repeat_passes->setChecked(true);
    main_window_->Preferences()->repeat_percent->setValue(1.5);
    main_window_->Preferences()->repeat_most->setValue(12);
    QVERIFY(!main_window_->Preferences()->repeat_steady->isChecked());
    main_window_->Preferences()->repeat_steady->setChecked(true);
    QVERIFY(main_window_->close());
    QVERIFY(ReadFile(Path("velotrax.ini"))
                .startsWith(QByteArray(kIni) +
                            "repeat=1\r\nrepeat_percent=1.5\r\nrepeat_most_passes=12\r\n"));
    QVERIFY(ReadFile(Path("velotrax.ini")).contains("\r\nrepeat_steady=1\r\n"));
    main_window_.reset();

    // A processor of its own, asked for by hand or in the dialog, stays asked for.
    StartProgram();
    QCOMPARE(main_window_->Preferences()->CheckedRepeatOption(),
             (results::RepeatOption{true, 1.5, 12, true}));
    QVERIFY(main_window_->Preferences()->repeat_most->isEnabled());
    QVERIFY(main_window_->Preferences()->repeat_steady->isEnabled());
    main_window_->Preferences()->repeat_passes->setChecked(false);
    QVERIFY(main_window_->close());
    QVERIFY(ReadFile(Path("velotrax.ini")).contains("\r\nrepeat=0\r\n"));
    QVERIFY(errors_.isEmpty());
  }
};

QTEST_MAIN(RepeatWindowTest)
#include "repeat_window_test.moc"
