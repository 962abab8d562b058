#include "audio/pulse/window_pid.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

uint32_t x11_window_process_id(uint64_t window) {
  if (window == 0 || window > 0xFFFFFFFFu) return 0;
  xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
  if (!conn || xcb_connection_has_error(conn)) {
    if (conn) xcb_disconnect(conn);
    return 0;
  }
  uint32_t pid = 0;
  const char name[] = "_NET_WM_PID";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 1, sizeof name - 1, name), nullptr);
  if (atom && atom->atom != XCB_ATOM_NONE) {
    xcb_get_property_reply_t* prop = xcb_get_property_reply(
        conn,
        xcb_get_property(conn, 0, static_cast<xcb_window_t>(window), atom->atom, XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    if (prop && prop->format == 32 && xcb_get_property_value_length(prop) >= 4) {
      std::memcpy(&pid, xcb_get_property_value(prop), 4);
    }
    std::free(prop);
  }
  std::free(atom);
  xcb_disconnect(conn);
  return pid;
}
