#include "capture/capture_fakes.h"

#include "core/app_state.h"
#include "capture/capture.h"
#include "recording/recording.h"

CaptureHandOver g_handover;

std::shared_ptr<CaptureDevice> create_capture_device() {
  ++g_handover.devices_created;
  if (g_handover.device_fails) return nullptr;
  return std::make_shared<CaptureDevice>();
}

bool recording_start(std::shared_ptr<CaptureDevice> device, WindowId window) {
  ++g_handover.recording_starts;
  g_handover.started_window = window;
  g_handover.had_device = device != nullptr;
  g_handover.request_active_during_start = g_app.capture_request_active;
  return true;
}

bool open_region_overlay() {
  ++g_handover.overlays;
  return g_handover.overlay_opens;
}
