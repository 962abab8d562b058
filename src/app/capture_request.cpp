#include "app/capture_request.h"

#include <utility>

#include "app/countdown.h"
#include "app/tray_menu.h"
#include "app/region_overlay.h"
#include "capture/capture_service.h"
#include "core/trace.h"
#include "core/ui_service.h"
#include "recording/recording.h"

namespace {
// Hands an open target to recording start. A running countdown ends first;
// the tray shows the new state when the recording runs.
void start_recording_of(CaptureTarget target) {
  end_countdown();
  if (recording_start(std::move(target.device), target.window)) tray_update_state();
}
}  // namespace

bool capture_by_mode(CaptureMode mode) {
  if (const char* reason = capture_unavailable_reason()) {
    // A command-line run has no tray to show a refusal on.
    if (g_app.cli_mode) {
      show_message(reason, "Frelvanta", MB_ICONERROR);
    } else {
      show_tray_notification(reason, "Cannot Start Recording", NOTIFY_WARNING);
    }
    return false;
  }
  g_app.capture_request_active = 1;
  CaptureTarget target;
  bool started = false;
  switch (mode) {
    case CAPTURE_WINDOW: started = capture_foreground_window(&target); break;
    case CAPTURE_MONITOR: started = capture_monitor_under_pointer(&target); break;
    case CAPTURE_REGION: started = open_region_overlay(); break;
    default: break;
  }
  if (target.device) start_recording_of(std::move(target));
  // What the countdown opened and the start did not take (a failed start,
  // or a window recorded after a countdown on the monitor) ends here; the
  // region overlay keeps its picture's share for the recording to come.
  if (mode != CAPTURE_REGION || !started) release_unused_capture();
  g_app.capture_request_active = 0;
  return started;
}

bool start_region_capture(MonitorId monitor, Rect selection) {
  CaptureTarget target;
  const bool opened = capture_region(monitor, selection, &target);
  if (opened) start_recording_of(std::move(target));
  release_unused_capture();
  return opened;
}

void release_unused_capture() {
  if (CaptureService* svc = g_app.capture.service) svc->release_unused();
}
