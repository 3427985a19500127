// The pictures of the Win32 window, drawn with GDI: the tool bar's images and the file-name
// field's folder. The application icon is the resource MAINICON (velotrax.ico).
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace velotrax::win32ui {

// ImageList1: 32 x 32 images with a mask, room for 4; 0 Next Rom, 1 Previous Rom, 2 Start
// Benchmark. The caller owns it.
HIMAGELIST MakeToolBarImages();
// Draws the browse button's opening folder, 14 x 12, with its top-left corner at (left, top).
void DrawFolder(HDC dc, int left, int top);
// MAINICON at the size of a system metric (SM_CXICON, SM_CXSMICON); null in a program without it.
// The caller destroys it.
HICON LoadApplicationIcon(int metric);

}  // namespace velotrax::win32ui
