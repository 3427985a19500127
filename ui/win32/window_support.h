// What the Win32 windows share: the window font, layout scaling, making controls from the layout
// data, a window class whose procedure runs every handler inside the guard, and modal showing.
#pragma once

#include <windows.h>

#include <string>

#include "ui/win32/layout.h"

namespace velotrax::win32ui {

// "MS Sans Serif" at 8 points, regular and bold, scaled to the system's pixels per inch.
HFONT RegularFont();
HFONT BoldFont();

// A layout length (at 96 pixels per inch) in this system's pixels: unchanged at 96, else scaled
// by the window font's text height against 13.
int Scale(int length);

// The control's rectangle in its parent, the layout's place moved by (dx, dy) and scaled.
RECT Place(const layout::Control& control, int dx = 0, int dy = 0);

// Makes a static, button, edit or group box control from the layout data; extra_style is added.
HWND MakeControl(HWND parent, const layout::Control& control, int dx = 0, int dy = 0,
                 DWORD extra_style = 0);

// A window's text set from a program text (UTF-8, or Windows-1252 when it is not UTF-8).
void SetText(HWND window, const std::string& text);

// Lines joined with CR LF, as a multi-line edit control wants them.
std::wstring JoinLines(const std::wstring_view* lines, std::size_t count);

// A top-level window of the program: its procedure runs Handle inside the guard.
class Window {
 public:
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  HWND Handle() const { return window_; }

 protected:
  Window() = default;
  // Creates the window of a class of this name (registered on first use) with a client area of
  // width x height layout pixels, hidden.
  void CreateTopLevel(const wchar_t* class_name, const std::wstring& caption, DWORD style,
                      DWORD ex_style, int width, int height, HWND owner, HMENU menu,
                      int background = COLOR_BTNFACE + 1);
  // Handles one message; what it does not handle goes to DefWindowProc.
  virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Shows the window modally over the program's other windows; returns when EndModal is called
  // or the window closes.
  void ShowModal();
  void EndModal() { modal_ = false; }
  bool InModal() const { return modal_; }

  HWND window_ = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  bool modal_ = false;
};

// Left and top that centre a window of this size on the desktop spanned by all monitors,
// measured from (0, 0).
POINT DesktopCentre(SIZE frame);
// Left and top that centre a window of this size over the window `over`.
POINT CentreOver(HWND over, SIZE frame);
// The outer size of a window.
SIZE FrameSize(HWND window);

// Runs the message loop of the program until WM_QUIT; accelerators of `main` go first.
int RunMessageLoop(HWND main, HACCEL accelerators);

}  // namespace velotrax::win32ui
