// TForm3, the Disclaimer shown on the first run, and TForm4, the About window.
#pragma once

#include "ui/win32/window_support.h"

namespace velotrax::win32ui {

class TForm3 : public Window {
 public:
  // Owned by the application window: it may be the only window on the screen, at the first run.
  explicit TForm3(HWND owner);
  // Shows the Disclaimer modally, centred on the desktop the first time.
  void ShowModal();
  // "I Agree", and any other close: the Disclaimer closes and start-up goes on.
  void Button1Click();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  HWND memo_ = nullptr;
  HWND button_ = nullptr;
  bool placed_ = false;
};

class TForm4 : public Window {
 public:
  explicit TForm4(HWND owner);
  // Shows the About window modally, centred over the main window the first time.
  void ShowModal();
  // Any mouse button pressed on the text, or a click on it, closes the window.
  void Memo1MouseDown();
  void Memo1Click();

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  static LRESULT CALLBACK MemoProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);
  HWND owner_;
  // Draws the text, line by line as it is broken: its lines were broken for "MS Sans Serif", and
  // where the system draws a wider face (Wine's stand-in) the box would wrap a line's last word
  // onto a line of its own. The letters are closed up just enough that each line fits whole, as
  // in the Qt window.
  void PaintText(HDC dc) const;

  HWND memo_ = nullptr;
  bool placed_ = false;
};

}  // namespace velotrax::win32ui
