#pragma once
// Recording start and stop.
#include <memory>

#include "capture/capture_state.h"

// Turns the prepared capture (a target open in g_app.capture) into a running
// recording; takes over the device. Success shows as Recording.active = 1.
// `window` is the captured top-level window, 0 for monitor and region.
void recording_start(std::shared_ptr<CaptureDevice> device, WindowId window);
