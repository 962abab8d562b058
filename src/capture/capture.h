#pragma once
// Capture targets and the capture session.
#include <cstdint>
#include <memory>

#include "capture/capture_state.h"

struct WindowBounds;

// Once at process start: connects to the platform service and points the
// frame handler at frame intake.
void capture_runtime_init();

// What a capture request opened: the device, and the captured top-level
// window (0 for a monitor or a region). The target itself is open in
// g_app.capture; the caller hands both to recording start.
struct CaptureTarget {
  std::shared_ptr<CaptureDevice> device;
  WindowId window = 0;
};

// Why capture is not available in this build; null when it is.
const char* capture_unavailable_reason();
// The three kinds of target. Each reports its own refusal or failure and
// returns false; true with `target` filled and the target open.
bool capture_foreground_window(CaptureTarget* target);
bool capture_monitor_under_pointer(CaptureTarget* target);
// `selection` (monitor pixels) of `monitor`, as the region overlay chose it.
bool capture_region(MonitorId monitor, Rect selection, CaptureTarget* target);

bool open_window_target(std::shared_ptr<CaptureDevice> device, WindowId window, bool client_area, bool no_rounding);
bool open_monitor_target(std::shared_ptr<CaptureDevice> device, MonitorId monitor, const Rect* crop);
Rect target_crop_rect(const Capture& capture, int32_t width, int32_t height);
// The same for a window whose bounds are already known.
Rect window_crop_rect(const Capture& capture, const WindowBounds& bounds, int32_t width, int32_t height);

// Starts frame delivery to `on_frame`. False when no session could be
// started; the recording must then not proceed.
bool capture_start(Capture* capture, bool cursor, bool border);
// Ends delivery and releases the target. Idempotent. From inside a frame
// callback it only ends delivery; the next call from another thread releases.
void capture_stop(Capture* capture);

// Refresh rate of the display the open target is on; false when unknown.
bool capture_display_rate(const Capture& capture, uint32_t* num, uint32_t* den);
// Process owning a window (for application-local audio); 0 when unknown.
uint32_t capture_window_process_id(WindowId window);
// False when the capture backend can never tell a window's process.
bool capture_window_process_known();
