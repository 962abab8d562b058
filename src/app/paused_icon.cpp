#include "app/paused_icon.h"

#include <algorithm>

PausedBars paused_icon_bars(int width, int height) {
  const int bw = std::max(width / 5, 2);
  const int g = std::max(width / 12, 1);
  const int bh = std::max(height / 3, 3);
  const int top = (height - bh) / 2;
  const int bottom = top + bh;
  const int x = (width - 2 * bw - g) / 2 - g;
  return {{x, top, x + bw, bottom}, {x + bw + g, top, x + 2 * bw + g, bottom}};
}

namespace {
void fill(std::vector<uint32_t>& pixels, int width, int height, IconRect r, uint32_t colour) {
  const int l = std::max(r.left, 0), t = std::max(r.top, 0);
  const int rr = std::min(r.right, width), b = std::min(r.bottom, height);
  for (int y = t; y < b; ++y)
    for (int x = l; x < rr; ++x) pixels[static_cast<size_t>(y) * width + x] = colour;
}

IconRect grown(IconRect r) { return {r.left - 1, r.top - 1, r.right + 1, r.bottom + 1}; }
}  // namespace

void make_paused_icon(std::vector<uint32_t>& pixels, int width, int height) {
  if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(width) * height) return;
  const PausedBars bars = paused_icon_bars(width, height);
  fill(pixels, width, height, grown(bars.a), 0xFF000000u);
  fill(pixels, width, height, grown(bars.b), 0xFF000000u);
  fill(pixels, width, height, bars.a, 0xFFFFFFFFu);
  fill(pixels, width, height, bars.b, 0xFFFFFFFFu);
}
