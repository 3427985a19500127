// The tool bar's images and the application icon, drawn at run time at 32 x 32 pixels with a
// transparent background.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace velotrax {

// Image 0 of the tool bar: the green round button with a white arrow pointing right.
QPixmap NextRomImage();
// Image 1: the same button with the arrow pointing left.
QPixmap PreviousRomImage();
// Image 2: three stacked bars, blue, green and red, each longer and further right.
QPixmap StartBenchmarkImage();
// The application icon: the three bars above a blue saw-tooth.
QIcon MainIcon();

}  // namespace velotrax
