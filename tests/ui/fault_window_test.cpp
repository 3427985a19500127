// A close while the disk is full: the error box shows the failed write, the main window stays
// open with the old files intact, and once there is room again the close writes both files.
#include <errno.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "storage/files.h"
#include "tests/ui/window_fixture.h"
#include "ui/qt/application.h"
#include "ui/qt/guard.h"
#include "ui/qt/main_window.h"

using namespace velotrax;
using velotrax::testing::ReadFile;

namespace {

// The write calls that succeed before the disk is full; negative: it never fills.
int writes_left = -1;

ssize_t WriteUntilFull(int fd, const void* data, std::size_t size) {
  if (writes_left == 0) {
    errno = ENOSPC;
    return -1;
  }
  if (writes_left > 0) --writes_left;
  return ::write(fd, data, size);
}

}  // namespace

class FaultWindowTest : public velotrax::testing::WindowFixture {
  Q_OBJECT

 private:
  FileReplaceCalls saved_calls_{};

 private slots:
  void initTestCase() {
    CatchErrorBoxes();
    saved_calls_ = file_replace_calls;
  }

  void init() {
    writes_left = -1;
    file_replace_calls.write = WriteUntilFull;
    EnterTempDir();
  }

  void cleanup() {
    file_replace_calls = saved_calls_;
    LeaveTempDir();
  }

  void FullDiskAtCloseShowsTheErrorAndKeepsTheWindowOpen_data() {
    QTest::addColumn<int>("writes_before_full");
    QTest::addColumn<QString>("message");
    // The settings are written first (three values, one write each), then "mark.dat".
    QTest::newRow("settings") << 0 << "Unable to write to %1/velotrax.ini.";
    QTest::newRow("mark.dat") << 3 << "Stream write error.";
  }

  void FullDiskAtCloseShowsTheErrorAndKeepsTheWindowOpen() {
    QFETCH(int, writes_before_full);
    QFETCH(QString, message);
    QFile settings(Path("velotrax.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[velotrax]\r\nmamefile=mame.exe\r\nselected=3\r\nmethode=1\r\n");
    settings.close();
    StartProgram();
    QVERIFY(main_window_->close());  // a first close writes "mark.dat" whole
    QCOMPARE(closed_, 1);
    main_window_.reset();
    closed_ = 0;
    const QByteArray old_scores = ReadFile(Path("mark.dat"));
    QVERIFY(!old_scores.isEmpty());
    StartProgram();

    writes_left = writes_before_full;
    QVERIFY(!main_window_->close());
    message.replace(QStringLiteral("%1"), QDir(dir_->path()).absolutePath());
    QCOMPARE(errors_, QStringList({message}));
    QVERIFY(main_window_->isVisible());
    QCOMPARE(closed_, 0);
    QCOMPARE(ReadFile(Path("mark.dat")), old_scores);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"mark.dat", "velotrax.ini"}));

    writes_left = -1;
    QVERIFY(main_window_->close());
    QCOMPARE(closed_, 1);
    QCOMPARE(errors_.size(), 1);
  }
};

QTEST_MAIN(FaultWindowTest)
#include "fault_window_test.moc"
