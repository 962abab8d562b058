#pragma once
// Capture targets and the capture session.
#include <cstdint>
#include <memory>

#include "app/app_state.h"
#include "capture/capture_state.h"

struct WindowBounds;

// Once at process start: connects to the platform service and points the
// frame handler at frame intake.
void capture_runtime_init();

// The single entry for a capture request. Returns true when a target was
// opened and handed to recording start (or, for a region, the overlay is
// open); false after a refusal or a failure, which has been reported.
bool capture_by_mode(CaptureMode mode);
bool capture_foreground_window();
bool capture_monitor_under_pointer();
// The region overlay's ENTER: record `selection` (monitor pixels) of `monitor`.
bool start_region_capture(MonitorId monitor, Rect selection);

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

// Provided by the interactive shell: shows the region overlay; false when it
// cannot be shown.
bool open_region_overlay();

// Refresh rate of the display the open target is on; false when unknown.
bool capture_display_rate(const Capture& capture, uint32_t* num, uint32_t* den);
// Process owning a window (for application-local audio); 0 when unknown.
uint32_t capture_window_process_id(WindowId window);
