// The application object and the start-up sequence of Velotrax.
#pragma once

#include <QApplication>
#include <QFont>
#include <memory>

#include "ui/qt/main_window.h"

namespace velotrax {

// The Qt application with the program's title, icon and tool-tip timing; its notify() shows
// whatever escapes an event handler in the error box instead of letting it unwind through Qt.
class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Tool-tips appear this long after the pointer comes to rest...
inline constexpr int kToolTipWakeUpMs = 500;
// ...and go again after this long.
inline constexpr int kToolTipDisplayMs = 2500;

// The windows' font: "MS Sans Serif" at 8 points (11 pixels high), or a sans-serif font of the
// same height where it is missing.
QFont WindowFont();

// Sets title, icon, tool-tip timing and quit behaviour on an existing application object.
void SetUpApplication(QApplication& app);

// Creates the main window hidden: it runs FormCreate, then creates the Preferences dialog, the
// Disclaimer and the About window, in this order, all hidden. Its close ends the event loop.
std::unique_ptr<TForm1> CreateMainWindow();
// The first showing of the main window: the show sequence, centring on the desktop, focus in
// ref1.
void ShowMainWindow(TForm1& window);
// For the start-up benchmark: the event loop ends as soon as the main window has been drawn
// for the first time (nothing is saved). Call before ShowMainWindow.
void ExitOnceShown(TForm1& window);

// Left and top that centre a window of this frame size on the union of all screens, measured
// from (0, 0).
QPoint DesktopCentre(QSize frame_size);

}  // namespace velotrax
