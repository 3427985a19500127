#include "ui/win32/bar_gauge.h"

#include <string>

#include "base/errors.h"
#include "ui/win32/guard.h"

namespace velotrax::win32ui {

namespace {

constexpr wchar_t kClassName[] = L"VelotraxGauge";

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &rect, brush);
  ::DeleteObject(brush);
}

}  // namespace

TGauge::TGauge(HWND parent, int id, RECT place) {
  static const ATOM registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.hCursor = nullptr;  // the pointer of the window beneath: the gauge has none
    window_class.lpszClassName = kClassName;
    return ::RegisterClassExW(&window_class);
  }();
  (void)registered;
  window_ = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, place.left, place.top,
                              place.right - place.left, place.bottom - place.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              ::GetModuleHandleW(nullptr), this);
}

TGauge::~TGauge() {
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

int TGauge::PercentFilled() const {
  return values_.PercentFilled();
}

void TGauge::SetMinValue(int32_t v) {
  if (values_.SetMinValue(v)) Repaint();
}

void TGauge::SetMaxValue(int32_t v) {
  if (values_.SetMaxValue(v)) Repaint();
}

void TGauge::SetProgress(int32_t v) {
  if (values_.SetProgress(v)) Repaint();
}

void TGauge::SetShowText(bool show) {
  if (show == show_text_) return;
  show_text_ = show;
  Repaint();
}

void TGauge::SetForeColor(COLORREF color) {
  if (color == fore_color_) return;
  fore_color_ = color;
  Repaint();
}

void TGauge::SetBackColor(COLORREF color) {
  if (color == back_color_) return;
  back_color_ = color;
  Repaint();
}

void TGauge::SetBorderStyle(TGaugeBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  Repaint();
}

void TGauge::Repaint() {
  if (window_ == nullptr || !::IsWindowVisible(window_)) return;
  HDC dc = ::GetDC(window_);
  Paint(dc);
  ::ReleaseDC(window_, dc);
  ::ValidateRect(window_, nullptr);
}

void TGauge::Paint(HDC target) {
  RECT client;
  ::GetClientRect(window_, &client);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;
  // Composed off screen and shown in one copy: the bar never flickers as it changes.
  HDC image = ::CreateCompatibleDC(target);
  HBITMAP bitmap = ::CreateCompatibleBitmap(target, width, height);
  HGDIOBJ old_bitmap = ::SelectObject(image, bitmap);
  FillColour(image, client, RGB(0, 0, 0));
  RECT paint = client;
  if (border_style_ == TGaugeBorderStyle::bsSingle) ::InflateRect(&paint, -1, -1);
  if (kind_ == TGaugeKind::gkHorizontalBar || kind_ == TGaugeKind::gkText) {
    FillColour(image, paint, back_color_);
  }
  if (kind_ == TGaugeKind::gkHorizontalBar) {
    const int w = paint.right - paint.left + 1;
    const int h = paint.bottom - paint.top + 1;
    int extent = GaugeValues::BarExtent(w, PercentFilled());
    if (extent > w) extent = w;
    if (extent >= 1) {
      const RECT filled{paint.left, paint.top, extent, h};
      FillColour(image, filled, fore_color_);
    }
  }
  if (show_text_) {
    const std::wstring text = std::to_wstring(PercentFilled()) + L"%";
    HGDIOBJ old_font = ::SelectObject(
        image, reinterpret_cast<HFONT>(::SendMessageW(::GetParent(window_), WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(image, text.c_str(), static_cast<int>(text.size()), &size);
    // White text combined by exclusive-or: the colours beneath it are inverted.
    ::SetBkMode(image, TRANSPARENT);
    ::SetTextColor(image, RGB(255, 255, 255));
    const int old_rop = ::SetROP2(image, R2_XORPEN);
    ::IntersectClipRect(image, paint.left, paint.top, paint.right, paint.bottom);
    HDC text_image = ::CreateCompatibleDC(target);
    HBITMAP text_bitmap = ::CreateCompatibleBitmap(target, width, height);
    HGDIOBJ old_text_bitmap = ::SelectObject(text_image, text_bitmap);
    FillColour(text_image, client, RGB(0, 0, 0));
    ::SelectObject(text_image, ::GetCurrentObject(image, OBJ_FONT));
    ::SetBkMode(text_image, TRANSPARENT);
    ::SetTextColor(text_image, RGB(255, 255, 255));
    ::IntersectClipRect(text_image, paint.left, paint.top, paint.right, paint.bottom);
    ::TextOutW(text_image, (paint.right - paint.left + 1 - size.cx) / 2,
               (paint.bottom - paint.top + 1 - size.cy) / 2, text.c_str(),
               static_cast<int>(text.size()));
    ::BitBlt(image, 0, 0, width, height, text_image, 0, 0, SRCINVERT);
    ::SelectObject(text_image, old_text_bitmap);
    ::DeleteObject(text_bitmap);
    ::DeleteDC(text_image);
    ::SetROP2(image, old_rop);
    ::SelectObject(image, old_font);
  }
  ::BitBlt(target, 0, 0, width, height, image, 0, 0, SRCCOPY);
  ::SelectObject(image, old_bitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(image);
}

LRESULT CALLBACK TGauge::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* gauge = reinterpret_cast<TGauge*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (gauge == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return GuardedMessage([&]() -> LRESULT {
    switch (message) {
      case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(window, &ps);
        gauge->window_ = window;
        gauge->Paint(dc);
        ::EndPaint(window, &ps);
        return 0;
      }
      case WM_NCHITTEST:
        return HTTRANSPARENT;  // takes no input: the window beneath has it
      case kGaugeGetProgress:
        return gauge->Progress();
      case kGaugeGetMaxValue:
        return gauge->MaxValue();
      case kGaugeGetPercent:
        return gauge->PercentFilled();
      default:
        return ::DefWindowProcW(window, message, wparam, lparam);
    }
  });
}

}  // namespace velotrax::win32ui
