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
#include "ui/qt/application.h"
#include "ui/qt/guard.h"
#include "ui/qt/main_window.h"
#include "ui/qt/preferences_dialog.h"

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

class MainWindowTest : public velotrax::testing::WindowFixture {
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
    main_window_->SelectGame(0);
    main_window_->RefreshComparison();
    auto* widget = main_window_->findChild<QWidget*>(name);
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
    QCOMPARE(main_window_->windowTitle(), QString("Velotrax 1.0"));
    QCOMPARE(main_window_->client->size(), QSize(538, 371));
    QCOMPARE(main_window_->minimumSize(), main_window_->maximumSize());
    QVERIFY(!(main_window_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(main_window_->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!main_window_->Memo1->isVisible());
    QCOMPARE(main_window_->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status :"));
    main_window_->SetPcDescription("<b>Tom & Jerry</b>");  // shown as typed, never as markup
    QCOMPARE(main_window_->cpu_info->textFormat(), Qt::PlainText);
    QCOMPARE(main_window_->cpu_info->text(), QString("<b>Tom & Jerry</b>"));
    QCOMPARE(main_window_->Label3->alignment() & Qt::AlignRight, Qt::AlignRight);
    QCOMPARE(main_window_->rom_selector->count(), 55);
    QCOMPARE(main_window_->rom_selector->itemText(2), QString("Asteroid"));
    QCOMPARE(main_window_->rom_selector->itemText(54), QString("drivedge"));
    QCOMPARE(main_window_->rom_selector->maxVisibleItems(), 35);
    QCOMPARE(main_window_->ref2->maxVisibleItems(), 8);
    QCOMPARE(main_window_->ToolButton2->toolTip(), QString("Next Rom"));
    QCOMPARE(main_window_->ToolButton1->toolTip(), QString("Previous Rom"));
    QCOMPARE(main_window_->ToolButton4->toolTip(), QString("Start Benchmark"));
    QCOMPARE(main_window_->Gauge_ddraw->ForeColor(), RGBColor(0, 0, 255));
    QCOMPARE(main_window_->gauge_3d3->ForeColor(), RGBColor(255, 0, 0));
    QCOMPARE(main_window_->Gauge_ref2ddraw->ForeColor(), RGBColor(0, 0, 128));
    QCOMPARE(main_window_->Gauge_ref3d3d->ForeColor(), RGBColor(128, 0, 0));
    QVERIFY(!main_window_->Gauge_ref1d3d->ShowText());
    const auto& startup = main_window_->mame().StartupInfo;
    QCOMPARE(startup.ShowWindow, TJvCPSShowWindow::swHide);
    QVERIFY(!startup.DefaultPosition && !startup.DefaultSize && !startup.DefaultWindowState);
    QCOMPARE(main_window_->mame().ConsoleOptions,
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
    QCOMPARE(main_window_->File1->title(), QString("&File"));
    QCOMPARE(main_window_->Benchmark1->title(), QString("&Options"));
    QCOMPARE(main_window_->About1->title(), QString("&About"));
    QCOMPARE(main_window_->BenchmarkAll1->text(), QString("&Preferences"));
    QCOMPARE(main_window_->Info1->text(), QString("&Info"));
    QCOMPARE(main_window_->StartBenchmark1->shortcut(), QKeySequence(Qt::Key_F1));
  }

  void PreviousAndNextStopAtTheEndsAndRefreshOnce() {
    main_window_->SelectGame(0);
    int before = main_window_->RefreshCount();
    main_window_->ToolButton1->click();  // nothing before the placeholder
    QCOMPARE(main_window_->rom_selector->currentIndex(), 0);
    QCOMPARE(main_window_->RefreshCount(), before);

    main_window_->ToolButton2->click();
    QCOMPARE(main_window_->rom_selector->currentIndex(), 1);
    QCOMPARE(main_window_->RefreshCount(), before + 1);
    QCOMPARE(main_window_->rom_display->title(), QString("720 (driver: atarisy2.c)"));

    main_window_->ToolButton1->click();
    QCOMPARE(main_window_->rom_selector->currentIndex(), 0);
    QCOMPARE(main_window_->RefreshCount(), before + 2);
    QCOMPARE(main_window_->rom_display->title(), QString("Select Rom (driver: )"));

    main_window_->SelectGame(54);
    before = main_window_->RefreshCount();
    main_window_->ToolButton2->click();  // nothing after the last game
    QCOMPARE(main_window_->rom_selector->currentIndex(), 54);
    QCOMPARE(main_window_->RefreshCount(), before);
    main_window_->ToolButton1->click();
    QCOMPARE(main_window_->rom_selector->currentText(), QString("bmdct"));
    QCOMPARE(main_window_->RefreshCount(), before + 1);
  }

  void OnlyTheUsersPickRefreshes() {
    const int before = main_window_->RefreshCount();
    main_window_->SelectGame(23);
    QCOMPARE(main_window_->RefreshCount(), before);
    QCOMPARE(main_window_->rom_display->title(), QString("720 (driver: atarisy2.c)"));
    main_window_->rom_selector->setFocus();
    QTest::keyClick(main_window_->rom_selector, Qt::Key_Down);
    QCOMPARE(main_window_->rom_selector->currentIndex(), 24);
    QCOMPARE(main_window_->RefreshCount(), before + 1);
    QCOMPARE(main_window_->rom_display->title(), QString("pbobble4 (driver: taito_f3.c)"));
    // An index from the settings beyond the list still leaves a game selected.
    main_window_->SelectGame(99);
    QCOMPARE(main_window_->rom_selector->currentIndex(), 54);
  }

  void F1AndMenuKeysStartABenchmarkWhereverTheFocusIs() {
    // mame.exe is missing, so each start ends in the runner's error; the pass log's line and the
    // error box show that the start got as far as the runner. Nothing runs afterwards, and the
    // window says so: "Ready" and the default pointers.
    const QString ready = "Status : Ready";
    auto starts_shown = [this] {
      return main_window_->Memo1->toPlainText().count("Benchmarking : 720");
    };
    main_window_->ref2->setFocus();
    QTRY_VERIFY(main_window_->ref2->hasFocus());
    QTest::keyClick(main_window_->ref2, Qt::Key_F1);
    QCOMPARE(main_window_->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(starts_shown(), 1);
    QVERIFY(!main_window_->ref2->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(main_window_->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!main_window_->Preferences()->use_d3d->testAttribute(Qt::WA_SetCursor));

    main_window_->SetStatusText("Status :");
    main_window_->ref3->setFocus();
    QTRY_VERIFY(main_window_->ref3->hasFocus());
    QTest::keyClick(main_window_->ref3, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() == main_window_->File1);
    QTest::keyClick(main_window_->File1, Qt::Key_S);
    QTRY_COMPARE(main_window_->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(starts_shown(), 2);

    main_window_->SetStatusText("Status :");
    main_window_->ToolButton4->click();
    QCOMPARE(main_window_->StatusPanel->text(), ready);
    QCOMPARE(errors_.size(), 3);
    QCOMPARE(starts_shown(), 3);
    QVERIFY(!errors_.last().isEmpty());
  }

  void ARefusedSecondPassSaysReadyAFailedReadingKeepsTheHourglass() {
    // The DirectDraw pass of a combined benchmark ends while the emulator has gone: the Direct3D
    // pass cannot start.
    ProgramState& state = main_window_->State();
    main_window_->ShowBusyCursors();
    main_window_->SetStatusText("Status : Benchmarking 720 using DDraw Please Wait...");
    state.current_game = 1;
    state.pass_is_d3d = false;
    state.both_pending = true;
    state.pass_log = {"Average speed: 245.73%"};
    RunGuarded([this] { main_window_->mameTerminate(main_window_->mame(), 0); });
    QCOMPARE(errors_.size(), 1);
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QVERIFY(!main_window_->ref1->testAttribute(Qt::WA_SetCursor));
    QVERIFY(main_window_->Memo1->toPlainText().contains("Benchmarking : 720"));

    // A frame rate that does not read ends the pass end before any start, as described: the
    // hourglass stays until the next benchmark ends.
    main_window_->ShowBusyCursors();
    state.both_pending = false;
    state.pass_log = {"Average FPS: .5"};
    RunGuarded([this] { main_window_->mameTerminate(main_window_->mame(), 0); });
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(main_window_->StatusPanel->text(), QString("Status : Ready"));
    QCOMPARE(main_window_->ref1->cursor().shape(), Qt::WaitCursor);
  }

  void TheGameListShowsItsScrollBar() {
    QComboBox* list = main_window_->rom_selector;
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    QVERIFY(list->view()->verticalScrollBar()->isVisible());
    QCOMPARE(list->view()->visualRect(list->model()->index(1, 0)).height(), 13);
    QCOMPARE(list->view()->viewport()->height() / 13, 35);
    list->hidePopup();
  }

  void TabOrderRunsThroughTheFourSelectors() {
    QTRY_VERIFY(main_window_->ref1->hasFocus());  // where the first showing put it
    QComboBox* const order[] = {main_window_->ref2, main_window_->ref3, main_window_->rom_selector,
                                main_window_->ref1, main_window_->ref2};
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
        {"close box", [this] { main_window_->windowHandle()->close(); }},
        {"Alt+F4", [this] { QTest::keyClick(main_window_->ref1, Qt::Key_F4, Qt::AltModifier); }},
        {"File > Exit", [this] { main_window_->Exit2->trigger(); }},
    };
    int closes = 0;
    for (const auto& route : routes) {
      main_window_->show();
      QApplication::setActiveWindow(main_window_.get());
      QVERIFY(QTest::qWaitForWindowActive(main_window_.get()));
      route.close();
      QTRY_VERIFY2(!main_window_->isVisible(), route.route);
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
    std::unique_ptr<QDialog> dialog(main_window_->ToolBar1->MakeCustomizeDialog());
    auto* customize = static_cast<TToolBarCustomizeDialog*>(dialog.get());
    QCOMPARE(customize->current->count(), 5);
    QCOMPARE(customize->available->count(), 0);
    customize->current->setCurrentRow(2);  // Previous Rom
    customize->RemoveClick();
    customize->current->setCurrentRow(2);  // Next Rom
    customize->MoveUpClick();
    customize->MoveUpClick();
    QCOMPARE(main_window_->ToolBar1->Arrangement(),
             (QList<QWidget*>{main_window_->ToolButton2, main_window_->ToolButton4,
                              main_window_->ToolButton5, main_window_->ToolButton3}));
    QVERIFY(!main_window_->ToolButton1->isVisible());
    QCOMPARE(main_window_->ToolButton2->geometry(), QRect(0, 2, 39, 38));
    QCOMPARE(main_window_->ToolButton4->geometry(), QRect(39, 2, 39, 38));
    QCOMPARE(customize->available->item(0)->text(), QString("Previous Rom"));
    customize->available->setCurrentRow(0);
    customize->current->setCurrentRow(-1);
    customize->AddClick();
    QCOMPARE(main_window_->ToolBar1->Arrangement().last(), main_window_->ToolButton1);
    QCOMPARE(main_window_->ToolButton1->geometry(), QRect(94, 2, 39, 38));
    customize->ResetClick();
    QCOMPARE(main_window_->ToolBar1->Arrangement(), main_window_->ToolBar1->AllItems());
    QCOMPARE(main_window_->ToolButton1->geometry(), QRect(47, 2, 39, 38));
  }

  void ScoresAnotherProgramStoredShowAtTheNextPick() {
    ProgramState other;
    other.base_dir = QDir::currentPath().toStdString() + "/";
    BuildCatalogue(other);
    other.games[2].d3d = 109;
    other.games[2].ddraw = 110;
    SaveScores(other);
    main_window_->State().games[2].d3d = 42;  // measured here, not saved yet: it stays
    main_window_->ToolButton2->click();       // Asteroid
    QCOMPARE(main_window_->edit1->text(), QString("42"));
    QCOMPARE(main_window_->edit2->text(), QString("110"));

    // A file that does not read at a pick leaves what is shown, without an error box; the close
    // writes the scores shown and keeps that file as the backup.
    const QByteArray damaged = "[0]\r\ncpu=PC\r\n720=oops\r\n";
    WriteFile("mark.dat", damaged);
    main_window_->rom_selector->setCurrentIndex(2);
    main_window_->rom_selectorChange();
    QCOMPARE(main_window_->edit2->text(), QString("110"));
    QVERIFY(errors_.isEmpty());
    main_window_->Exit2->trigger();
    QCOMPARE(closed_, 1);
    QVERIFY(
        velotrax::testing::ReadFile("mark.dat").contains("\r\nasteroid=42\r\nasteroida=110\r\n"));
    QCOMPARE(velotrax::testing::ReadFile("mark.dat.bak"), damaged);
  }

  void AFailedCloseQueryKeepsTheWindowOpen() {
    // A directory where the score file should go: the file cannot be replaced.
    QVERIFY(QDir().mkpath("mark.dat/keep"));
    main_window_->Exit2->trigger();
    QCOMPARE(errors_.size(), 1);
    QVERIFY(main_window_->isVisible());
    QCOMPARE(closed_, 0);
    QVERIFY(QDir("mark.dat").removeRecursively());
    main_window_->Exit2->trigger();
    QVERIFY(!main_window_->isVisible());
    QCOMPARE(closed_, 1);
    QVERIFY(QFileInfo("mark.dat").isFile());
  }

  void AFailedCloseMayEndWithoutSaving() {
    QVERIFY(QDir().mkpath("mark.dat/keep"));
    main_window_->Exit2->trigger();         // No: the window stays, as without the question
    QCOMPARE(questions_, QList<int>({1}));  // asked after the error box
    QVERIFY(main_window_->isVisible());
    answer_yes_ = true;
    main_window_->Exit2->trigger();
    QCOMPARE(errors_.size(), 2);
    QVERIFY(!main_window_->isVisible());
    QCOMPARE(closed_, 1);
    QVERIFY(QFileInfo("mark.dat").isDir());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
