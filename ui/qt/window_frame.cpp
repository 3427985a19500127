#include "ui/qt/window_frame.h"

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>

namespace velotrax {

namespace {

// The Motif hint bits the window managers read.
constexpr uint32_t kHintFunctions = 1u << 0, kHintDecorations = 1u << 1;
constexpr uint32_t kFunctionResize = 1u << 1, kFunctionMove = 1u << 2, kFunctionMinimise = 1u << 3,
                   kFunctionMaximise = 1u << 4, kFunctionClose = 1u << 5;
constexpr uint32_t kDecorBorder = 1u << 1, kDecorResizeHandle = 1u << 2, kDecorTitle = 1u << 3,
                   kDecorMenu = 1u << 4, kDecorMinimise = 1u << 5, kDecorMaximise = 1u << 6;

// The few calls of the X connection that Qt's X11 back end has already loaded; the program does
// not link the X library itself, so it runs as well where Qt draws without X.
struct XcbCalls {
  decltype(&xcb_intern_atom) intern_atom = nullptr;
  decltype(&xcb_intern_atom_reply) intern_atom_reply = nullptr;
  decltype(&xcb_change_property) change_property = nullptr;
  decltype(&xcb_flush) flush = nullptr;

  static const XcbCalls* Loaded() {
    static const XcbCalls calls = [] {
      XcbCalls c;
      void* library = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
      if (library == nullptr) return c;
      c.intern_atom =
          reinterpret_cast<decltype(c.intern_atom)>(::dlsym(library, "xcb_intern_atom"));
      c.intern_atom_reply = reinterpret_cast<decltype(c.intern_atom_reply)>(
          ::dlsym(library, "xcb_intern_atom_reply"));
      c.change_property =
          reinterpret_cast<decltype(c.change_property)>(::dlsym(library, "xcb_change_property"));
      c.flush = reinterpret_cast<decltype(c.flush)>(::dlsym(library, "xcb_flush"));
      return c;
    }();
    const bool complete =
        calls.intern_atom && calls.intern_atom_reply && calls.change_property && calls.flush;
    return complete ? &calls : nullptr;
  }
};

// Puts the frame's top left corner at `frame`. The place is handed on as the client's, which
// every window system takes the same way; a frame position is read differently by some.
void MoveFrame(QWindow* handle, QPoint frame, const QMargins& margins) {
  handle->setPosition(frame + QPoint(margins.left(), margins.top()));
}

// Places a window by its frame once the window manager has put the frame around it. The native
// window's own margins are asked, not the widget's frame geometry, which keeps the margins it
// saw before the frame came.
class FramePlacer : public QObject {
 public:
  FramePlacer(QWidget* window, QWindow* handle, std::function<QPoint(QSize)> place)
      : QObject(window), window_(window), handle_(handle), place_(std::move(place)) {
    handle->installEventFilter(this);
    // No window manager, or one that draws no frame: the first placement stands.
    QTimer::singleShot(kPatienceMs, this, [this] { deleteLater(); });
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (watched == handle_ &&
        (type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize)) {
      const QMargins margins = handle_->frameMargins();
      if (!margins.isNull()) {
        handle_->removeEventFilter(this);
        MoveFrame(handle_, place_(window_->size().grownBy(margins)), margins);
        deleteLater();
      }
    }
    return false;
  }

 private:
  static constexpr int kPatienceMs = 3000;
  QWidget* window_;
  QWindow* handle_;
  std::function<QPoint(QSize)> place_;
};

}  // namespace

std::array<uint32_t, 5> MotifFrameHints(Qt::WindowFlags flags, bool resizable) {
  uint32_t functions = kFunctionMove;
  uint32_t decorations = 0;
  if (!(flags & Qt::FramelessWindowHint)) {
    decorations |= kDecorBorder;
    if (flags & Qt::WindowTitleHint) decorations |= kDecorTitle;
    if (flags & Qt::WindowSystemMenuHint) decorations |= kDecorMenu;
  }
  if (resizable) {
    functions |= kFunctionResize;
    if (decorations != 0) decorations |= kDecorResizeHandle;
  }
  if (flags & Qt::WindowMinimizeButtonHint) {
    functions |= kFunctionMinimise;
    if (decorations & kDecorTitle) decorations |= kDecorMinimise;
  }
  if ((flags & Qt::WindowMaximizeButtonHint) && resizable) {
    functions |= kFunctionMaximise;
    if (decorations & kDecorTitle) decorations |= kDecorMaximise;
  }
  if (flags & Qt::WindowCloseButtonHint) functions |= kFunctionClose;
  return {kHintFunctions | kHintDecorations, functions, decorations, 0, 0};
}

void ApplyFrameHints(QWidget* window) {
  if (window == nullptr || !window->isWindow() || !window->testAttribute(Qt::WA_WState_Created)) {
    return;
  }
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  const XcbCalls* xcb = XcbCalls::Loaded();
  if (x11 == nullptr || x11->connection() == nullptr || xcb == nullptr) return;
  xcb_connection_t* connection = x11->connection();

  static constexpr char kAtomName[] = "_MOTIF_WM_HINTS";
  xcb_intern_atom_reply_t* reply = xcb->intern_atom_reply(
      connection, xcb->intern_atom(connection, 0, std::strlen(kAtomName), kAtomName), nullptr);
  if (reply == nullptr) return;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);

  const bool resizable = window->minimumSize() != window->maximumSize();
  const std::array<uint32_t, 5> hints = MotifFrameHints(window->windowFlags(), resizable);
  xcb->change_property(connection, XCB_PROP_MODE_REPLACE,
                       static_cast<xcb_window_t>(window->winId()), atom, atom, 32,
                       static_cast<uint32_t>(hints.size()), hints.data());
  xcb->flush(connection);
}

void PlaceFrame(QWidget* window, const std::function<QPoint(QSize)>& place) {
  window->winId();  // the native window, which the window manager frames
  QWindow* handle = window->windowHandle();
  const QMargins margins = handle->frameMargins();
  if (!margins.isNull()) {
    // Framed already (or never unframed): the widget's own move takes the frame into account.
    window->move(place(window->size().grownBy(margins)));
    return;
  }
  window->move(place(window->size()));
  new FramePlacer(window, handle, place);
}

}  // namespace velotrax
