#include "app/win32/paused_icon_win32.h"

#include "app/paused_icon.h"

namespace {
void fill(HDC dc, const IconRect& r, int grow, COLORREF colour) {
  RECT rect{r.left - grow, r.top - grow, r.right + grow, r.bottom + grow};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}
}  // namespace

HICON make_paused_icon_win32(HICON recording) {
  ICONINFO info{};
  if (!recording || !GetIconInfo(recording, &info)) return nullptr;
  if (!info.hbmColor) {
    DeleteObject(info.hbmMask);
    return nullptr;
  }
  HICON icon = nullptr;
  BITMAP bm{};
  HDC screen = GetDC(nullptr);
  HDC src = screen ? CreateCompatibleDC(screen) : nullptr;
  HDC dst = screen ? CreateCompatibleDC(screen) : nullptr;
  HBITMAP copy = nullptr;
  if (GetObjectW(info.hbmColor, sizeof bm, &bm) && src && dst &&
      (copy = CreateCompatibleBitmap(screen, bm.bmWidth, bm.bmHeight)) != nullptr) {
    HGDIOBJ old_src = SelectObject(src, info.hbmColor);
    HGDIOBJ old_dst = SelectObject(dst, copy);
    if (BitBlt(dst, 0, 0, bm.bmWidth, bm.bmHeight, src, 0, 0, SRCCOPY)) {
      const PausedBars bars = paused_icon_bars(bm.bmWidth, bm.bmHeight);
      fill(dst, bars.a, 1, RGB(0, 0, 0));
      fill(dst, bars.b, 1, RGB(0, 0, 0));
      fill(dst, bars.a, 0, RGB(255, 255, 255));
      fill(dst, bars.b, 0, RGB(255, 255, 255));
      SelectObject(dst, old_dst);
      ICONINFO made = info;  // icon flag, hot spot and mask of the recording icon
      made.hbmColor = copy;
      icon = CreateIconIndirect(&made);
    } else {
      SelectObject(dst, old_dst);
    }
    SelectObject(src, old_src);
  }
  if (dst) DeleteDC(dst);
  if (src) DeleteDC(src);
  if (screen) ReleaseDC(nullptr, screen);
  if (copy) DeleteObject(copy);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return icon;
}
