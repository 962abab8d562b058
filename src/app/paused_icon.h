#pragma once
// The paused tray icon, made from the recording icon when no paused icon is
// shipped: two white bars with a one-pixel black outline, centred.
#include <cstdint>
#include <vector>

struct IconRect {
  int left, top, right, bottom;  // right and bottom exclusive
};

struct PausedBars {
  IconRect a, b;
};

// The bars for a W x H icon (integer arithmetic, divisions truncate).
PausedBars paused_icon_bars(int width, int height);

// Paints the bars into `pixels` (W x H, 0xAARRGGBB, rows top to bottom): the
// outlines first, then the white bars. Pixels outside the picture are left.
void make_paused_icon(std::vector<uint32_t>& pixels, int width, int height);
