#pragma once
// Small helpers shared by the X11 capture backend.
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

struct XcbFree {
  void operator()(void* p) const { std::free(p); }
};
// xcb replies and events are malloc'ed by the library and freed by us.
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

inline xcb_atom_t x11_intern_atom(xcb_connection_t* c, const char* name, bool only_if_exists = false) {
  size_t n = 0;
  while (name[n] != '\0') ++n;
  XcbReply<xcb_intern_atom_reply_t> r(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, only_if_exists ? 1 : 0, static_cast<uint16_t>(n), name), nullptr));
  return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Bits per pixel the server uses for images of `depth`; 0 when unknown.
inline int x11_bits_per_pixel(xcb_connection_t* c, uint8_t depth) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup);
  for (; it.rem; xcb_format_next(&it)) {
    if (it.data->depth == depth) return it.data->bits_per_pixel;
  }
  return 0;
}
