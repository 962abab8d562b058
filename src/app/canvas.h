#pragma once
// The small drawing surface the shell's windows paint through. The overlay,
// countdown and region-frame layouts are computed in the core and drawn with
// these calls; a toolkit backend implements them, and tests record them.
#include <cstdint>
#include <string>

#include "capture/image.h"

// A colour as red, green and blue.
struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// A font by face, character height in pixels (the cell height without the
// internal leading) and weight (400 normal, 700 bold).
struct FontSpec {
  std::string face;
  int32_t height = 0;
  int32_t weight = 400;
  bool operator==(const FontSpec&) const = default;
};

struct TextSize {
  int32_t cx = 0, cy = 0;
};

// Where a text drawn at a point sits relative to that point.
enum class HAlign { kLeft, kCenter, kRight };
enum class VAlign { kTop, kCenter, kBottom };

// A picture owned by the shell (a frozen screenshot and its dimmed copy):
// rows of B, G, R, A bytes, 4 * width bytes apart.
struct Picture;

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void fill(const Rect& r, Rgb c) = 0;
  // A 1-pixel line on the inner edge of `r`.
  virtual void frame(const Rect& r, Rgb c) = 0;
  // Copies `area` of the picture to the same coordinates on the canvas.
  virtual void blit(const Picture& picture, const Rect& area) = 0;
  virtual void set_font(const FontSpec& font) = 0;
  // Size of a single line of text in the current font.
  virtual TextSize text_extent(const std::string& text) = 0;
  // One line at (x, y), aligned to that point; the background stays.
  virtual void text(int32_t x, int32_t y, HAlign h, VAlign v, Rgb c, const std::string& text) = 0;
  // One line placed inside `box` (vertical kTop/kCenter/kBottom, horizontal
  // alignment likewise), clipped to it.
  virtual void text_in(const Rect& box, HAlign h, VAlign v, Rgb c, const std::string& text) = 0;
};
