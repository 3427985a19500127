// The frame that the window manager draws around a top-level window: the title-bar buttons, the
// window menu and the functions the window allows, and placing a window by its frame.
#pragma once

#include <QPoint>
#include <QSize>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <functional>

class QWidget;

namespace velotrax {

// The five words of the Motif window-manager hints (flags, functions, decorations, input mode,
// status) for a window with these Qt flags; `resizable` when its size is not fixed.
std::array<uint32_t, 5> MotifFrameHints(Qt::WindowFlags flags, bool resizable);

// Hands the window manager the hints of the window's flags and size; for a created top-level
// window on X11, and nothing elsewhere. Qt's own hints leave out the decorations of a window
// whose title bar has no button, and always offer resizing.
void ApplyFrameHints(QWidget* window);

// Moves the window's frame to place(frame size) now, and again as soon as the window manager has
// framed the window just shown (until then the frame's size is not known); leaves the window
// alone when no frame comes.
void PlaceFrame(QWidget* window, const std::function<QPoint(QSize)>& place);

}  // namespace velotrax
