#pragma once
// Recording start and stop, and the main-window services they use.
#include <cstdint>
#include <memory>

#include "capture/capture_state.h"

// Turns the prepared capture (a target open in g_app.capture) into a running
// recording; takes over the device. True when the recording runs
// (Recording.active = 1); false after a failure, which has been reported and
// has closed the target. `window` is the captured top-level window, 0 for
// monitor and region. Main thread.
bool recording_start(std::shared_ptr<CaptureDevice> device, WindowId window);

// Ends the running recording (Recording.active must be 1) and decides what
// becomes of its file. Main thread.
void recording_stop();
