#include "app/win32/screen_grab_win32.h"

#include <windows.h>

#include <cstring>
#include <utility>

bool grab_screen_area(const Rect& area, Picture* out) {
  if (out == nullptr || area.empty()) return false;
  const int32_t w = area.width(), h = area.height();
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return false;
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = w;
  bmi.bmiHeader.biHeight = -h;  // top-down: the rows in the picture's order
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = mem ? CreateDIBSection(mem, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  bool ok = false;
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ old = SelectObject(mem, bitmap);
    // A refused copy leaves the new bitmap black; the selection still works.
    BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    Picture p;
    p.width = w;
    p.height = h;
    p.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    std::memcpy(p.pixels.data(), bits, p.pixels.size());
    // The screen has no alpha of its own: the picture is opaque.
    for (size_t i = 3; i < p.pixels.size(); i += 4) p.pixels[i] = 0xFF;
    *out = std::move(p);
    SelectObject(mem, old);
    ok = true;
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (mem != nullptr) DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}
