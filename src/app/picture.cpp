#include "app/picture.h"

#include <cstddef>

Picture picture_black(int32_t width, int32_t height) {
  Picture p;
  if (width <= 0 || height <= 0) return p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  for (size_t i = 3; i < p.pixels.size(); i += 4) p.pixels[i] = 0xFF;
  return p;
}

void picture_blend(Picture* dst, const Picture& src, uint8_t alpha) {
  if (dst == nullptr || dst->width != src.width || dst->height != src.height) return;
  const uint32_t a = alpha, keep = 255u - alpha;
  uint8_t* d = dst->pixels.data();
  const uint8_t* s = src.pixels.data();
  const size_t n = dst->pixels.size();
  for (size_t i = 0; i < n; i += 4) {
    for (size_t k = 0; k < 3; ++k) d[i + k] = static_cast<uint8_t>((s[i + k] * a + d[i + k] * keep + 127) / 255);
  }
}
