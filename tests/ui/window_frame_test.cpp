// What the window manager is told about each window's frame: only the buttons, the window menu
// and the functions that the window allows.
#include <QLayout>
#include <QtTest>

#include "ui/qt/application.h"
#include "ui/qt/disclaimer_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/preferences_dialog.h"
#include "ui/qt/window_frame.h"

using namespace velotrax;

namespace {

// The Motif words: functions (resize 2, move 4, minimise 8, maximise 16, close 32) and
// decorations (border 2, resize handle 4, title 8, menu 16, minimise 32, maximise 64).
struct Expected {
  uint32_t functions, decorations;
};

void CompareHints(QWidget& window, Expected expected) {
  const bool resizable = window.minimumSize() != window.maximumSize();
  const std::array<uint32_t, 5> hints = MotifFrameHints(window.windowFlags(), resizable);
  QCOMPARE(hints[0], 3u);  // both words are given
  QCOMPARE(hints[1], expected.functions);
  QCOMPARE(hints[2], expected.decorations);
}

}  // namespace

class WindowFrameTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { SetUpApplication(*qApp); }

  void EachWindowHintsWhatItAllows() {
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    TForm1 main_window;
    main_window.layout()->activate();
    // Fixed size: moved, minimised and closed, never resized or maximised; a window menu.
    CompareHints(main_window, {4 | 8 | 32, 2 | 8 | 16 | 32});

    ProgramState state;
    TForm2 preferences(state, &main_window);
    TForm3 disclaimer;
    // A title bar to move them by, and nothing else.
    CompareHints(preferences, {4, 2 | 8});
    CompareHints(disclaimer, {4, 2 | 8});
  }

  void ResizingAndMaximisingOnlyForAWindowThatCanGrow() {
    const Qt::WindowFlags all = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
    QCOMPARE(MotifFrameHints(all, true)[1], 2u | 4 | 8 | 16 | 32);
    QCOMPARE(MotifFrameHints(all, true)[2], 2u | 4 | 8 | 16 | 32 | 64);
    QCOMPARE(MotifFrameHints(all, false)[1], 4u | 8 | 32);
    QCOMPARE(MotifFrameHints(all, false)[2], 2u | 8 | 16 | 32);
    // No frame at all: nothing to decorate.
    QCOMPARE(MotifFrameHints(Qt::Dialog | Qt::FramelessWindowHint, false)[2], 0u);
  }
};

QTEST_MAIN(WindowFrameTest)
#include "window_frame_test.moc"
