#pragma once
// A capture request of the shell (shortcut, tray menu, countdown, command
// line, region overlay): capture opens the target, recording start turns it
// into a recording. Main thread.
#include "capture/capture.h"
#include "core/app_state.h"

// The single entry for a capture request. Returns true when a target was
// opened and handed to recording start (or, for a region, the overlay is
// open); false after a refusal or a failure, which has been reported.
bool capture_by_mode(CaptureMode mode);
// The region overlay's ENTER: record `selection` (monitor pixels) of `monitor`.
bool start_region_capture(MonitorId monitor, Rect selection);
// No recording follows what was opened ahead of it (a cancelled selection
// or countdown): the capture service lets go of it.
void release_unused_capture();
