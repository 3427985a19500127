// The one guard around every handler, the error box's text and caption, the application title,
// and the runner's way onto the UI thread.
#include <sys/syscall.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "base/errors.h"
#include "ui/qt/application.h"
#include "ui/qt/guard.h"
#include "ui/qt/qt_ui_thread.h"

using namespace velotrax;

namespace {

// Throws from its event handler, as a handler of the program might.
class ThrowingObject : public QObject {
 public:
  static inline const QEvent::Type kThrow = static_cast<QEvent::Type>(QEvent::User + 1);
  bool event(QEvent* e) override {
    if (e->type() == kThrow) throw EConvertError("'x' is not a valid integer value");
    return QObject::event(e);
  }
};

// True once the thread sleeps (state S in /proc), within ten seconds.
bool WaitUntilAsleep(pid_t thread_id) {
  const QString path = QString("/proc/self/task/%1/stat").arg(thread_id);
  for (int i = 0; i < 10000; ++i) {
    QFile stat(path);
    if (stat.open(QIODevice::ReadOnly)) {
      const QByteArray line = stat.readAll();
      const qsizetype close = line.lastIndexOf(')');
      if (close >= 0 && close + 2 < line.size() && line[close + 2] == 'S') return true;
    }
    QThread::msleep(1);
  }
  return false;
}

}  // namespace

class GuardTest : public QObject {
  Q_OBJECT

 private:
  QStringList captions_, texts_;

 private slots:
  void init() {
    captions_.clear();
    texts_.clear();
    SetErrorBoxPresenter([this](const QString& caption, const QString& text) {
      captions_ << caption;
      texts_ << text;
    });
  }

  void TitleComesFromTheExecutablesName() {
    const struct {
      const char* path;
      const char* title;
    } cases[] = {
        {"/opt/x/BENCH.EXE", "Bench"},
        {"/opt/x/bench.new.exe", "bench"},
        {"velotrax", "velotrax"},
        {"/usr/bin/Velotrax", "Velotrax"},
        {"/a.b/VeloTRAX", "Velotrax"},
        {"/x/.hidden", ""},
        {"/x/Q", "Q"},
        {"/x/ÄBC.exe", "Äbc"},
    };
    for (const auto& c : cases) {
      QCOMPARE(ApplicationTitleFromPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.title));
    }
    QCOMPARE(QCoreApplication::applicationName(), QString("ui_guard_test"));
  }

  void FullStopIsAddedOnlyAfterCharactersAboveTheDot() {
    const struct {
      const char* message;
      const char* shown;
    } cases[] = {
        {"", ""},
        {"Stream write error", "Stream write error."},
        {"Cannot perform this operation when process is running",
         "Cannot perform this operation when process is running."},
        {"Done.", "Done."},
        {"Wow!", "Wow!"},
        {"a,", "a,"},
        {"(x)", "(x)"},
        {"say \"x\"", "say \"x\""},
        {"trailing ", "trailing "},
        {"'' is not a valid integer value", "'' is not a valid integer value."},
        {"ends in 7", "ends in 7."},
        {"ends in /", "ends in /."},
        {"question?", "question?."},
        {"colon:", "colon:."},
        {"minus-", "minus-"},
        {"caf\xc3\xa9", "caf\xc3\xa9."},
    };
    for (const auto& c : cases) {
      QCOMPARE(ErrorBoxText(c.message), std::string(c.shown));
    }
  }

  void GuardShowsEveryKindOfErrorAndGoesOn() {
    int reached = 0;
    RunGuarded([&] {
      ++reached;
      throw EJVCLException("Cannot perform this operation when process is running");
      ++reached;
    });
    RunGuarded([] { throw EOSError("The system cannot find the file specified", 2); });
    RunGuarded([] { throw std::out_of_range("index"); });
    RunGuarded([] { throw 42; });
    RunGuarded([&] { ++reached; });
    QCOMPARE(reached, 2);
    QCOMPARE(texts_, (QStringList{"Cannot perform this operation when process is running.",
                                  "The system cannot find the file specified.", "index.",
                                  "An unexpected error occurred."}));
    for (const QString& caption : captions_) QCOMPARE(caption, QString("ui_guard_test"));
  }

  void TheRealErrorBoxIsAStopBoxWithOneOkButton() {
    SetErrorBoxPresenter({});
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      caption = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      modality = box->windowModality();
      box->button(QMessageBox::Ok)->click();
    });
    ShowErrorBox("Unable to write to /x/velotrax.ini");
    QCOMPARE(caption, QString("ui_guard_test"));
    QCOMPARE(text, QString("Unable to write to /x/velotrax.ini."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(modality, Qt::ApplicationModal);
  }

  void NotifyCatchesWhatEscapesAnEventHandler() {
    ThrowingObject target;
    QEvent direct(ThrowingObject::kThrow);
    QCOMPARE(QCoreApplication::sendEvent(&target, &direct), false);
    QCoreApplication::postEvent(&target, new QEvent(ThrowingObject::kThrow));
    QCoreApplication::processEvents();
    QCOMPARE(texts_, (QStringList{"'x' is not a valid integer value.",
                                  "'x' is not a valid integer value."}));
  }

  void PostedCallsRunOnTheUiThreadInOrderAndGuarded() {
    QtUiThread ui;
    std::vector<int> order;
    std::atomic<bool> all_on_ui{true};
    const auto ui_thread = std::this_thread::get_id();
    std::thread worker([&] {
      for (int i = 0; i < 100; ++i) {
        ui.Post([&, i] {
          if (std::this_thread::get_id() != ui_thread) all_on_ui = false;
          order.push_back(i);
          if (i == 50) throw EConvertError("'50' failed");
        });
      }
    });
    worker.join();
    QTRY_COMPARE(order.size(), std::size_t{100});
    for (int i = 0; i < 100; ++i) QCOMPARE(order[i], i);
    QVERIFY(all_on_ui);
    QCOMPARE(texts_, QStringList{"'50' failed."});
  }

  void CallWaitsForTheUiThreadAndRunsInlineThere() {
    QtUiThread ui;
    int value = 0;
    ui.Call([&] { value = 1; });  // already on the UI thread
    QCOMPARE(value, 1);

    std::atomic<bool> returned{false};
    std::thread worker([&] {
      ui.Call([&] { value = 2; });
      returned = true;
    });
    // The worker cannot go on until the UI thread has run the call.
    QTRY_VERIFY(returned.load());
    QCOMPARE(value, 2);
    worker.join();
  }

  void CallsArriveWhileAnErrorBoxIsOpen() {
    QtUiThread ui;
    bool arrived = false;
    // An error box that stays open (a nested loop) until a posted call has run.
    SetErrorBoxPresenter([&](const QString&, const QString&) {
      QEventLoop loop;
      std::thread worker([&] {
        ui.Post([&] {
          arrived = true;
          loop.quit();
        });
      });
      QTimer::singleShot(10000, &loop, &QEventLoop::quit);
      loop.exec();
      worker.join();
    });
    RunGuarded([] { throw EWriteError("Stream write error"); });
    QVERIFY(arrived);
  }

  void GoingAwayReleasesAWaitingWorker() {
    auto ui = std::make_unique<QtUiThread>();
    QtUiThread* shared_ui = ui.get();
    std::atomic<pid_t> worker_id{0};
    std::atomic<bool> returned{false};
    bool ran = false;
    std::thread worker([&] {
      worker_id = static_cast<pid_t>(syscall(SYS_gettid));
      shared_ui->Call([&] { ran = true; });
      returned = true;
    });
    // No events are processed from here on, so the queued call can never run; wait until the
    // worker sleeps in Call.
    while (worker_id == 0) std::this_thread::yield();
    QVERIFY(WaitUntilAsleep(worker_id));
    ui.reset();
    worker.join();
    QVERIFY(returned.load());
    QCoreApplication::processEvents();
    QVERIFY(!ran);
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  GuardTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "guard_test.moc"
