// Which window or monitor a capture request means, the refusals, opening a
// target and the crop rectangle of each frame.
#include <algorithm>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "capture/capture.h"
#include "capture/capture_service.h"
#include "capture/device.h"
#include "core/trace.h"

namespace {
constexpr const char* kCannotStart = "Cannot Start Recording";
constexpr const char* kError = "Error";
constexpr uint32_t kCornersDoNotRound = 1;

void refuse(const char* text, const char* caption) { show_tray_notification(text, caption, NOTIFY_WARNING); }

// Clears what an open stored, so a failed open leaves no target behind.
void close_item(Capture& c) {
  delete c.item;
  c.item = nullptr;
  c.device.reset();
}
}  // namespace

const char* capture_unavailable_reason() {
  CaptureService* svc = g_app.capture.service;
  return svc != nullptr ? svc->unavailable_reason() : nullptr;
}

bool capture_monitor_under_pointer(CaptureTarget* target) {
  CaptureService* svc = g_app.capture.service;
  int32_t x = 0, y = 0;
  MonitorId monitor = 0;
  if (svc != nullptr && svc->pointer_position(&x, &y)) monitor = svc->monitor_from_point(x, y);
  if (monitor == 0) {
    refuse("Unknown monitor!", kCannotStart);
    return false;
  }
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  if (!device) return false;
  if (!open_monitor_target(device, monitor, nullptr)) {
    show_tray_notification("Cannot record selected monitor!", kError, NOTIFY_WARNING);
    return false;
  }
  *target = CaptureTarget{std::move(device), 0};
  return true;
}

bool capture_foreground_window(CaptureTarget* target) {
  CaptureService* svc = g_app.capture.service;
  WindowId window = svc != nullptr ? svc->foreground_window() : 0;
  if (window == 0) {
    refuse("No window is selected!", kCannotStart);
    return false;
  }
  // A focused dialog or child leads to its top-level owner. The bound keeps
  // a cycle of owners (possible on X11) from hanging the request.
  for (int depth = 0; depth < 64; ++depth) {
    WindowId up = svc->parent_window(window);
    if (up == 0 || up == window) break;
    window = up;
  }
  if (svc->excluded_from_capture(window)) {
    refuse("Window is excluded from capture!", kCannotStart);
    return false;
  }
  if (svc->is_tool_window(window)) {
    refuse("Cannot capture toolbar window!", kCannotStart);
    return false;
  }
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  if (!device) return false;
  const Config& cfg = g_app.config;
  if (!open_window_target(device, window, cfg.OnlyClientArea != 0, cfg.KeepRoundedWindowCorners == 0)) {
    show_tray_notification("Cannot record selected window!", kError, NOTIFY_WARNING);
    return false;
  }
  *target = CaptureTarget{std::move(device), window};
  return true;
}

bool capture_region(MonitorId monitor, Rect selection, CaptureTarget* target) {
  CaptureService* svc = g_app.capture.service;
  Rect bounds;
  if (svc == nullptr || !svc->monitor_rect(monitor, &bounds)) {
    show_tray_notification("Cannot record monitor!", kError, NOTIFY_WARNING);
    return false;
  }
  std::shared_ptr<CaptureDevice> device = create_capture_device();
  if (!device) return false;
  if (!open_monitor_target(device, monitor, &selection)) {
    show_tray_notification("Cannot record monitor!", kError, NOTIFY_WARNING);
    return false;
  }
  *target = CaptureTarget{std::move(device), 0};
  return true;
}

bool open_window_target(std::shared_ptr<CaptureDevice> device, WindowId window, bool client_area, bool no_rounding) {
  Capture& c = g_app.capture;
  if (c.service == nullptr || !device) return false;
  int32_t w = 0, h = 0;
  CaptureSource* source = c.service->open_window(*device, window, &w, &h);
  if (source == nullptr) return false;
  c.device = std::move(device);
  c.item = source;
  c.client_area_only = client_area ? 1 : 0;
  c.window = window;
  c.monitor = 0;
  Rect rect = target_crop_rect(c, w, h);
  if (rect.empty()) {
    // Nothing of the window is visible: a recording of it would have no size.
    close_item(c);
    c.window = 0;
    return false;
  }
  c.pool_width = rect.width();
  c.pool_height = rect.height();
  c.crop = rect;
  // Square corners while recorded, where windows have a preference (the
  // capture stop restores it); elsewhere both calls fail and nothing changes.
  c.restore_corners = 0;
  if (no_rounding && c.service->corner_preference(window, &c.saved_corner_preference) &&
      c.service->set_corner_preference(window, kCornersDoNotRound)) {
    c.restore_corners = 1;
  }
  return true;
}

bool open_monitor_target(std::shared_ptr<CaptureDevice> device, MonitorId monitor, const Rect* crop) {
  Capture& c = g_app.capture;
  if (c.service == nullptr || !device) return false;
  int32_t w = 0, h = 0;
  CaptureSource* source = c.service->open_monitor(*device, monitor, &w, &h);
  if (source == nullptr) return false;
  Rect rect = crop != nullptr ? *crop : Rect{0, 0, w, h};
  // A crop outside the monitor would make every frame read beyond the picture.
  rect.left = std::clamp(rect.left, 0, w);
  rect.top = std::clamp(rect.top, 0, h);
  rect.right = std::clamp(rect.right, 0, w);
  rect.bottom = std::clamp(rect.bottom, 0, h);
  if (rect.empty()) {
    delete source;
    return false;
  }
  c.device = std::move(device);
  c.item = source;
  c.pool_width = w;
  c.pool_height = h;
  c.window = 0;
  c.monitor = monitor;
  c.crop = rect;
  c.restore_corners = 0;
  return true;
}

Rect target_crop_rect(const Capture& c, int32_t w, int32_t h) {
  if (c.window == 0) return c.crop;
  WindowBounds b;
  if (c.service == nullptr || !c.service->frame_bounds(c.window, &b.frame, &b.surface_x, &b.surface_y)) return Rect{};
  b.shown = true;
  if (c.client_area_only != 0) b.has_client = c.service->client_rect(c.window, &b.client);
  return window_crop_rect(c, b, w, h);
}

Rect window_crop_rect(const Capture& c, const WindowBounds& b, int32_t w, int32_t h) {
  if (!b.shown) return Rect{};
  // The frame starts at the surface origin, normally the visible frame's own
  // top-left corner; a decorated surface larger than the frame shifts it.
  const int32_t sx = b.surface_x, sy = b.surface_y;
  int32_t ox = b.frame.left - sx, oy = b.frame.top - sy;
  if (c.client_area_only == 0) return Rect{ox, oy, ox + b.frame.width(), oy + b.frame.height()};
  if (!b.has_client) return Rect{};
  const Rect& client = b.client;
  int32_t left = std::max(0, client.left - sx);
  int32_t top = std::max(0, client.top - sy);
  int32_t room_w = std::max(0, w - left);
  int32_t room_h = std::max(0, h - top);
  return Rect{left, top, left + std::min(client.width(), room_w), top + std::min(client.height(), room_h)};
}

bool capture_display_rate(const Capture& c, uint32_t* num, uint32_t* den) {
  if (c.service == nullptr) return false;
  MonitorId monitor = c.window != 0 ? c.service->monitor_from_window(c.window) : c.monitor;
  if (monitor == 0) return false;
  return c.service->monitor_refresh_rate(monitor, num, den);
}

uint32_t capture_window_process_id(WindowId window) {
  CaptureService* svc = g_app.capture.service;
  return svc != nullptr && window != 0 ? svc->window_process_id(window) : 0;
}

bool capture_window_process_known() {
  CaptureService* svc = g_app.capture.service;
  return svc == nullptr || svc->window_process_known();
}
