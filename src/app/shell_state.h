#pragma once
// The interactive shell's records in the process-wide state block: the
// region overlay and the start countdown. Records only; their code lives in
// region_overlay.cpp and countdown.cpp.
#include <cstdint>

#include "app/picture.h"
#include "capture/capture_state.h"

struct RegionOverlay {
  bool open = false;               // the overlay is shown and waits for the user
  MonitorId overlay_monitor = 0;   // the monitor covered
  Rect monitor_rect;               // its rectangle on the screen
  Picture overlay_screen;          // the screenshot at full brightness
  Picture overlay_dim;             // the same at a quarter of its brightness
  int32_t overlay_width = 0;
  int32_t overlay_height = 0;
  // x1, y1, x2, y2 in monitor pixels. While the button is down (x1, y1) is
  // the fixed and (x2, y2) the moving corner, in any order; on release they
  // are normalised so that x1 <= x2 and y1 <= y2.
  int32_t selection[4] = {0, 0, 0, 0};
  bool selection_exists = false;   // a rectangle of non-zero width and height was drawn
  int32_t drag_zone = 0;           // hit zone grabbed at button-down; 0 draws a new rectangle
  int32_t drag_last[2] = {0, 0};   // mouse position at the last move step (zone 5)
  int32_t hover_preset[2] = {0, 0};  // preset whose label is under the mouse; (0, 0) none
  bool preset_applied = false;     // a preset label was clicked; the next release is ignored
};

struct Countdown {
  uint32_t countdown_mode = 0;       // the CaptureMode to start at the end; 0: no countdown
  uint32_t countdown_remaining = 0;  // seconds left; the number shown
  bool countdown_overlay_shown = false;
};
