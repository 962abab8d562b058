#pragma once
// Capture through the desktop's screen-cast portal and PipeWire, for Wayland
// sessions. Null only when the process cannot create the service at all; a
// service whose portal does not answer says so in unavailable_reason().
#include "capture/capture_service.h"

CaptureService* portal_capture_service_create();
