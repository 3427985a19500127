#include "ui/win32/pictures.h"

#include <functional>

namespace velotrax::win32ui {

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  const RECT rect{left, top, right, bottom};
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &rect, brush);
  ::DeleteObject(brush);
}

// A bitmap of width x height, magenta where draw leaves it, drawn by draw.
HBITMAP DrawPicture(int width, int height, const std::function<void(HDC)>& draw) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  Fill(dc, 0, 0, width, height, kTransparent);
  draw(dc);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return bitmap;
}

// One bar in pure colour with a darker shade along its lower and right edges and a thin grey
// shadow below and to the right.
void Bar(HDC dc, int left, int top, int width, int height, COLORREF colour) {
  const COLORREF dark =
      RGB(GetRValue(colour) * 10 / 17, GetGValue(colour) * 10 / 17, GetBValue(colour) * 10 / 17);
  Fill(dc, left + 1, top + 1, left + 1 + width, top + 1 + height, RGB(128, 128, 128));
  Fill(dc, left, top, left + width, top + height, colour);
  Fill(dc, left, top + height - 2, left + width, top + height, dark);
  Fill(dc, left + width - 2, top, left + width, top + height, dark);
}

void Bars(HDC dc, int top, int bar_height, int gap) {
  Bar(dc, 2, top, 13, bar_height, RGB(0, 0, 255));
  Bar(dc, 5, top + bar_height + gap, 19, bar_height, RGB(0, 255, 0));
  Bar(dc, 8, top + 2 * (bar_height + gap), 22, bar_height, RGB(255, 0, 0));
}

// The glossy green button with a thick white arrow, pointing right or left.
void ArrowButton(HDC dc, bool right) {
  HBRUSH dark = ::CreateSolidBrush(RGB(0, 110, 0));
  HBRUSH green = ::CreateSolidBrush(RGB(40, 170, 40));
  HBRUSH gloss = ::CreateSolidBrush(RGB(150, 230, 150));
  HGDIOBJ old_pen = ::SelectObject(dc, ::GetStockObject(NULL_PEN));
  HGDIOBJ old_brush = ::SelectObject(dc, dark);
  ::Ellipse(dc, 1, 1, 30, 30);
  ::SelectObject(dc, green);
  ::Ellipse(dc, 2, 2, 29, 29);
  ::SelectObject(dc, gloss);
  ::Ellipse(dc, 6, 3, 23, 14);
  ::SelectObject(dc, ::GetStockObject(WHITE_BRUSH));
  POINT arrow[7] = {{6, 12}, {15, 12}, {15, 6}, {24, 15}, {15, 24}, {15, 18}, {6, 18}};
  if (!right) {
    for (POINT& p : arrow) p.x = 30 - p.x;
  }
  ::Polygon(dc, arrow, 7);
  ::SelectObject(dc, old_brush);
  ::SelectObject(dc, old_pen);
  ::DeleteObject(dark);
  ::DeleteObject(green);
  ::DeleteObject(gloss);
}

}  // namespace

HIMAGELIST MakeToolBarImages() {
  HIMAGELIST list = ::ImageList_Create(32, 32, ILC_COLOR24 | ILC_MASK, 3, 1);
  const std::function<void(HDC)> pictures[] = {
      [](HDC dc) { ArrowButton(dc, true); },
      [](HDC dc) { ArrowButton(dc, false); },
      [](HDC dc) { Bars(dc, 4, 7, 2); },
  };
  for (const auto& draw : pictures) {
    HBITMAP bitmap = DrawPicture(32, 32, draw);
    ::ImageList_AddMasked(list, bitmap, kTransparent);
    ::DeleteObject(bitmap);
  }
  return list;
}

void DrawFolder(HDC dc, int left, int top) {
  const auto at = [&](int x0, int y0, int x1, int y1, COLORREF colour) {
    Fill(dc, left + x0, top + y0, left + x1, top + y1, colour);
  };
  // The folder's back with its tab, in yellow with a black outline.
  at(0, 1, 6, 3, RGB(0, 0, 0));
  at(1, 2, 5, 3, RGB(255, 255, 0));
  at(0, 3, 12, 12, RGB(0, 0, 0));
  at(1, 4, 11, 11, RGB(255, 255, 0));
  // The open lid, tilted forward, in olive.
  HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
  HBRUSH olive = ::CreateSolidBrush(RGB(128, 128, 0));
  HGDIOBJ old_pen = ::SelectObject(dc, pen);
  HGDIOBJ old_brush = ::SelectObject(dc, olive);
  const POINT lid[] = {
      {left + 3, top + 6}, {left + 13, top + 6}, {left + 10, top + 11}, {left + 0, top + 11}};
  ::Polygon(dc, lid, 4);
  ::SelectObject(dc, old_pen);
  ::SelectObject(dc, old_brush);
  ::DeleteObject(pen);
  ::DeleteObject(olive);
}

HICON LoadApplicationIcon(int metric) {
  const int size = ::GetSystemMetrics(metric);
  return static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, size, size, 0));
}

}  // namespace velotrax::win32ui
