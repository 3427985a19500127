// The program as a user meets it: the first run with its Disclaimer, then one combined benchmark
// through the main window with the demo emulator as mame.exe, in a temporary working directory.
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ui/qt/application.h"
#include "ui/qt/disclaimer_window.h"
#include "ui/qt/guard.h"
#include "ui/qt/main_window.h"
#include "ui/qt/preferences_dialog.h"

using namespace velotrax;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

// A reference file with one computer whose pacman scores are 300 (Direct3D) and 400
// (DirectDraw), every other score 0.
QByteArray OneReference() {
  QByteArray text = "[0]\r\nreference=1\r\n[1]\r\ncpu=Reference box\r\n";
  for (int i = 1; i < game_count; ++i) {
    const QByteArray rom = QByteArray::fromStdString(GameSelectorItem(i)).toLower();
    const bool pacman = rom == "pacman";
    text += rom + "=" + (pacman ? "300" : "0") + "\r\n";
    text += rom + "a=" + (pacman ? "400" : "0") + "\r\n";
  }
  return text;
}

}  // namespace

class E2eWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TForm1> main_window_;
  QTemporaryDir* dir_ = nullptr;
  QString old_dir_;
  QStringList errors_;

 private slots:
  void initTestCase() {
    SetUpApplication(*qApp);
    SetErrorBoxPresenter([this](const QString&, const QString& text) { errors_ << text; });
    qputenv("VELOTRAX_DEMO_FRAMES", "300");
  }

  void init() {
    errors_.clear();
    dir_ = new QTemporaryDir;
    QVERIFY(dir_->isValid());
    old_dir_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_->path()));
    QVERIFY(QFile::copy(VELOTRAX_DEMO_EMULATOR, "mame.exe"));
    QVERIFY(
        QFile::setPermissions("mame.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir().mkdir("roms"));
  }

  void cleanup() {
    main_window_.reset();
    QDir::setCurrent(old_dir_);
    delete dir_;
  }

  void FirstRunShowsTheDisclaimerBeforeTheMainWindow() {
    main_window_ = CreateMainWindow();
    bool disclaimer_seen = false;
    bool main_window_hidden_then = false;
    QTimer::singleShot(0, main_window_->Disclaimer(), [&] {
      disclaimer_seen = main_window_->Disclaimer()->isVisible();
      main_window_hidden_then = !main_window_->isVisible();
      main_window_->Disclaimer()->close();  // closing it any way agrees
    });
    ShowMainWindow(*main_window_);
    QVERIFY(disclaimer_seen);
    QVERIFY(main_window_hidden_then);
    QVERIFY(QTest::qWaitForWindowExposed(main_window_.get()));
    QCOMPARE(main_window_->frameGeometry().topLeft(),
             DesktopCentre(main_window_->frameGeometry().size()));
    QTRY_VERIFY(main_window_->ref1->hasFocus());
    QVERIFY(errors_.isEmpty());
    const QByteArray settings = ReadFile("velotrax.ini");
    QVERIFY(settings.contains("mamefile=mame.exe"));
    QVERIFY(settings.contains("selected=0"));
    QVERIFY(settings.contains("methode=1"));
  }

  void CombinedBenchmarkFillsBothScoresAndTheScoreFile() {
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=3\r\n");
    WriteFile("reference.dat", OneReference());
    main_window_ = CreateMainWindow();
    ShowMainWindow(*main_window_);
    QVERIFY(QTest::qWaitForWindowExposed(main_window_.get()));
    QVERIFY(errors_.isEmpty());
    QCOMPARE(main_window_->rom_selector->currentText(), QString("pacman"));
    QVERIFY(main_window_->Preferences()->use_both->isChecked());
    QCOMPARE(main_window_->ref1->count(), 2);
    QCOMPARE(main_window_->ref3->itemText(1), QString("Reference box"));

    // Reference 1 shown beside this computer.
    main_window_->ref1->setCurrentIndex(1);
    main_window_->ref1Change();
    QCOMPARE(main_window_->refname1->text(), QString("Reference box"));
    QCOMPARE(main_window_->label_ref1_ddraw->text(), QString("400"));

    // Watch the status text: the DirectDraw pass, "Ready" between, then the Direct3D pass.
    QStringList statuses;
    QLabel* status = main_window_->StatusPanel;
    QObject watcher;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &watcher, [&] {
      if (statuses.isEmpty() || statuses.last() != status->text()) statuses << status->text();
    });
    poll.start(1);

    QTest::keyClick(main_window_->ref1, Qt::Key_F1);
    QCOMPARE(status->text(), QString("Status : Benchmarking pacman using DDraw Please Wait..."));
    QCOMPARE(main_window_->ref1->cursor().shape(), Qt::WaitCursor);
    const ProgramState& state = main_window_->State();
    QTRY_VERIFY_WITH_TIMEOUT(state.games[23].ddraw != 0 && state.games[23].d3d != 0 &&
                                 !main_window_->mame().Watching() &&
                                 !main_window_->ref1->testAttribute(Qt::WA_SetCursor),
                             60000);
    poll.stop();
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QCOMPARE(status->text(), QString("Status : Ready"));
    QVERIFY(statuses.contains("Status : Benchmarking pacman using D3D Please Wait..."));
    QCOMPARE(main_window_->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!main_window_->Preferences()->use_both->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(main_window_->edit2->text(), QString::number(state.games[23].ddraw));
    QCOMPARE(main_window_->edit1->text(), QString::number(state.games[23].d3d));
    const int scale = std::max({state.games[23].ddraw, state.games[23].d3d, 400});
    QCOMPARE(main_window_->Gauge_ddraw->MaxValue(), scale);
    QCOMPARE(main_window_->Gauge_ddraw->Progress(), state.games[23].ddraw);
    QCOMPARE(main_window_->gauge_ref1ddraw->Progress(), 400);
    QVERIFY(state.pass_log.empty());

    main_window_->Exit2->trigger();
    QVERIFY(!main_window_->isVisible());
    const QByteArray scores = ReadFile("mark.dat");
    QVERIFY(scores.startsWith("[0]\r\ncpu=\r\n720=0\r\n720a=0\r\n"));
    QVERIFY(scores.contains("\r\npacman=" + QByteArray::number(state.games[23].d3d) + "\r\n"));
    QVERIFY(scores.contains("\r\npacmana=" + QByteArray::number(state.games[23].ddraw) + "\r\n"));
    QVERIFY(ReadFile("velotrax.ini").contains("selected=23"));
  }
};

QTEST_MAIN(E2eWindowTest)
#include "e2e_window_test.moc"
