#include "app/countdown.h"

#include <algorithm>
#include <cstdio>

#include "core/app_state.h"
#include "core/message_loop.h"
#include "app/shell_window.h"
#include "core/ui_service.h"
#include "app/capture_request.h"
#include "capture/capture_service.h"

namespace {
constexpr uint32_t kMaxDelaySec = 5;

void set_tip(const std::string& tip) {
  if (g_ui_service) g_ui_service->tray_set_tip(tip);
}

// The monitor the capture will most likely record: that of the foreground
// window for a window capture, else the one under the mouse, else the primary.
bool countdown_monitor_rect(uint32_t mode, Rect* rect) {
  CaptureService* svc = g_app.capture.service;
  if (svc == nullptr) return false;
  MonitorId monitor = 0;
  if (mode == CAPTURE_WINDOW) {
    WindowId w = svc->foreground_window();
    if (w != 0) monitor = svc->monitor_from_window(w);
  }
  int32_t x = 0, y = 0;
  if (monitor == 0 && svc->pointer_position(&x, &y)) monitor = svc->monitor_from_point(x, y);
  if (monitor == 0) monitor = svc->monitor_from_point(0, 0);
  return monitor != 0 && svc->monitor_rect(monitor, rect);
}

void show_countdown_overlay(uint32_t mode) {
  Countdown& c = g_app.countdown;
  if (g_app.config.ShowStartCountdownOverlay == 0 || g_shell_window == nullptr) return;
  Rect rect;
  if (!countdown_monitor_rect(mode, &rect)) return;
  c.countdown_overlay_shown = true;
  g_shell_window->show_countdown(rect);
  g_shell_window->invalidate();
}
}  // namespace

const char* countdown_mode_name(uint32_t mode) {
  switch (mode) {
    case CAPTURE_WINDOW: return "window";
    case CAPTURE_MONITOR: return "monitor";
    case CAPTURE_REGION: return "region";
    default: return "capture";
  }
}

std::string countdown_tip(uint32_t mode, uint32_t remaining) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "Starting %s capture in %u...", countdown_mode_name(mode), remaining);
  return buf;
}

void start_with_delay(CaptureMode mode) {
  const uint32_t delay = std::min(g_app.config.StartDelaySec, kMaxDelaySec);
  if (delay == 0) {
    capture_by_mode(mode);
    return;
  }
  Countdown& c = g_app.countdown;
  c.countdown_mode = mode;
  c.countdown_remaining = delay;
  if (MessageLoop* loop = g_app.main_window.load()) loop->set_timer(TIMER_COUNTDOWN, 1000);
  show_countdown_overlay(mode);
  set_tip(countdown_tip(mode, delay));
}

void end_countdown() {
  Countdown& c = g_app.countdown;
  if (c.countdown_mode == 0 && !c.countdown_overlay_shown) return;
  c.countdown_mode = 0;
  c.countdown_remaining = 0;
  if (MessageLoop* loop = g_app.main_window.load()) loop->kill_timer(TIMER_COUNTDOWN);
  if (c.countdown_overlay_shown) {
    c.countdown_overlay_shown = false;
    if (g_shell_window) g_shell_window->hide();
  }
  set_tip("Frelvanta");
}

void countdown_timer_step() {
  Countdown& c = g_app.countdown;
  if (c.countdown_mode == 0 || g_app.recording.active.load()) {
    end_countdown();
    return;
  }
  if (c.countdown_remaining != 0) {
    --c.countdown_remaining;
    if (c.countdown_remaining != 0) {
      set_tip(countdown_tip(c.countdown_mode, c.countdown_remaining));
      if (c.countdown_overlay_shown && g_shell_window) g_shell_window->invalidate();
      return;
    }
  }
  // The overlay is hidden before the capture starts, so it is never recorded.
  const auto mode = static_cast<CaptureMode>(c.countdown_mode);
  end_countdown();
  capture_by_mode(mode);
}

bool countdown_pending() { return g_app.countdown.countdown_mode != 0; }

bool countdown_overlay_visible() {
  return g_app.countdown.countdown_overlay_shown && g_app.countdown.countdown_remaining > 0;
}

Rect countdown_panel(const Rect& monitor) {
  const int32_t m = std::min(monitor.width(), monitor.height());
  const int32_t w = std::min(monitor.width(), std::max(m * 3 / 4, 420));
  const int32_t h = std::min(monitor.height(), std::max(m / 2, 200));
  const int32_t left = monitor.left + (monitor.width() - w) / 2, top = monitor.top + (monitor.height() - h) / 2;
  return Rect{left, top, left + w, top + h};
}

CountdownLayout countdown_layout(const Rect& rc) {
  CountdownLayout l;
  const int32_t m = std::min(rc.width(), rc.height());
  l.digit_height = std::max(m / 3, 72);
  l.title_height = std::max(l.digit_height / 7, 28);
  l.hint_height = std::max(l.digit_height / 9, 22);
  l.digit_font = FontDesc{"Segoe UI", l.digit_height, 700};
  l.title_font = FontDesc{"Segoe UI", l.title_height, 700};
  l.hint_font = FontDesc{"Segoe UI", l.hint_height, 600};
  const int32_t cy = rc.top + rc.height() / 2;
  const int32_t gap_above = std::max(l.title_height / 2, 18);
  const int32_t gap_below = std::max(l.hint_height / 2, 18);
  const int32_t half_digit = l.digit_height / 2;
  l.title_box = Rect{rc.left, rc.top, rc.right, cy - gap_above - half_digit};
  l.digit_box = rc;
  l.hint_box = Rect{rc.left, cy + half_digit + gap_below, rc.right, rc.bottom};
  return l;
}

void paint_countdown(Canvas& canvas, const Rect& client, uint32_t remaining) {
  const CountdownLayout l = countdown_layout(client);
  canvas.fill(client, Rgb{0, 0, 0});
  canvas.set_font(l.title_font);
  canvas.text_in(l.title_box, HAlign::kCenter, VAlign::kBottom, Rgb{255, 235, 96}, "Recording starts in");
  char digits[16];
  std::snprintf(digits, sizeof digits, "%u", remaining);
  canvas.set_font(l.digit_font);
  canvas.text_in(l.digit_box, HAlign::kCenter, VAlign::kCenter, Rgb{255, 255, 255}, digits);
  canvas.set_font(l.hint_font);
  canvas.text_in(l.hint_box, HAlign::kCenter, VAlign::kTop, Rgb{224, 224, 224}, "Press capture hotkey again to cancel");
}
