#pragma once
// X11 capture backend: xcb with MIT-SHM, XDamage, XComposite, XFixes and
// XRandR. One connection for target queries; each open source has its own
// connection and thread.
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdint>

#include "capture/capture_service.h"

// The service on the X server of DISPLAY; null when there is none.
CaptureService* x11_capture_service_create();

struct X11Atoms {
  xcb_atom_t net_active_window = XCB_ATOM_NONE;
  xcb_atom_t net_supporting_wm_check = XCB_ATOM_NONE;
  xcb_atom_t net_frame_extents = XCB_ATOM_NONE;
  xcb_atom_t net_wm_window_type = XCB_ATOM_NONE;
  xcb_atom_t net_wm_pid = XCB_ATOM_NONE;
  xcb_atom_t wm_state = XCB_ATOM_NONE;
  xcb_atom_t tool_types[10] = {};
  xcb_atom_t other_types[4] = {};  // standard types that are not tool windows
};

struct X11Monitor {
  MonitorId id = 0;
  Rect rect;               // root coordinates
  xcb_randr_output_t output = 0;
};

// Root-child ancestor of `window` (the window itself for a top-level); 0 on error.
xcb_window_t x11_toplevel(xcb_connection_t* c, xcb_window_t root, xcb_window_t window);
// Monitors of the screen; a single whole-screen monitor without XRandR 1.5.
int x11_monitors(xcb_connection_t* c, xcb_window_t root, X11Monitor* out, int capacity);

// Opens a source on its own connection that delivers at most rate_num /
// rate_den frames per second (60 when 0); null on failure.
CaptureSource* x11_open_monitor_source(const X11Monitor& monitor, uint32_t rate_num, uint32_t rate_den);
CaptureSource* x11_open_window_source(xcb_window_t window, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                      int32_t* height);

// Reads one picture and hands it to `sink` on the calling thread, as the
// source's own thread does after a change. For measurements; the source must
// not have been started.
bool x11_source_grab_once(CaptureSource* source, SourceSink* sink, bool cursor);
