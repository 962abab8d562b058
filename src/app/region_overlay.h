#pragma once
// The region-selection overlay: a frozen, dimmed picture of one monitor on
// which the user drags, moves and resizes a rectangle, then presses ENTER to
// record it or ESC to cancel. Widths and heights stay even (the encoder
// needs even frame sizes). Runs on the main thread.
#include <cstdint>

#include "app/shell_state.h"
#include "app/shell_window.h"
#include "capture/capture_state.h"

class Canvas;


// Preset sizes in display order.
struct PresetSize {
  int32_t width, height;
};
inline constexpr PresetSize kRegionPresets[4] = {{800, 600}, {1280, 720}, {1920, 1080}, {2560, 1440}};

// Thickness of the grab band around the rectangle's edges and corners.
inline constexpr int32_t kSizingBorder = 4;

// A positive distance rounded up to an even number, a negative one down.
int32_t even(int32_t d);

// Hit zone of a point, numbered like a numeric keypad around the rectangle:
// 1 top-left, 2 top, 3 top-right, 4 left, 5 inside, 6 right, 7 bottom-left,
// 8 bottom, 9 bottom-right, 0 outside.
int region_hit_test(const RegionOverlay& o, int32_t x, int32_t y);
// The cursor shown over each hit zone.
ShellCursor region_cursor(int zone);

// Shows the overlay on the monitor under the mouse pointer. False (with a
// warning balloon) when there is no such monitor or its picture cannot be
// taken.
bool open_region_overlay();
// Hides the window and frees the pictures.
void close_region_overlay();
// ESC, closing the window, or another application taking the focus. In a
// command-line run nothing is left to do, and the run ends with exit code 2.
void cancel_region_overlay();
bool region_overlay_open();

// Input while the overlay is open (window coordinates = monitor pixels).
void region_mouse_down(int32_t mx, int32_t my);
void region_mouse_move(int32_t mx, int32_t my, bool button_down);
void region_mouse_up();
// ENTER: with a rectangle, closes the overlay and records that rectangle,
// showing the region frame around it while the recording runs.
void region_overlay_enter();

// Paints the overlay (`area` in window coordinates).
void paint_region_overlay(Canvas& canvas, const Rect& area);

// The region frame: the window rectangle that surrounds `crop` (monitor
// pixels) of a monitor at `monitor` with a 3-pixel margin, and its painting.
Rect region_frame_rect(const Rect& monitor, const Rect& crop);
void paint_region_frame(Canvas& canvas, const Rect& client);
// Recording stop: the frame (or any other form of the window) is hidden.
void hide_region_frame();
