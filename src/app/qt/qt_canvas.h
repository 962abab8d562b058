#pragma once
// The shell's Canvas on a QPainter.
#include <QPainter>

#include "app/canvas.h"

class QtCanvas final : public Canvas {
 public:
  explicit QtCanvas(QPainter* painter) : p_(painter) {}
  void fill(const Rect& r, Rgb c) override;
  void frame(const Rect& r, Rgb c) override;
  void blit(const Picture& picture, const Rect& area) override;
  void set_font(const FontSpec& font) override;
  TextSize text_extent(const std::string& text) override;
  void text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& text) override;
  void text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& text) override;

 private:
  QPainter* p_;
};
