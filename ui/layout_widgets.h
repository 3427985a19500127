// The Qt widgets of a window built from its layout data (ui/window_layout.h).
#pragma once

#include <QHash>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <stdexcept>

#include "ui/window_layout.h"

namespace velotrax {

// The widgets of a window by their names.
class LaidOutWidgets {
 public:
  // The widget of that name as T; throws std::logic_error when there is none of that class.
  template <typename T>
  T* Get(const char* name) const {
    T* widget = qobject_cast<T*>(widgets_.value(QString::fromLatin1(name)));
    if (widget == nullptr) throw std::logic_error(std::string("no widget ") + name);
    return widget;
  }
  QWidget* Find(std::string_view name) const;
  void Add(std::string_view name, QWidget* widget);

 private:
  QHash<QString, QWidget*> widgets_;
};

QRect ToQRect(const layout::Rect& rect);

// Creates the window's controls in client, in the order of the layout, each with its name, place,
// text, font and properties; the controls of the client area are moved by offset. Tool bar
// buttons take their pictures from tool_images by image index.
LaidOutWidgets BuildLayout(const layout::Window& window, QWidget* client,
                           const QList<QPixmap>& tool_images = {}, QPoint offset = {});

// Sets the tab order of the widgets that take the focus to the layout's.
void ApplyTabOrder(const layout::Window& window, const LaidOutWidgets& widgets);

// The window's font with the style's weight and size.
QFont LayoutFont(uint32_t style);

}  // namespace velotrax
