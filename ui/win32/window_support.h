// What the Win32 windows share: the window font, layout scaling, making controls from the layout
// data, a window class whose procedure runs every handler inside the guard, and modal showing.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_layout.h"

namespace velotrax::win32ui {

// "MS Sans Serif" at 8 points, regular and bold, scaled to the system's pixels per inch.
HFONT RegularFont();
HFONT BoldFont();
// The regular font at 7/8 of its size.
HFONT SmallFont();

// A layout length (at 96 pixels per inch) in this system's pixels: unchanged at 96, else scaled
// by the window font's text height against 13.
int Scale(int length);

// A rectangle of the layout, moved by offset, in this system's pixels.
RECT Place(const layout::Rect& rect, POINT offset = {0, 0});

// The identifier of a control of the layout: 1000 + its place in the window's list.
int ControlId(const layout::Window& window, std::string_view name);
// The command of a menu item: 100 + 10 x menu + item.
int MenuCommand(const layout::Window& window, std::string_view name);
// The command of a tool bar button: 200 + its place from the left.
int ToolButtonCommand(const layout::Window& window, std::string_view name);

// Makes a control of the kinds the layout shares with every window (label, edit box,
// multi-line text, group box, push and radio button, bevel) at place in parent.
HWND MakeControl(HWND parent, const layout::Control& control, int id, RECT place);

// Makes the controls of a window the front end does not make itself: returns the window made.
using MakeSpecialControl =
    std::function<HWND(const layout::Control& control, HWND parent, RECT place, int id)>;
// Builds the controls of layout in window: group boxes' contents as their siblings,
// each tab page as a child window of its own over the page control's page area; focus-taking
// controls first, in tab order, group boxes last, beneath their contents. Returns the windows by
// control name.
std::map<std::string_view, HWND> BuildControls(HWND window, const layout::Window& layout,
                                               const MakeSpecialControl& special);

// A window's text set from a program text (UTF-8, or Windows-1252 when it is not UTF-8).
void SetText(HWND window, const std::string& text);

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
  // The window's frame, caption and client size come from the layout.
  void CreateTopLevel(const wchar_t* class_name, const layout::Window& layout, HWND owner,
                      HMENU menu, int background = COLOR_BTNFACE + 1);
  // Handles one message; what it does not handle goes to DefWindowProc.
  virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Shows the window modally over the program's other windows, the keyboard in `focus` when
  // given; returns when EndModal is called or the window closes.
  void ShowModal(HWND focus = nullptr);
  void EndModal() { modal_ = false; }
  bool InModal() const { return modal_; }

  HWND window_ = nullptr;

 private:
  HWND last_focus_ = nullptr;  // the control that had the focus when the window was left
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

// Disables every window of this thread that takes input (only those on the screen when
// visible_only) but `except`; returns them for EnableAgain.
std::vector<HWND> DisableThreadWindows(HWND except, bool visible_only);
// Enables again those of the windows that still exist.
void EnableAgain(const std::vector<HWND>& windows);

// Runs the message loop of the program until WM_QUIT; accelerators of `main` go first.
int RunMessageLoop(HWND main, HACCEL accelerators);

}  // namespace velotrax::win32ui
