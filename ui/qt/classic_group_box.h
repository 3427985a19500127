// A group box drawn the classic way: an etched frame whose top edge runs through the middle of
// the caption, the caption 8 pixels in from the left. Shared by the main window and Preferences.
#pragma once

#include <QGroupBox>

namespace velotrax {

class TClassicGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace velotrax
