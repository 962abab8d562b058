#pragma once
// The platform's screen-capture service, as the capture core needs it: find
// targets, describe windows, and open a target as a source that delivers
// frames on its own thread. A backend implements these and holds no policy;
// the choice of target, the refusals and the crop rules stay in the core.
#include <cstdint>
#include <vector>

#include "capture/capture_state.h"

// Where a window target is on screen, as CaptureService::frame_bounds and
// client_rect report it. A source follows these from the window's events,
// so the crop of each frame needs no question to the platform.
struct WindowBounds {
  bool shown = false;    // false: not shown, nothing of it to record
  Rect frame;            // visible frame bounds, screen coordinates
  int32_t surface_x = 0;  // screen position of the captured surface's origin
  int32_t surface_y = 0;
  bool has_client = false;
  Rect client;           // client area, screen coordinates
};

// One grabbed picture, as a source hands it to the core.
struct SourceFrame {
  BgraImage image;             // the source's buffer, at the size it was last (re-)created with
  GpuPicture gpu;              // the picture on the device (sources that have one); its size
                               // counts where `image` has no pixels
  int64_t time = 0;            // counter ticks at the grab
  int32_t content_width = 0;   // the target's current size (may differ after a resize)
  int32_t content_height = 0;
  // Window targets of a source that follows them: the window's bounds at
  // the grab; null when the core must ask the service.
  const WindowBounds* window_bounds = nullptr;
};

// Called on the source's thread.
class SourceSink {
 public:
  virtual void frame_arrived(const SourceFrame& frame) = 0;
  // The target is gone; `display_lost` when the whole display went with it
  // (the connection to the display server broke).
  virtual void closed(bool display_lost = false) = 0;

 protected:
  ~SourceSink() = default;
};

class CaptureSource {
 public:
  virtual ~CaptureSource() = default;
  // Starts delivery on the source's own thread; false when it cannot run.
  // `border`: the system's capture border, where the platform draws one.
  virtual bool start(bool cursor, bool border, SourceSink* sink) = 0;
  // Ends delivery. From another thread: returns true after the last callback
  // has left, and the source may be deleted. From a callback: returns false;
  // delivery ends when that callback returns, and stop() must be called again
  // from another thread before deleting.
  virtual bool stop() = 0;
  // Re-creates the buffers for a new content size; called from a callback.
  virtual void recreate(int32_t width, int32_t height) = 0;
  // True after a stop() that had to let go of a delivery thread which did
  // not end in time (a display server that stopped answering): the source
  // must then never be deleted.
  virtual bool abandoned() const { return false; }
};

class CaptureService {
 public:
  virtual ~CaptureService() = default;

  virtual bool pointer_position(int32_t* x, int32_t* y) = 0;
  // 0 when no monitor contains the point.
  virtual MonitorId monitor_from_point(int32_t x, int32_t y) = 0;
  virtual bool monitor_rect(MonitorId monitor, Rect* rect) = 0;
  // Refresh rate as a fraction, for example 60000/1001.
  virtual bool monitor_refresh_rate(MonitorId monitor, uint32_t* num, uint32_t* den) = 0;
  // Monitor holding the largest part of a window, 0 when none.
  virtual MonitorId monitor_from_window(WindowId window) = 0;

  // The window the user works in; 0 when there is none.
  virtual WindowId foreground_window() = 0;
  // Owner of a top-level window or parent of a child window; 0 at the top.
  virtual WindowId parent_window(WindowId window) = 0;
  virtual bool is_tool_window(WindowId window) = 0;
  // Visible frame bounds in screen coordinates and the screen position of
  // the captured surface's origin. False when the window is not shown.
  virtual bool frame_bounds(WindowId window, Rect* bounds, int32_t* surface_x, int32_t* surface_y) = 0;
  // Client area in screen coordinates.
  virtual bool client_rect(WindowId window, Rect* rect) = 0;
  // Process that owns the window; 0 when unknown.
  virtual uint32_t window_process_id(WindowId window) = 0;
  // The window asked the system to keep it out of screen captures (its
  // display affinity).
  virtual bool excluded_from_capture(WindowId window) {
    (void)window;
    return false;
  }
  // The window's corner rounding preference; false where windows have none.
  virtual bool corner_preference(WindowId window, uint32_t* value) {
    (void)window, (void)value;
    return false;
  }
  virtual bool set_corner_preference(WindowId window, uint32_t value) {
    (void)window, (void)value;
    return false;
  }
  // False when this backend can never tell a window's process (the
  // window's own sound cannot be told from the rest).
  virtual bool window_process_known() { return true; }

  // A still picture of a monitor: rows of B, G, R, A packed 4 * width bytes
  // apart. False when it cannot be taken.
  virtual bool grab_monitor(MonitorId monitor, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) {
    (void)monitor, (void)pixels, (void)width, (void)height;
    return false;
  }

  // Lets go of what monitor_rect or grab_monitor opened and kept for a
  // recording that was to follow, when none follows (the selection was
  // cancelled, the start failed or took another target). Where that is a
  // screen share, the desktop then stops showing it as running.
  virtual void release_unused() {}

  // Open a target; the size is that of the frames the source will deliver.
  // Non-null when this build cannot record at all: the text that tells the
  // user so, instead of a refusal that names the wrong cause.
  virtual const char* unavailable_reason() { return nullptr; }

  // `device` is the recording's graphics device, which sources that deliver
  // pictures on the device use.
  virtual CaptureSource* open_window(const CaptureDevice& device, WindowId window, int32_t* width,
                                     int32_t* height) = 0;
  virtual CaptureSource* open_monitor(const CaptureDevice& device, MonitorId monitor, int32_t* width,
                                      int32_t* height) = 0;
};

// The backend of this build; null when the service is not available (no display).
CaptureService* capture_service_create();

// What the session does with each frame of a source: crop it for the target,
// drop it when nothing is left, hand it to the frame handler, and re-create
// the source's buffers when the content size changed.
void capture_deliver_frame(Capture* capture, const SourceFrame& frame);
