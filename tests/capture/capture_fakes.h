#pragma once
// Stand-ins for what capture hands over to: device selection, recording
// start, the region overlay, and the user-interface notifications.
#include <memory>
#include <string>
#include <vector>

#include "core/ui_service.h"
#include "capture/capture_state.h"
#include "capture/device.h"
#include "support/fake_ui.h"

struct CaptureHandOver {
  int devices_created = 0;
  bool device_fails = false;
  int recording_starts = 0;
  WindowId started_window = 0;
  bool had_device = false;
  uint32_t request_active_during_start = 0;
  bool overlay_opens = true;
  int overlays = 0;
};

extern CaptureHandOver g_handover;

