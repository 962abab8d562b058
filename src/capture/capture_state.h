#pragma once
// The one screen-capture object and the per-frame record it hands to frame
// intake. Targets are opened by capture_targets.cpp, the session runs in
// capture_session.cpp, and the platform work is behind CaptureService.
#include <cstdint>
#include <memory>

#include "capture/image.h"

using WindowId = uint64_t;   // platform window handle; 0: none
using MonitorId = uint64_t;  // platform monitor handle; 0: none

class CaptureService;
struct CaptureDevice;
class CaptureSource;
struct Capture;

// Handed to `on_frame` for each frame; lives for the duration of the call.
struct CapturedFrame {
  BgraImage texture;       // the delivered picture; valid during the call only
  GpuPicture gpu;          // the same picture on the device, when the source has it there
  int64_t time = 0;        // counter ticks at the grab
  Rect content_rect;       // part of `texture` to record; never empty
  int32_t content_width = 0;
  int32_t content_height = 0;
};

// Returns false to stop capturing. A null frame: the target went away.
using CaptureFrameHandler = bool (*)(Capture* capture, const CapturedFrame* frame);

struct Capture {
  CaptureService* service = nullptr;  // set up once per process; null: every open fails
  std::shared_ptr<CaptureDevice> device;  // graphics device the target was opened on
  CaptureSource* item = nullptr;      // the opened target with its buffers
  bool session = false;               // frames are being delivered
  CaptureFrameHandler on_frame = nullptr;
  int32_t pool_width = 0;             // size a frame's content size is compared with
  int32_t pool_height = 0;
  Rect crop;                          // part of each frame recorded (for a window: as at open)
  WindowId window = 0;                // captured window; 0 for monitor and region targets
  MonitorId monitor = 0;              // monitor of a monitor or region target
  uint8_t client_area_only = 0;
  uint8_t restore_corners = 0;        // never set on X11: windows have no corner preference
  uint32_t saved_corner_preference = 0;
};
