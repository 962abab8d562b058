#include "app/region_overlay.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "core/app_state.h"
#include "app/canvas.h"
#include "app/main_window.h"
#include "core/ui_service.h"
#include "app/capture_request.h"
#include "capture/capture_service.h"
#include "core/trace.h"

namespace {
constexpr const char* kCannotStart = "Cannot Start Recording";
const FontDesc kFontNormal{"Segoe UI", 16, 400};
const FontDesc kFontBold{"Segoe UI", 16, 700};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kLightGrey{192, 192, 192};
constexpr Rgb kNavy{0, 0, 128};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kMagenta{255, 0, 255};  // the region frame's see-through colour

// The dimmed copy keeps 64/255 of the brightness.
constexpr uint8_t kDimAlpha = 64;

void invalidate() {
  if (g_shell_window) g_shell_window->invalidate();
}
void set_cursor(ShellCursor c) {
  if (g_shell_window) g_shell_window->set_cursor(c);
}
void set_mouse_capture(bool on) {
  if (g_shell_window) g_shell_window->set_mouse_capture(on);
}

bool contains(const Rect& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

Rect normalised(const RegionOverlay& o) {
  const int32_t* s = o.selection;
  return Rect{std::min(s[0], s[2]), std::min(s[1], s[3]), std::max(s[0], s[2]), std::max(s[1], s[3])};
}

// A command-line run has nothing more to do once its selection is gone.
void end_command_line_run() {
  if (!g_app.cli_mode) return;
  g_app.exit_code = 2;
  post_main_window_message(WM_CLOSE, 0, 0);
}
}  // namespace

int32_t even(int32_t d) { return (d > 0 ? d + 1 : d) & ~int32_t{1}; }

int region_hit_test(const RegionOverlay& o, int32_t x, int32_t y) {
  const int32_t fx = kSizingBorder, fy = kSizingBorder;
  const Rect n = normalised(o);
  const int32_t l = n.left, t = n.top, r = n.right, b = n.bottom;
  const std::pair<Rect, int> zones[] = {
      {{l - fx, t - fy, l + fx, t + fy}, 1}, {{r - fx, t - fy, r + fx, t + fy}, 3},
      {{l - fx, b - fy, l + fx, b + fy}, 7}, {{r - fx, b - fy, r + fx, b + fy}, 9},
      {{l, t - fy, r, t + fy}, 2},           {{l, b - fy, r, b + fy}, 8},
      {{l - fx, t, l + fx, b}, 4},           {{r - fx, t, r + fx, b}, 6},
      {{l, t, r, b}, 5},
  };
  for (const auto& [rect, zone] : zones) {
    if (contains(rect, x, y)) return zone;
  }
  return 0;
}

ShellCursor region_cursor(int zone) {
  switch (zone) {
    case 1: case 9: return ShellCursor::kSizeNWSE;
    case 2: case 8: return ShellCursor::kSizeNS;
    case 3: case 7: return ShellCursor::kSizeNESW;
    case 4: case 6: return ShellCursor::kSizeWE;
    case 5: return ShellCursor::kSizeAll;
    default: return ShellCursor::kCross;
  }
}

bool region_overlay_open() { return g_app.overlay.open; }

bool open_region_overlay() {
  CaptureService* svc = g_app.capture.service;
  int32_t px = 0, py = 0;
  MonitorId monitor = 0;
  if (svc != nullptr && svc->pointer_position(&px, &py)) monitor = svc->monitor_from_point(px, py);
  if (monitor == 0) {
    show_tray_notification("Unknown monitor!", kCannotStart, NOTIFY_WARNING);
    return false;
  }
  Rect bounds;
  Picture screen;
  if (g_shell_window == nullptr || !svc->monitor_rect(monitor, &bounds) ||
      !svc->grab_monitor(monitor, &screen.pixels, &screen.width, &screen.height) || screen.empty()) {
    show_tray_notification("Error getting HDC of monitor!", kCannotStart, NOTIFY_WARNING);
    return false;
  }
  RegionOverlay& o = g_app.overlay;
  o.overlay_dim = picture_black(screen.width, screen.height);
  picture_blend(&o.overlay_dim, screen, kDimAlpha);
  o.overlay_screen = std::move(screen);
  // The old selection stays until the first click.
  o.selection_exists = false;
  o.drag_zone = 0;
  o.hover_preset[0] = o.hover_preset[1] = 0;
  o.preset_applied = false;
  o.overlay_monitor = monitor;
  o.monitor_rect = bounds;
  o.overlay_width = bounds.width();
  o.overlay_height = bounds.height();
  o.open = true;
  set_cursor(region_cursor(0));
  g_shell_window->show_overlay(bounds);
  invalidate();
  return true;
}

void close_region_overlay() {
  if (g_shell_window) g_shell_window->hide();
  RegionOverlay& o = g_app.overlay;
  if (!o.open) return;
  o.open = false;
  o.overlay_screen = Picture{};
  o.overlay_dim = Picture{};
  o.overlay_width = o.overlay_height = 0;
}

void cancel_region_overlay() {
  set_cursor(ShellCursor::kArrow);
  set_mouse_capture(false);
  close_region_overlay();
  release_unused_capture();  // e.g. the share that gave the frozen picture
  end_command_line_run();
}

void region_mouse_down(int32_t mx, int32_t my) {
  RegionOverlay& o = g_app.overlay;
  int32_t* s = o.selection;
  if (o.hover_preset[0] != 0) {
    // The top-left corner stays; the rectangle may reach beyond the monitor.
    s[2] = s[0] + o.hover_preset[0];
    s[3] = s[1] + o.hover_preset[1];
    o.preset_applied = true;
    invalidate();
    return;
  }
  int zone = o.selection_exists ? region_hit_test(o, mx, my) : 0;
  if (zone != 0) {
    o.drag_last[0] = mx;
    o.drag_last[1] = my;
    o.drag_zone = zone;
  } else {
    s[0] = s[2] = mx;
    s[1] = s[3] = my;
    o.selection_exists = false;
    invalidate();
    o.drag_zone = 0;
  }
  set_mouse_capture(true);
}

void region_mouse_move(int32_t mx, int32_t my, bool button_down) {
  RegionOverlay& o = g_app.overlay;
  int32_t& x1 = o.selection[0];
  int32_t& y1 = o.selection[1];
  int32_t& x2 = o.selection[2];
  int32_t& y2 = o.selection[3];
  if (o.hover_preset[0] != 0) {
    set_cursor(ShellCursor::kHand);
    invalidate();
    return;
  }
  if (o.preset_applied) {
    invalidate();
    return;
  }
  if (!button_down) {
    int zone = o.selection_exists ? region_hit_test(o, mx, my) : 0;
    set_cursor(region_cursor(zone));
    if (zone == 0) invalidate();  // the preset labels' hover colours
    return;
  }
  const int z = o.drag_zone;
  bool changed = false;
  // A side handle moves one edge and re-evens the other dimension; a corner
  // handle moves two edges.
  if (z == 1 || z == 4 || z == 7) {
    x1 = x2 - even(x2 - mx);
    y1 = y2 - even(y2 - y1);
    changed = true;
  } else if (z == 3 || z == 6 || z == 9) {
    x2 = x1 - even(x1 - mx);
    y2 = y1 - even(y1 - y2);
    changed = true;
  }
  if (z == 1 || z == 2 || z == 3) {
    x1 = x2 - even(x2 - x1);
    y1 = y2 - even(y2 - my);
    changed = true;
  } else if (z == 7 || z == 8 || z == 9) {
    x2 = x1 - even(x1 - x2);
    y2 = y1 - even(y1 - my);
    changed = true;
  }
  if (z == 5) {
    const int32_t dx = mx - o.drag_last[0], dy = my - o.drag_last[1];
    x1 += dx;
    x2 += dx;
    y1 += dy;
    y2 += dy;
    o.drag_last[0] = mx;
    o.drag_last[1] = my;
    invalidate();
  } else if (z == 0) {
    x2 = x1 - even(x1 - mx);
    y2 = y1 - even(y1 - my);
    if (x1 != x2 && y1 != y2) {
      o.selection_exists = true;
      invalidate();
    }
  } else if (changed) {
    invalidate();
  }
}

void region_mouse_up() {
  RegionOverlay& o = g_app.overlay;
  if (o.preset_applied) {
    o.preset_applied = false;
    return;
  }
  if (o.selection_exists) {
    const Rect n = normalised(o);
    o.selection[0] = n.left;
    o.selection[1] = n.top;
    o.selection[2] = n.right;
    o.selection[3] = n.bottom;
  }
  set_mouse_capture(false);
}

void region_overlay_enter() {
  RegionOverlay& o = g_app.overlay;
  if (!o.open || !o.selection_exists) return;
  set_cursor(ShellCursor::kArrow);
  set_mouse_capture(false);
  const MonitorId monitor = o.overlay_monitor;
  const Rect crop = normalised(o);
  close_region_overlay();
  start_region_capture(monitor, crop);
  Rect bounds;
  CaptureService* svc = g_app.capture.service;
  if (g_app.recording.active.load() && svc != nullptr && svc->monitor_rect(monitor, &bounds)) {
    // Around what is recorded: the target keeps only the part of the
    // selection that lies on the monitor.
    if (g_shell_window) {
      g_shell_window->show_region_frame(region_frame_rect(bounds, g_app.capture.crop));
      g_shell_window->invalidate();
    }
    return;
  }
  if (!g_app.recording.active.load()) end_command_line_run();
}

void paint_region_overlay(Canvas& canvas, const Rect& area) {
  RegionOverlay& o = g_app.overlay;
  canvas.blit(o.overlay_dim, area);
  if (!o.selection_exists) {
    canvas.set_font(kFontNormal);
    const std::string line1 = "Select region with the mouse and press ENTER to start capture.";
    const std::string line2 = "Press ESC to cancel.";
    const TextSize s1 = canvas.text_extent(line1), s2 = canvas.text_extent(line2);
    const int32_t w = std::max(s1.cx, s2.cx), sum = s1.cy + s2.cy, lh = s2.cy;
    const int32_t box_w = w + 2 * lh, box_h = sum + lh;
    const int32_t left = (o.overlay_width - box_w) / 2, top = (o.overlay_height - box_h) / 2;
    const Rect box{left, top, left + box_w, top + box_h};
    canvas.fill(box, kNavy);
    canvas.frame(box, kWhite);
    const int32_t cx = o.overlay_width / 2;
    canvas.text(cx, top + lh / 2, HAlign::kCenter, VAlign::kTop, kYellow, line1);
    canvas.text(cx, top + lh / 2 + lh, HAlign::kCenter, VAlign::kTop, kYellow, line2);
    return;
  }
  const Rect n = normalised(o);
  canvas.blit(o.overlay_screen, n);
  canvas.frame(Rect{n.left - 1, n.top - 1, n.right + 1, n.bottom + 1}, kWhite);

  char buf[128];
  std::snprintf(buf, sizeof buf, "%d x %d", n.width(), n.height());
  canvas.set_font(kFontBold);
  canvas.text(n.right, n.bottom, HAlign::kRight, VAlign::kTop, kWhite, buf);

  const std::string caption = "Resize:  ";
  const TextSize caption_size = canvas.text_extent(caption);
  canvas.text(n.left, n.top, HAlign::kLeft, VAlign::kBottom, kWhite, caption);

  canvas.set_font(kFontNormal);
  int32_t mx = INT32_MIN, my = INT32_MIN;
  if (g_shell_window == nullptr || !g_shell_window->cursor_position(&mx, &my)) mx = my = INT32_MIN;
  o.hover_preset[0] = o.hover_preset[1] = 0;
  int32_t x = n.left + caption_size.cx;
  for (const PresetSize& p : kRegionPresets) {
    std::snprintf(buf, sizeof buf, "%dx%d  ", p.width, p.height);
    const TextSize s = canvas.text_extent(buf);
    const Rect label{x, n.top - s.cy, x + s.cx, n.top};
    Rgb colour = kLightGrey;
    if (contains(label, mx, my)) {
      colour = kWhite;
      o.hover_preset[0] = p.width;
      o.hover_preset[1] = p.height;
      set_cursor(ShellCursor::kHand);
    }
    canvas.text(x, n.top, HAlign::kLeft, VAlign::kBottom, colour, buf);
    x += s.cx;
  }
}

Rect region_frame_rect(const Rect& monitor, const Rect& crop) {
  return Rect{monitor.left + crop.left - 3, monitor.top + crop.top - 3, monitor.left + crop.right + 3,
              monitor.top + crop.bottom + 3};
}

void paint_region_frame(Canvas& canvas, const Rect& client) {
  canvas.fill(client, kYellow);
  const Rect inner{client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
  canvas.fill(inner, kMagenta);
  canvas.frame(inner, kBlack);
}

void hide_region_frame() {
  if (g_shell_window && !g_app.overlay.open && !g_app.countdown.countdown_overlay_shown) g_shell_window->hide();
}
