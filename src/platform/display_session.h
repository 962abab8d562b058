#pragma once
// What kind of desktop session the process runs in, read from its
// environment, and the screen-capture backend that follows from it.
//
// FRELVANTA_CAPTURE forces the backend: "x11" records through X11 (on a
// Wayland desktop that is XWayland, which sees only XWayland windows),
// "portal" through the screen-cast portal. Without it a Wayland session
// (WAYLAND_DISPLAY set) uses the portal and anything else X11.

enum class CaptureBackendKind { kX11, kPortal };

// True when WAYLAND_DISPLAY names a compositor.
bool wayland_session();

CaptureBackendKind capture_backend_kind();
