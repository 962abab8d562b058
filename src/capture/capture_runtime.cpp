#include "core/app_state.h"
#include "capture/capture.h"
#include "capture/capture_service.h"
#include "video/intake/frame_intake.h"

void capture_runtime_init() {
  Capture& c = g_app.capture;
  // Without a display every later open fails and is reported there.
  if (c.service == nullptr) c.service = capture_service_create();
  c.on_frame = on_frame_arrived;
}
