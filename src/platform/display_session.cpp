#include "platform/display_session.h"

#include <cstdlib>
#include <cstring>

namespace {
bool set(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0';
}
}  // namespace

bool wayland_session() { return set("WAYLAND_DISPLAY"); }

CaptureBackendKind capture_backend_kind() {
  const char* forced = std::getenv("FRELVANTA_CAPTURE");
  if (forced != nullptr && std::strcmp(forced, "x11") == 0) return CaptureBackendKind::kX11;
  if (forced != nullptr && std::strcmp(forced, "portal") == 0) return CaptureBackendKind::kPortal;
  return wayland_session() ? CaptureBackendKind::kPortal : CaptureBackendKind::kX11;
}
