#pragma once
// The visible forms of the main window: the region overlay, the countdown
// overlay and the frame around a recorded region. The core decides when
// each is shown and paints it through a Canvas; a toolkit backend provides
// the window. Only one form is shown at a time.
#include <cstdint>

#include "capture/image.h"

class Canvas;

enum class ShellCursor : uint8_t { kArrow, kCross, kSizeNWSE, kSizeNS, kSizeNESW, kSizeWE, kSizeAll, kHand };

class ShellWindow {
 public:
  virtual ~ShellWindow() = default;
  // Opaque, top-most over `screen` (root coordinates), takes the focus and
  // all input.
  virtual void show_overlay(const Rect& screen) = 0;
  // Top-most, 216/255 opaque, lets all input through and never takes the
  // focus, so the window the user works in keeps it.
  virtual void show_countdown(const Rect& screen) = 0;
  // Top-most, lets all input through; its magenta pixels are see-through.
  virtual void show_region_frame(const Rect& screen) = 0;
  // Hidden and back to a plain window.
  virtual void hide() = 0;
  // Schedules a repaint of the whole window.
  virtual void invalidate() = 0;
  virtual void set_cursor(ShellCursor cursor) = 0;
  // While on, the window receives the mouse even outside itself.
  virtual void set_mouse_capture(bool on) = 0;
  // Mouse position in window coordinates; false when unknown.
  virtual bool cursor_position(int32_t* x, int32_t* y) = 0;
};

// Installed by the interactive shell; null without a display (and in tests
// that do not fake it), where the windows are simply not shown.
inline ShellWindow* g_shell_window = nullptr;

// Paints whichever form is shown: the region overlay, else the countdown
// (while it has a number to show), else the region frame. `area` is the
// part to repaint, in window coordinates; `client` the whole window.
void main_window_paint(Canvas& canvas, const Rect& client, const Rect& area);
