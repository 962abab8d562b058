#pragma once
// Functions of other subsystems that the shell calls. Each owner's header
// declares the same function; this file goes away once they have all landed.
#include "app/app_state.h"

void end_countdown();  // the start countdown (interactive shell)
// The start countdown: until it lands a capture request starts at once, as
// it does with StartDelaySec 0.
void start_with_delay(CaptureMode mode);
bool countdown_pending();
bool region_overlay_open();  // the region overlay (interactive shell)
