// Temporary definitions of functions whose owners have not landed them yet.
// Each names its owner; the owner deletes the stub when landing the real one.
#include "app/pending_links.h"
#include "capture/capture.h"

// Owner: interactive-shell helper (region overlay).
bool open_region_overlay() { return false; }
bool region_overlay_open() { return false; }

// Owner: interactive-shell helper (start countdown). No countdown runs yet.
void end_countdown() {}
bool countdown_pending() { return false; }
void start_with_delay(CaptureMode mode) { capture_by_mode(mode); }
