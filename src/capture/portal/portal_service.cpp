// Targets through the screen-cast portal. A Wayland client cannot see the
// pointer, the monitors' layout or the focused window: the portal asks the
// user (or restores the monitor shared last time) and shares one stream.
// So the service answers for one monitor, "the monitor the portal shares",
// and one window, "the window the portal shares"; the size of either is that
// of the stream, known once it is open. A monitor chosen for a size query
// (the region overlay asks before the capture opens) is kept open and used
// by the next open.
#include <atomic>
#include <memory>
#include <string>

#include "capture/portal/pipewire_source.h"
#include "capture/portal/portal_capture.h"
#include "capture/portal/screencast_portal.h"
#include "core/app_state.h"
#include "core/trace.h"
#include "settings/config_store.h"

namespace {
constexpr MonitorId kSharedMonitor = 1;
constexpr WindowId kSharedWindow = 1;
constexpr const char* kTokenKey = "ScreenCastRestoreToken";

class PortalService final : public CaptureService {
 public:
  PortalService() {
    available_ = screencast_portal_probe(&source_types_, &cursor_modes_);
    if (!available_) trace_event("capture.portal_missing");
  }
  ~PortalService() override { delete held_; }

  bool pointer_position(int32_t* x, int32_t* y) override {
    *x = *y = 0;
    return available_;
  }
  MonitorId monitor_from_point(int32_t x, int32_t y) override { return available_ ? kSharedMonitor : 0; }

  // The size of the shared monitor: that of a stream of it that is open
  // (held, or recording), else of one opened now and held for the next open.
  bool monitor_rect(MonitorId monitor, Rect* rect) override {
    if (monitor != kSharedMonitor) return false;
    if (held_ == nullptr && (*live_monitors_ == 0 || monitor_w_ <= 0) &&
        !open_stream(kPortalSourceMonitor, &held_, &held_w_, &held_h_))
      return false;
    *rect = Rect{0, 0, held_ != nullptr ? held_w_ : monitor_w_, held_ != nullptr ? held_h_ : monitor_h_};
    return true;
  }

  bool monitor_refresh_rate(MonitorId monitor, uint32_t* num, uint32_t* den) override {
    if (rate_num_ == 0) return false;
    *num = rate_num_;
    *den = rate_den_;
    return true;
  }

  // The frozen picture of the region overlay: the shared monitor's newest
  // picture, from the stream that the recording then uses.
  bool grab_monitor(MonitorId monitor, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) override {
    if (monitor != kSharedMonitor) return false;
    if (held_ == nullptr && !open_stream(kPortalSourceMonitor, &held_, &held_w_, &held_h_)) return false;
    return pipewire_source_still(held_, pixels, width, height);
  }

  void release_unused() override {
    if (held_ == nullptr) return;
    trace_event("capture.portal_share_released");
    delete held_;  // closes its portal session
    held_ = nullptr;
  }

  MonitorId monitor_from_window(WindowId window) override { return window == kSharedWindow ? kSharedMonitor : 0; }
  WindowId foreground_window() override { return available_ ? kSharedWindow : 0; }
  WindowId parent_window(WindowId window) override { return 0; }
  bool is_tool_window(WindowId window) override { return false; }

  // The shared window's stream is the window itself.
  bool frame_bounds(WindowId window, Rect* bounds, int32_t* surface_x, int32_t* surface_y) override {
    if (window != kSharedWindow || width_ <= 0) return false;
    *bounds = Rect{0, 0, width_, height_};
    *surface_x = *surface_y = 0;
    return true;
  }
  bool client_rect(WindowId window, Rect* rect) override {
    int32_t x, y;
    return frame_bounds(window, rect, &x, &y);
  }
  // The portal does not say which process owns the shared window.
  uint32_t window_process_id(WindowId window) override { return 0; }
  bool window_process_known() override { return false; }

  const char* unavailable_reason() override {
    return available_ ? nullptr
                      : "This Wayland session has no screen-cast portal (org.freedesktop.portal.ScreenCast): "
                        "install xdg-desktop-portal and the portal backend of the desktop.";
  }

  CaptureSource* open_window(const CaptureDevice&, WindowId window, int32_t* width, int32_t* height) override {
    if (window != kSharedWindow) return nullptr;
    if ((source_types_ & kPortalSourceWindow) == 0) {
      trace_event("capture.portal_no_window_sources");
      return nullptr;
    }
    CaptureSource* s = nullptr;
    if (!open_stream(kPortalSourceWindow, &s, width, height)) return nullptr;
    return s;
  }

  CaptureSource* open_monitor(const CaptureDevice&, MonitorId monitor, int32_t* width, int32_t* height) override {
    if (monitor != kSharedMonitor) return nullptr;
    if (held_ != nullptr) {
      CaptureSource* s = held_;
      held_ = nullptr;
      *width = held_w_;
      *height = held_h_;
      return s;
    }
    CaptureSource* s = nullptr;
    if (!open_stream(kPortalSourceMonitor, &s, width, height)) return nullptr;
    return s;
  }

 private:
  bool open_stream(uint32_t type, CaptureSource** out, int32_t* width, int32_t* height) {
    if (!available_) return false;
    uint32_t cursor = kPortalCursorHidden;
    if (g_app.config.MouseCursor != 0) {
      if ((cursor_modes_ & kPortalCursorEmbedded) != 0) {
        cursor = kPortalCursorEmbedded;
      } else {
        trace_event("capture.portal_cursor_unavailable");
      }
    }
    // A monitor is restored without asking; a window is asked for each
    // time (the user picks the window to record).
    const bool persist = type == kPortalSourceMonitor;
    std::string token = persist ? g_app.config.ScreenCastRestoreToken : std::string();
    auto session = std::make_shared<ScreenCastSession>();
    PortalStream stream;
    int fd = -1;
    std::string error;
    if (!session->open(type, cursor, persist, &token, &stream, &fd, &error)) {
      trace_eventf("capture.portal_failed %s", error.c_str());
      return false;
    }
    if (persist && !token.empty() && token != g_app.config.ScreenCastRestoreToken) {
      g_app.config.ScreenCastRestoreToken = token;
      if (!g_app.ini_path.empty()) ini_write_text(kTokenKey, token);
    }
    int32_t w = 0, h = 0;
    uint32_t num = 0, den = 0;
    // Monitor streams are counted while they live (monitor_rect).
    std::shared_ptr<std::atomic<int>> live = type == kPortalSourceMonitor ? live_monitors_ : nullptr;
    CaptureSource* s = pipewire_open_source(fd, stream.node, &w, &h, &num, &den, [session, live] {
      session->close();
      if (live) --*live;
    });
    if (s == nullptr) {
      trace_event("capture.pipewire_open_failed");
      return false;
    }
    session->set_on_closed([s] { pipewire_source_session_closed(s); });
    trace_eventf("capture.portal_stream node=%u %dx%d rate=%u/%u type=%u", stream.node, w, h, num, den,
                 stream.source_type);
    width_ = w;
    height_ = h;
    if (live) {
      ++*live;
      monitor_w_ = w;
      monitor_h_ = h;
    }
    rate_num_ = num;
    rate_den_ = den;
    *out = s;
    *width = w;
    *height = h;
    return true;
  }

  bool available_ = false;
  uint32_t source_types_ = 0;
  uint32_t cursor_modes_ = 0;
  int32_t width_ = 0, height_ = 0;  // the last stream opened
  uint32_t rate_num_ = 0, rate_den_ = 1;
  CaptureSource* held_ = nullptr;  // opened for a size query, not yet used
  int32_t held_w_ = 0, held_h_ = 0;
  // Monitor streams open now (held or recording; a source may end on
  // another thread), and the size of the last one opened.
  std::shared_ptr<std::atomic<int>> live_monitors_ = std::make_shared<std::atomic<int>>(0);
  int32_t monitor_w_ = 0, monitor_h_ = 0;
};
}  // namespace

CaptureService* portal_capture_service_create() { return new PortalService; }
