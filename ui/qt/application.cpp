#include "ui/qt/application.h"

#include <QGuiApplication>
#include <QHelpEvent>
#include <QLayout>
#include <QProxyStyle>
#include <QScreen>
#include <QToolTip>
#include <QWidget>

#include "ui/qt/guard.h"
#include "ui/qt/icons.h"
#include "ui/qt/main_window.h"
#include "ui/qt/window_frame.h"

namespace velotrax {

namespace {

// The delay before a tool-tip shows comes from the style.
class ToolTipTimingStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return kToolTipWakeUpMs;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

// Shows every hint for the same fixed time, whatever its length.
class ToolTipDuration : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->toolTip().isEmpty()) return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    QToolTip::showText(help->globalPos(), widget->toolTip(), widget, QRect(), kToolTipDisplayMs);
    return true;
  }
};

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  SetUpApplication(*this);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportException(std::current_exception());
    return false;
  }
}

QFont WindowFont() {
  // DejaVu Sans Condensed at 11 pixels comes closest to the original's widths and keeps its
  // 13-pixel line, so the fixed layout holds its texts.
  QFont font("MS Sans Serif");
  font.setFamilies({"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  // Stated outright, so that a control inside the bold group box stays regular.
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

void SetUpApplication(QApplication& app) {
  // The title goes into applicationName, not applicationDisplayName: the latter would be
  // appended to every window caption on this platform.
  QCoreApplication::setApplicationName(
      ApplicationTitleFromPath(QCoreApplication::applicationFilePath()));
  QApplication::setWindowIcon(MainIcon());
  QApplication::setStyle(new ToolTipTimingStyle);
  app.installEventFilter(new ToolTipDuration(&app));
  // The program ends when the main window closes, not when the Disclaimer (shown before the main
  // window) or an error box happens to be the last window on the screen.
  QApplication::setQuitOnLastWindowClosed(false);
}

QPoint DesktopCentre(QSize frame_size) {
  QRect desktop;
  for (const QScreen* screen : QGuiApplication::screens()) desktop |= screen->geometry();
  const int width = desktop.right() + 1;
  const int height = desktop.bottom() + 1;
  return {(width - frame_size.width()) / 2, (height - frame_size.height()) / 2};
}

std::unique_ptr<TForm1> CreateMainWindow() {
  auto window = std::make_unique<TForm1>();
  QObject::connect(window.get(), &TForm1::Closed, qApp, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  return window;
}

void ShowMainWindow(TForm1& window) {
  RunGuarded([&window] { window.FormShow(); });
  window.layout()->activate();  // the fixed size stands before the window is placed
  PlaceFrame(&window, DesktopCentre);
  window.show();
  window.activateWindow();
  window.ref1->setFocus(Qt::ActiveWindowFocusReason);
}

void ExitOnceShown(TForm1& window) {
  // The first paint of the main window is the moment the user sees it; the exit is queued so
  // that the paint completes.
  class FirstPaint : public QObject {
   public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && !seen_) {
        seen_ = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
      }
      return false;
    }

   private:
    bool seen_ = false;
  };
  window.installEventFilter(new FirstPaint(&window));
}

}  // namespace velotrax
