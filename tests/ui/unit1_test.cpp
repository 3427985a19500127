// The main window: its layout, menu accelerators, Previous and Next, F1 and the menu keys, the tab
// order and the close query, each run in a temporary working directory.
#include <sys/inotify.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include "core/state.h"
#include "storage/score_files.h"
#include "tests/ui/window_fixture.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/application.h"
#include "ui/forms.h"
#include "ui/guard.h"

using namespace velotrax;
using velotrax::testing::WriteFile;

namespace {

// Counts how often a file of the watched directory is written whole (in place or by a rename
// over it).
class WriteCounter {
 public:
  explicit WriteCounter(const QString& dir) {
    fd_ = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(fd_, QFile::encodeName(dir).constData(), IN_CLOSE_WRITE | IN_MOVED_TO);
  }
  ~WriteCounter() { close(fd_); }
  int Count(const QByteArray& name) {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0) Note(QByteArray(event->name), event->mask);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return counts_.value(name);
  }

 private:
  // A rename over the name, or a write in place; the close of a file renamed before it was
  // closed is the same write.
  void Note(const QByteArray& name, uint32_t mask) {
    if ((mask & IN_MOVED_TO) || !(last_.value(name) & IN_MOVED_TO)) counts_[name] += 1;
    last_[name] = mask;
  }

  int fd_ = -1;
  QHash<QByteArray, int> counts_;
  QHash<QByteArray, uint32_t> last_;
};

}  // namespace

class Unit1Test : public velotrax::testing::WindowFixture {
  Q_OBJECT

 private slots:
  // Closing the main window would end the application; here it only counts.
  void initTestCase() { CatchErrorBoxes(); }

  void init() {
    EnterTempDir();
    // Never write the settings outside the temporary directory.
    if (QTest::currentTestFailed()) return;
    WriteFile("velotrax.ini", "[velotrax]\r\nmamefile=mame.exe\r\nselected=1\r\nmethode=1\r\n");
    StartProgram(/*wait_until_active=*/true);
  }

  void cleanup() { LeaveTempDir(); }

  void LayoutMatchesTheTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("sized_to_text");
    struct Row {
      const char* name;
      const char* parent;
      QRect geometry;
      const char* text;
      bool bold, sized;
    };
    const Row rows[] = {
        {"ToolBar1", "client", {0, 0, 538, 44}, "", false, false},
        {"ToolButton4", "ToolBar1", {0, 2, 39, 38}, "", false, false},
        {"ToolButton5", "ToolBar1", {39, 2, 8, 38}, "", false, false},
        {"ToolButton1", "ToolBar1", {47, 2, 39, 38}, "", false, false},
        {"ToolButton2", "ToolBar1", {86, 2, 39, 38}, "", false, false},
        {"ToolButton3", "ToolBar1", {125, 2, 8, 38}, "", false, false},
        {"Label4", "client", {8, 50, 70, 13}, "Selected Rom:", false, true},
        {"rom_selector", "client", {89, 48, 88, 21}, "Select Rom", false, false},
        {"Memo1", "client", {448, 40, 33, 33}, "", false, false},
        {"rom_display", "client", {0, 72, 538, 280}, "Select Rom (driver: )", true, false},
        {"StatusBar", "client", {0, 352, 538, 19}, "", false, false},
        {"Label1", "rom_display", {8, 24, 86, 13}, "This Computer:", true, true},
        {"cpu_info", "rom_display", {168, 24, 337, 13}, "", false, false},
        {"Label3", "rom_display", {64, 48, 57, 13}, "DDraw :", false, false},
        {"edit2", "rom_display", {128, 48, 33, 13}, "N/A", false, false},
        {"Gauge_ddraw", "rom_display", {168, 50, 329, 9}, "", false, false},
        {"Label2", "rom_display", {64, 64, 57, 13}, " D3D :", false, false},
        {"edit1", "rom_display", {128, 64, 33, 13}, "N/A", false, false},
        {"gauge_3d3", "rom_display", {168, 66, 329, 9}, "", false, false},
        {"Bevel1", "rom_display", {8, 80, 521, 9}, "", false, false},
        {"Label5", "rom_display", {8, 96, 75, 13}, "Reference 1:", true, true},
        {"refname1", "rom_display", {168, 96, 353, 13}, "", false, false},
        {"ref1", "rom_display", {8, 116, 113, 21}, "Select reference", false, false},
        {"label_ref1_ddraw", "rom_display", {128, 112, 33, 13}, "N/A", false, false},
        {"gauge_ref1ddraw", "rom_display", {168, 114, 329, 9}, "", false, false},
        {"Label_ref1_d3d", "rom_display", {128, 128, 33, 13}, "N/A", false, false},
        {"Gauge_ref1d3d", "rom_display", {168, 130, 329, 9}, "", false, false},
        {"Label6", "rom_display", {8, 160, 75, 13}, "Reference 2:", true, true},
        {"refname2", "rom_display", {168, 160, 353, 13}, "", false, false},
        {"ref2", "rom_display", {8, 181, 113, 21}, "Select reference", false, false},
        {"label_ref2_ddraw", "rom_display", {128, 176, 33, 13}, "N/A", false, false},
        {"Gauge_ref2ddraw", "rom_display", {168, 178, 329, 9}, "", false, false},
        {"Label_ref2_d3d", "rom_display", {128, 192, 33, 13}, "N/A", false, false},
        {"Gauge_ref2d3d", "rom_display", {168, 194, 329, 9}, "", false, false},
        {"Label7", "rom_display", {8, 224, 75, 13}, "Reference 3:", true, true},
        {"refname3", "rom_display", {168, 224, 353, 13}, "", false, false},
        {"ref3", "rom_display", {8, 245, 113, 21}, "Select reference", false, false},
        {"label_ref3_ddraw", "rom_display", {128, 240, 33, 13}, "N/A", false, false},
        {"Gauge_ref3ddraw", "rom_display", {168, 242, 329, 9}, "", false, false},
        {"Label_ref3_d3d", "rom_display", {128, 256, 33, 13}, "N/A", false, false},
        {"Gauge_ref3d3d", "rom_display", {168, 258, 329, 9}, "", false, false},
    };
    for (const Row& row : rows) {
      QTest::newRow(row.name) << row.name << row.parent << row.geometry << row.text << row.bold
                              << row.sized;
    }
  }

  void LayoutMatchesTheTable() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, bold);
    QFETCH(bool, sized_to_text);
    // Previous and Next take the selection to the placeholder, as at a first start.
    Form1->SelectGame(0);
    Form1->RefreshComparison();
    auto* widget = Form1->findChild<QWidget*>(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QRect expected = geometry;
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      shown = label->text();
      if (sized_to_text) {
        expected.setWidth(std::max(geometry.width(), label->fontMetrics().horizontalAdvance(text)));
      }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      shown = combo->currentText();
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
      shown = box->title();
    }
    QCOMPARE(widget->geometry(), expected);
    QCOMPARE(shown, text);
    QCOMPARE(widget->font().bold(), bold);
    QCOMPARE(QFontMetrics(widget->font()).height(), 13);
  }

  void WindowIsFixedWithItsControlsSetUp() {
    QCOMPARE(Form1->windowTitle(), QString("Velotrax 1.0"));
    QCOMPARE(Form1->client->size(), QSize(538, 371));
    QCOMPARE(Form1->minimumSize(), Form1->maximumSize());
    QVERIFY(!(Form1->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(Form1->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!Form1->Memo1->isVisible());
    QCOMPARE(Form1->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(Form1->StatusPanel->text(), QString("Status :"));
    Form1->SetPcDescription("<b>Tom & Jerry</b>");  // shown as typed, never as markup
    QCOMPARE(Form1->cpu_info->textFormat(), Qt::PlainText);
    QCOMPARE(Form1->cpu_info->text(), QString("<b>Tom & Jerry</b>"));
    QCOMPARE(Form1->Label3->alignment() & Qt::AlignRight, Qt::AlignRight);
    QCOMPARE(Form1->rom_selector->count(), 55);
    QCOMPARE(Form1->rom_selector->itemText(2), QString("Asteroid"));
    QCOMPARE(Form1->rom_selector->itemText(54), QString("drivedge"));
    QCOMPARE(Form1->rom_selector->maxVisibleItems(), 35);
    QCOMPARE(Form1->ref2->maxVisibleItems(), 8);
    QCOMPARE(Form1->ToolButton2->toolTip(), QString("Next Rom"));
    QCOMPARE(Form1->ToolButton1->toolTip(), QString("Previous Rom"));
    QCOMPARE(Form1->ToolButton4->toolTip(), QString("Start Benchmark"));
    QCOMPARE(Form1->Gauge_ddraw->ForeColor(), RGBColor(0, 0, 255));
    QCOMPARE(Form1->gauge_3d3->ForeColor(), RGBColor(255, 0, 0));
    QCOMPARE(Form1->Gauge_ref2ddraw->ForeColor(), RGBColor(0, 0, 128));
    QCOMPARE(Form1->Gauge_ref3d3d->ForeColor(), RGBColor(128, 0, 0));
    QVERIFY(!Form1->Gauge_ref1d3d->ShowText());
    const auto& startup = Form1->mame().StartupInfo;
    QCOMPARE(startup.ShowWindow, TJvCPSShowWindow::swHide);
    QVERIFY(!startup.DefaultPosition && !startup.DefaultSize && !startup.DefaultWindowState);
    QCOMPARE(Form1->mame().ConsoleOptions,
             (std::set{TJvConsoleOption::coOwnerData, TJvConsoleOption::coRedirect}));
  }

  void AcceleratorsTakeTheFirstFreeLetterOrDigit() {
    const struct {
      QStringList captions, expected;
    } cases[] = {
        {{"File", "Options", "About"}, {"&File", "&Options", "&About"}},
        {{"Start Benchmark", "Exit"}, {"&Start Benchmark", "&Exit"}},
        {{"Save", "Send", "sort"}, {"&Save", "S&end", "s&ort"}},
        {{"Open", "open"}, {"&Open", "o&pen"}},
        {{"A", "a", "-"}, {"&A", "a", "-"}},
        {{"1st", "12"}, {"&1st", "1&2"}},
        {{"Copy & Paste", "Cut"}, {"&Copy && Paste", "C&ut"}},
        {{"  x"}, {"  &x"}},
    };
    for (const auto& c : cases) {
      QCOMPARE(AssignAccelerators(c.captions), c.expected);
    }
    QCOMPARE(Form1->File1->title(), QString("&File"));
    QCOMPARE(Form1->Benchmark1->title(), QString("&Options"));
    QCOMPARE(Form1->About1->title(), QString("&About"));
    QCOMPARE(Form1->BenchmarkAll1->text(), QString("&Preferences"));
    QCOMPARE(Form1->Info1->text(), QString("&Info"));
    QCOMPARE(Form1->StartBenchmark1->shortcut(), QKeySequence(Qt::Key_F1));
  }

  void PreviousAndNextStopAtTheEndsAndRefreshOnce() {
    Form1->SelectGame(0);
    int before = Form1->RefreshCount();
    Form1->ToolButton1->click();  // nothing before the placeholder
    QCOMPARE(Form1->rom_selector->currentIndex(), 0);
    QCOMPARE(Form1->RefreshCount(), before);

    Form1->ToolButton2->click();
    QCOMPARE(Form1->rom_selector->currentIndex(), 1);
    QCOMPARE(Form1->RefreshCount(), before + 1);
    QCOMPARE(Form1->rom_display->title(), QString("720 (driver: atarisy2.c)"));

    Form1->ToolButton1->click();
    QCOMPARE(Form1->rom_selector->currentIndex(), 0);
    QCOMPARE(Form1->RefreshCount(), before + 2);
    QCOMPARE(Form1->rom_display->title(), QString("Select Rom (driver: )"));

    Form1->SelectGame(54);
    before = Form1->RefreshCount();
    Form1->ToolButton2->click();  // nothing after the last game
    QCOMPARE(Form1->rom_selector->currentIndex(), 54);
    QCOMPARE(Form1->RefreshCount(), before);
    Form1->ToolButton1->click();
    QCOMPARE(Form1->rom_selector->currentText(), QString("bmdct"));
    QCOMPARE(Form1->RefreshCount(), before + 1);
  }

  void OnlyTheUsersPickRefreshes() {
    const int before = Form1->RefreshCount();
    Form1->SelectGame(23);
    QCOMPARE(Form1->RefreshCount(), before);
    QCOMPARE(Form1->rom_display->title(), QString("720 (driver: atarisy2.c)"));
    Form1->rom_selector->setFocus();
    QTest::keyClick(Form1->rom_selector, Qt::Key_Down);
    QCOMPARE(Form1->rom_selector->currentIndex(), 24);
    QCOMPARE(Form1->RefreshCount(), before + 1);
    QCOMPARE(Form1->rom_display->title(), QString("pbobble4 (driver: taito_f3.c)"));
    // An index from the settings beyond the list still leaves a game selected.
    Form1->SelectGame(99);
    QCOMPARE(Form1->rom_selector->currentIndex(), 54);
  }

  void F1AndMenuKeysStartABenchmarkWhereverTheFocusIs() {
    // mame.exe is missing, so each start ends in the runner's error; the pass log's line and the
    // error box show that the start got as far as the runner. Nothing runs afterwards, and the
    // window says so: "Ready" and the default pointers.
    const QString ready = "Status : Ready";
    auto starts_shown = [] { return Form1->Memo1->toPlainText().count("Benchmarking : 720"); };
    Form1->ref2->setFocus();
    QTRY_VERIFY(Form1->ref2->hasFocus());
    QTest::keyClick(Form1->ref2, Qt::Key_F1);
    QCOMPARE(Form1->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(starts_shown(), 1);
    QVERIFY(!Form1->ref2->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(Form1->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!Form2->use_d3d->testAttribute(Qt::WA_SetCursor));

    Form1->SetStatusText("Status :");
    Form1->ref3->setFocus();
    QTRY_VERIFY(Form1->ref3->hasFocus());
    QTest::keyClick(Form1->ref3, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() == Form1->File1);
    QTest::keyClick(Form1->File1, Qt::Key_S);
    QTRY_COMPARE(Form1->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(starts_shown(), 2);

    Form1->SetStatusText("Status :");
    Form1->ToolButton4->click();
    QCOMPARE(Form1->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 3);
    QCOMPARE(starts_shown(), 3);
    QVERIFY(!errors_.last().isEmpty());
  }

  void ARefusedSecondPassSaysReadyAFailedReadingKeepsTheHourglass() {
    // The DirectDraw pass of a combined benchmark ends while the emulator has gone: the Direct3D
    // pass cannot start.
    ProgramState& state = Form1->State();
    Form1->ShowBusyCursors();
    Form1->SetStatusText("Status : Benchmarking 720 using DDraw Please Wait...");
    state.current_game = 1;
    state.pass_is_d3d = false;
    state.both_pending = true;
    state.pass_log = {"Average speed: 245.73%"};
    RunGuarded([] { Form1->mameTerminate(Form1->mame(), 0); });
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(Form1->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(!Form1->ref1->testAttribute(Qt::WA_SetCursor));
    QVERIFY(Form1->Memo1->toPlainText().contains("Benchmarking : 720"));

    // A frame rate that does not read ends the pass end before any start, as described: the
    // hourglass stays until the next benchmark ends.
    Form1->ShowBusyCursors();
    state.both_pending = false;
    state.pass_log = {"Average FPS: .5"};
    RunGuarded([] { Form1->mameTerminate(Form1->mame(), 0); });
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(Form1->StatusPanel->text(), QString("Status : Ready"));
    QCOMPARE(Form1->ref1->cursor().shape(), Qt::WaitCursor);
  }

  void TheGameListShowsItsScrollBar() {
    QComboBox* list = Form1->rom_selector;
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    QVERIFY(list->view()->verticalScrollBar()->isVisible());
    QCOMPARE(list->view()->visualRect(list->model()->index(1, 0)).height(), 13);
    QCOMPARE(list->view()->viewport()->height() / 13, 35);
    list->hidePopup();
  }

  void TabOrderRunsThroughTheFourSelectors() {
    QTRY_VERIFY(Form1->ref1->hasFocus());  // where the first showing put it
    QComboBox* const order[] = {Form1->ref2, Form1->ref3, Form1->rom_selector, Form1->ref1,
                                Form1->ref2};
    for (QComboBox* next : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QTRY_COMPARE(QApplication::focusWidget(), next);
    }
  }

  void EachCloseRouteSavesOnce() {
    WriteCounter writes(QDir::currentPath());
    const struct {
      const char* route;
      std::function<void()> close;
    } routes[] = {
        {"close box", [] { Form1->windowHandle()->close(); }},
        {"Alt+F4", [] { QTest::keyClick(Form1->ref1, Qt::Key_F4, Qt::AltModifier); }},
        {"File > Exit", [] { Form1->Exit2->trigger(); }},
    };
    int closes = 0;
    for (const auto& route : routes) {
      Form1->show();
      QApplication::setActiveWindow(Form1);
      QVERIFY(QTest::qWaitForWindowActive(Form1));
      route.close();
      QTRY_VERIFY2(!Form1->isVisible(), route.route);
      QTest::qWait(50);
      ++closes;
      QCOMPARE(closed_, closes);
      QCOMPARE(writes.Count("mark.dat"), closes);
    }
    QVERIFY(errors_.isEmpty());
    QFile mark("mark.dat");
    QVERIFY(mark.open(QIODevice::ReadOnly));
    QCOMPARE(mark.readAll().count('\n'), 110);
  }

  void ToolBarButtonsCanBeRemovedAndReordered() {
    std::unique_ptr<QDialog> dialog(Form1->ToolBar1->MakeCustomizeDialog());
    auto* customize = static_cast<TToolBarCustomizeDialog*>(dialog.get());
    QCOMPARE(customize->current->count(), 5);
    QCOMPARE(customize->available->count(), 0);
    customize->current->setCurrentRow(2);  // Previous Rom
    customize->RemoveClick();
    customize->current->setCurrentRow(2);  // Next Rom
    customize->MoveUpClick();
    customize->MoveUpClick();
    QCOMPARE(Form1->ToolBar1->Arrangement(),
             (QList<QWidget*>{Form1->ToolButton2, Form1->ToolButton4, Form1->ToolButton5,
                              Form1->ToolButton3}));
    QVERIFY(!Form1->ToolButton1->isVisible());
    QCOMPARE(Form1->ToolButton2->geometry(), QRect(0, 2, 39, 38));
    QCOMPARE(Form1->ToolButton4->geometry(), QRect(39, 2, 39, 38));
    QCOMPARE(customize->available->item(0)->text(), QString("Previous Rom"));
    customize->available->setCurrentRow(0);
    customize->current->setCurrentRow(-1);
    customize->AddClick();
    QCOMPARE(Form1->ToolBar1->Arrangement().last(), Form1->ToolButton1);
    QCOMPARE(Form1->ToolButton1->geometry(), QRect(94, 2, 39, 38));
    customize->ResetClick();
    QCOMPARE(Form1->ToolBar1->Arrangement(), Form1->ToolBar1->AllItems());
    QCOMPARE(Form1->ToolButton1->geometry(), QRect(47, 2, 39, 38));
  }

  void ScoresAnotherProgramStoredShowAtTheNextPick() {
    ProgramState other;
    other.base_dir = QDir::currentPath().toStdString() + "/";
    BuildCatalogue(other);
    other.games[2].d3d = 109;
    other.games[2].ddraw = 110;
    SaveScores(other);
    Form1->State().games[2].d3d = 42;  // measured here, not saved yet: it stays
    Form1->ToolButton2->click();       // Asteroid
    QCOMPARE(Form1->edit1->text(), QString("42"));
    QCOMPARE(Form1->edit2->text(), QString("110"));

    // A file that does not read at a pick leaves what is shown, without an error box; the close
    // writes the scores shown and keeps that file as the backup.
    const QByteArray damaged = "[0]\r\ncpu=PC\r\n720=oops\r\n";
    WriteFile("mark.dat", damaged);
    Form1->rom_selector->setCurrentIndex(2);
    Form1->rom_selectorChange();
    QCOMPARE(Form1->edit2->text(), QString("110"));
    QVERIFY(errors_.isEmpty());
    Form1->Exit2->trigger();
    QCOMPARE(closed_, 1);
    QVERIFY(
        velotrax::testing::ReadFile("mark.dat").contains("\r\nasteroid=42\r\nasteroida=110\r\n"));
    QCOMPARE(velotrax::testing::ReadFile("mark.dat.bak"), damaged);
  }

  void AFailedCloseQueryKeepsTheWindowOpen() {
    // A directory where the score file should go: the file cannot be replaced.
    QVERIFY(QDir().mkpath("mark.dat/keep"));
    Form1->Exit2->trigger();
    QCOMPARE(errors_.size(), 1);
    QVERIFY(Form1->isVisible());
    QCOMPARE(closed_, 0);
    QVERIFY(QDir("mark.dat").removeRecursively());
    Form1->Exit2->trigger();
    QVERIFY(!Form1->isVisible());
    QCOMPARE(closed_, 1);
    QVERIFY(QFileInfo("mark.dat").isFile());
  }

  void AFailedCloseMayEndWithoutSaving() {
    QVERIFY(QDir().mkpath("mark.dat/keep"));
    Form1->Exit2->trigger();                // No: the window stays, as without the question
    QCOMPARE(questions_, QList<int>({1}));  // asked after the error box
    QVERIFY(Form1->isVisible());
    answer_yes_ = true;
    Form1->Exit2->trigger();
    QCOMPARE(errors_.size(), 2);
    QVERIFY(!Form1->isVisible());
    QCOMPARE(closed_, 1);
    QVERIFY(QFileInfo("mark.dat").isDir());
  }
};

QTEST_MAIN(Unit1Test)
#include "unit1_test.moc"
