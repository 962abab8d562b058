#include "core/app_state.h"
#include "app/countdown.h"
#include "app/region_overlay.h"
#include "app/shell_window.h"

void main_window_paint(Canvas& canvas, const Rect& client, const Rect& area) {
  if (g_app.overlay.open) {
    paint_region_overlay(canvas, area);
  } else if (countdown_overlay_visible()) {
    paint_countdown(canvas, client, g_app.countdown.countdown_remaining);
  } else {
    paint_region_frame(canvas, client);
  }
}
