#pragma once
// The start countdown: with StartDelaySec above 0 a capture request waits
// that many seconds (at most 5), counted down in the tray tooltip and, when
// ShowStartCountdownOverlay is on, on a large see-through overlay. Timer 3
// of the main window drives it. Main thread.
#include <cstdint>
#include <string>

#include "app/canvas.h"
#include "app/shell_state.h"

enum CaptureMode : uint32_t;


// Starts the capture at once when StartDelaySec is 0, else the countdown.
void start_with_delay(CaptureMode mode);
// Stops the countdown and hides its overlay; nothing when none runs.
void end_countdown();
// Timer 3: one second has passed.
void countdown_timer_step();
// A countdown is pending (any shortcut cancels it).
bool countdown_pending();
// The overlay is shown and has a number to paint.
bool countdown_overlay_visible();

// "window", "monitor", "region" or "capture".
const char* countdown_mode_name(uint32_t mode);
// "Starting <mode> capture in <n>..."
std::string countdown_tip(uint32_t mode, uint32_t remaining);

// Layout of the countdown overlay inside the client rectangle `rc`.
struct CountdownLayout {
  int32_t digit_height, title_height, hint_height;  // character heights
  FontDesc digit_font, title_font, hint_font;
  Rect title_box;  // "Recording starts in", bottom-aligned in it
  Rect digit_box;  // the number, centred in it
  Rect hint_box;   // "Press capture hotkey again to cancel", at its top
};
CountdownLayout countdown_layout(const Rect& rc);
// Where the overlay goes on a desktop that shows no window translucent (no
// compositor): a panel centred on the monitor instead of the whole monitor,
// which would otherwise turn opaque black. Wide enough for the hint line,
// high enough for the three lines, never larger than the monitor.
Rect countdown_panel(const Rect& monitor);
void paint_countdown(Canvas& canvas, const Rect& client, uint32_t remaining);
