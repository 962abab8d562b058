#include "app/win32/gdi_canvas.h"

#include <algorithm>

#include "app/picture.h"
#include "platform/win32/wide.h"

namespace {
COLORREF colour(Rgb c) { return RGB(c.r, c.g, c.b); }
RECT win_rect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

UINT text_align(HAlign h, VAlign v) {
  UINT a = TA_NOUPDATECP;
  a |= h == HAlign::kLeft ? TA_LEFT : h == HAlign::kRight ? TA_RIGHT : TA_CENTER;
  // There is no vertical centre alignment: a centred line is placed at its
  // top, half its height up.
  a |= v == VAlign::kBottom ? TA_BOTTOM : TA_TOP;
  return a;
}

UINT draw_format(HAlign h, VAlign v) {
  // One line, taken literally ('&' is no mnemonic), clipped to the box.
  UINT f = DT_SINGLELINE | DT_NOPREFIX;
  f |= h == HAlign::kLeft ? DT_LEFT : h == HAlign::kRight ? DT_RIGHT : DT_CENTER;
  f |= v == VAlign::kTop ? DT_TOP : v == VAlign::kBottom ? DT_BOTTOM : DT_VCENTER;
  return f;
}
}  // namespace

HFONT create_gdi_font(const FontDesc& font) {
  const std::wstring face = to_wide(font.face);
  return CreateFontW(-std::max(font.height, 1), 0, 0, 0, font.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     face.c_str());
}

GdiCanvas::GdiCanvas(HDC dc) : dc_(dc) {
  saved_state_ = SaveDC(dc_);
  SetBkMode(dc_, TRANSPARENT);
}

GdiCanvas::~GdiCanvas() {
  // The DC lets go of the last font before the fonts are deleted.
  if (saved_state_ != 0) RestoreDC(dc_, saved_state_);
  for (const Font& f : fonts_) DeleteObject(f.handle);
}

void GdiCanvas::fill(const Rect& r, Rgb c) {
  if (r.empty()) return;
  const RECT rc = win_rect(r);
  SetDCBrushColor(dc_, colour(c));
  FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void GdiCanvas::frame(const Rect& r, Rgb c) {
  if (r.empty()) return;
  const RECT rc = win_rect(r);
  SetDCBrushColor(dc_, colour(c));
  FrameRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void GdiCanvas::blit(const Picture& picture, const Rect& area) {
  // A picture whose pixels do not fill its size is not read.
  if (picture.empty() ||
      picture.pixels.size() < static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4) {
    return;
  }
  const Rect r{std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, picture.width),
               std::min(area.bottom, picture.height)};
  if (r.empty()) return;
  // The rows of the area as a top-down bitmap of its own height, so that the
  // source's vertical origin means the same for every driver.
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = picture.width;
  bmi.bmiHeader.biHeight = -r.height();
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  const uint8_t* rows = picture.pixels.data() + static_cast<size_t>(r.top) * static_cast<size_t>(picture.width) * 4;
  SetDIBitsToDevice(dc_, r.left, r.top, static_cast<DWORD>(r.width()), static_cast<DWORD>(r.height()), r.left, 0, 0,
                    static_cast<UINT>(r.height()), rows, &bmi, DIB_RGB_COLORS);
}

void GdiCanvas::set_font(const FontDesc& font) {
  auto it = std::find_if(fonts_.begin(), fonts_.end(), [&](const Font& f) { return f.desc == font; });
  if (it == fonts_.end()) {
    HFONT h = create_gdi_font(font);
    if (h == nullptr) return;  // the DC keeps its font
    fonts_.push_back(Font{font, h});
    it = fonts_.end() - 1;
  }
  SelectObject(dc_, it->handle);
}

TextSize GdiCanvas::text_extent(const std::string& text) {
  const std::wstring w = to_wide(text);
  SIZE size{};
  if (!GetTextExtentPoint32W(dc_, w.c_str(), static_cast<int>(w.size()), &size)) return TextSize{};
  return TextSize{size.cx, size.cy};
}

void GdiCanvas::text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& text) {
  const std::wstring w = to_wide(text);
  if (v == VAlign::kCenter) y -= text_extent(text).cy / 2;
  SetTextAlign(dc_, text_align(h, v));
  SetTextColor(dc_, colour(c));
  TextOutW(dc_, x, y, w.c_str(), static_cast<int>(w.size()));
}

void GdiCanvas::text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& text) {
  if (box.empty()) return;
  std::wstring w = to_wide(text);
  RECT rc = win_rect(box);
  SetTextColor(dc_, colour(c));
  // DrawTextW places the line by the box, whatever the alignment set for TextOutW.
  SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  DrawTextW(dc_, w.c_str(), static_cast<int>(w.size()), &rc, draw_format(h, v));
}
