// Temporary definitions of functions whose owners have not landed them yet.
// Each names its owner; the owner deletes the stub when landing the real one.
#include <cstdint>
#include <memory>

#include "capture/capture.h"
#include "recording/recording.h"
#include "recording/trace.h"
#include "video/intake_links.h"

// Owner: foundation helper (message loop: post 1026 to the main window).
void post_stop_request() { trace_event("stop.request pending"); }
// Owner: interactive-shell helper (region overlay).
bool open_region_overlay() { return false; }
// Owner: recording helper (recording/recording.cpp). Until recording start
// exists, an opened target is reported and closed again.
void recording_start(std::shared_ptr<CaptureDevice> device, WindowId window) {
  trace_eventf("capture.opened window=%llu", static_cast<unsigned long long>(window));
  capture_stop(&g_app.capture);
}
