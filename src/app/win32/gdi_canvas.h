#pragma once
// The shell's Canvas on a GDI device context: the buffer of a paint cycle,
// or any memory DC. Fonts made from a FontDesc are kept until the canvas
// ends and then deleted; the DC gets back the state it had (font, text
// colour, alignment, background mode).
#include <windows.h>

#include <vector>

#include "app/canvas.h"

class GdiCanvas final : public Canvas {
 public:
  explicit GdiCanvas(HDC dc);
  ~GdiCanvas() override;
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  void fill(const Rect& r, Rgb c) override;
  void frame(const Rect& r, Rgb c) override;
  void blit(const Picture& picture, const Rect& area) override;
  void set_font(const FontDesc& font) override;
  TextSize text_extent(const std::string& text) override;
  void text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& text) override;
  void text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& text) override;

 private:
  struct Font {
    FontDesc desc;
    HFONT handle;
  };
  HDC dc_;
  int saved_state_ = 0;
  std::vector<Font> fonts_;
};

// The system font for a FontDesc: a character height (negative cell
// height), cleartype, the default character set.
HFONT create_gdi_font(const FontDesc& font);
