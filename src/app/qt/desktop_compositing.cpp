#include "app/qt/desktop_compositing.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string>

bool desktop_composites() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
  // A connection of its own: asked once per countdown, and a compositor can
  // come and go at any time.
  int screen = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen);
  bool owned = false;
  if (c && xcb_connection_has_error(c) == 0) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom) {
      xcb_get_selection_owner_reply_t* owner =
          xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
      owned = owner && owner->owner != XCB_NONE;
      std::free(owner);
      std::free(atom);
    }
  }
  if (c) xcb_disconnect(c);
  return owned;
}
