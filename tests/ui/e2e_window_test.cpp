// The program as a user meets it: the first run with its Disclaimer, then one combined benchmark
// through the main window with the demo emulator as mame.exe, in a temporary working directory.
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/application.h"
#include "ui/forms.h"
#include "ui/guard.h"

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
    DestroyForms();
    QDir::setCurrent(old_dir_);
    delete dir_;
  }

  void FirstRunShowsTheDisclaimerBeforeTheMainWindow() {
    CreateForms();
    bool disclaimer_seen = false;
    bool main_window_hidden_then = false;
    QTimer::singleShot(0, Form3, [&] {
      disclaimer_seen = Form3->isVisible();
      main_window_hidden_then = !Form1->isVisible();
      Form3->close();  // closing it any way agrees
    });
    ShowMainForm();
    QVERIFY(disclaimer_seen);
    QVERIFY(main_window_hidden_then);
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    QCOMPARE(Form1->frameGeometry().topLeft(), DesktopCentre(Form1->frameGeometry().size()));
    QTRY_VERIFY(Form1->ref1->hasFocus());
    QVERIFY(errors_.isEmpty());
    const QByteArray settings = ReadFile("velotrax.ini");
    QVERIFY(settings.contains("mamefile=mame.exe"));
    QVERIFY(settings.contains("selected=0"));
    QVERIFY(settings.contains("methode=1"));
  }

  void CombinedBenchmarkFillsBothScoresAndTheScoreFile() {
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=23\r\nmethode=3\r\n");
    WriteFile("reference.dat", OneReference());
    CreateForms();
    ShowMainForm();
    QVERIFY(QTest::qWaitForWindowExposed(Form1));
    QVERIFY(errors_.isEmpty());
    QCOMPARE(Form1->rom_selector->currentText(), QString("pacman"));
    QVERIFY(Form2->use_both->isChecked());
    QCOMPARE(Form1->ref1->count(), 2);
    QCOMPARE(Form1->ref3->itemText(1), QString("Reference box"));

    // Reference 1 shown beside this computer.
    Form1->ref1->setCurrentIndex(1);
    Form1->ref1Change();
    QCOMPARE(Form1->refname1->text(), QString("Reference box"));
    QCOMPARE(Form1->label_ref1_ddraw->text(), QString("400"));

    // Watch the status text: the DirectDraw pass, "Ready" between, then the Direct3D pass.
    QStringList statuses;
    QLabel* status = Form1->StatusPanel;
    QObject watcher;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &watcher, [&] {
      if (statuses.isEmpty() || statuses.last() != status->text()) statuses << status->text();
    });
    poll.start(1);

    QTest::keyClick(Form1->ref1, Qt::Key_F1);
    QCOMPARE(status->text(), QString("Status : Benchmarking pacman using DDraw Please Wait..."));
    QCOMPARE(Form1->ref1->cursor().shape(), Qt::WaitCursor);
    const ProgramState& state = Form1->State();
    QTRY_VERIFY_WITH_TIMEOUT(state.games[23].ddraw != 0 && state.games[23].d3d != 0 &&
                                 !Form1->mame().Watching() &&
                                 !Form1->ref1->testAttribute(Qt::WA_SetCursor),
                             60000);
    poll.stop();
    QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
    QCOMPARE(status->text(), QString("Status : Ready"));
    QVERIFY(statuses.contains("Status : Benchmarking pacman using D3D Please Wait..."));
    QCOMPARE(Form1->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!Form2->use_both->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(Form1->edit2->text(), QString::number(state.games[23].ddraw));
    QCOMPARE(Form1->edit1->text(), QString::number(state.games[23].d3d));
    const int scale = std::max({state.games[23].ddraw, state.games[23].d3d, 400});
    QCOMPARE(Form1->Gauge_ddraw->MaxValue(), scale);
    QCOMPARE(Form1->Gauge_ddraw->Progress(), state.games[23].ddraw);
    QCOMPARE(Form1->gauge_ref1ddraw->Progress(), 400);
    QVERIFY(state.pass_log.empty());

    Form1->Exit2->trigger();
    QVERIFY(!Form1->isVisible());
    const QByteArray scores = ReadFile("mark.dat");
    QVERIFY(scores.startsWith("[0]\r\ncpu=\r\n720=0\r\n720a=0\r\n"));
    QVERIFY(scores.contains("\r\npacman=" + QByteArray::number(state.games[23].d3d) + "\r\n"));
    QVERIFY(scores.contains("\r\npacmana=" + QByteArray::number(state.games[23].ddraw) + "\r\n"));
    QVERIFY(ReadFile("velotrax.ini").contains("selected=23"));
  }
};

QTEST_MAIN(E2eWindowTest)
#include "e2e_window_test.moc"
