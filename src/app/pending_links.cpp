// Temporary definitions of functions whose owners have not landed them yet.
// Each names its owner; the owner deletes the stub when landing the real one.
#include <cstdint>
#include <memory>

#include "app/pending_links.h"
#include "capture/capture.h"
#include "recording/recording.h"
#include "recording/trace.h"
#include "video/intake_links.h"

// Owner: interactive-shell helper (region overlay).
bool open_region_overlay() { return false; }
// Owner: recording helper (recording/recording.cpp). Until recording start
// exists, an opened target is reported and closed again.
void recording_start(std::shared_ptr<CaptureDevice> device, WindowId window) {
  trace_eventf("capture.opened window=%llu", static_cast<unsigned long long>(window));
  capture_stop(&g_app.capture);
}

// Owner: recording helper (watchdog). Idles like the real one: one wake-up
// per tick, ends when asked to quit.
uint32_t watchdog_worker() {
  for (;;) {
    g_app.watchdog_wake_event->wait();
    if (g_app.watchdog_quit.load() != 0) return 0;
    g_app.watchdog_tick_pending.exchange(0);
  }
}
