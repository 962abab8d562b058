// The capture backend of this session: X11, or the screen-cast portal on a
// Wayland desktop (platform/display_session.h). Standard error says which.
#include <cstdio>

#include "capture/capture_service.h"
#include "capture/portal/portal_capture.h"
#include "capture/x11/x11_capture.h"
#include "platform/display_session.h"

CaptureService* capture_service_create() {
  if (capture_backend_kind() == CaptureBackendKind::kPortal) {
    std::fprintf(stderr, "Frelvanta: Wayland session, capturing through the screen-cast portal and PipeWire\n");
    return portal_capture_service_create();
  }
  CaptureService* s = x11_capture_service_create();
  if (s != nullptr) std::fprintf(stderr, "Frelvanta: capturing through X11\n");
  return s;
}
