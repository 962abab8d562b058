#pragma once
// Pictures the shell keeps: the frozen screenshot of the region overlay and
// its dimmed copy.
#include <cstdint>
#include <vector>

#include "app/canvas.h"

struct Picture {
  std::vector<uint8_t> pixels;  // B, G, R, A; 4 * width bytes per row
  int32_t width = 0;
  int32_t height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

// A picture of `width` x `height`, black.
Picture picture_black(int32_t width, int32_t height);
// Blends `src` over `dst` (same size) with a constant source alpha of
// `alpha` / 255 and no per-pixel alpha; over black this gives alpha / 255 of
// the brightness.
void picture_blend(Picture* dst, const Picture& src, uint8_t alpha);
