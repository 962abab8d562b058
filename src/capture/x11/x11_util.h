#pragma once
// Small helpers shared by the X11 capture backend.
#include <xcb/xcb.h>

#include <cstdint>
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

// The visible frame around a client rectangle from the four values of
// _NET_FRAME_EXTENTS (left, right, top, bottom). Another client writes that
// property, so it is not trusted: a value larger than any real decoration,
// or a frame that leaves the X coordinate range, is refused (false).
inline bool x11_frame_from_extents(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                   const uint32_t extents[4], int32_t out[4]) {
  constexpr uint32_t kMaxExtent = 4096;
  for (int i = 0; i < 4; ++i)
    if (extents[i] > kMaxExtent) return false;
  const int64_t l = int64_t{left} - extents[0], r = int64_t{right} + extents[1];
  const int64_t t = int64_t{top} - extents[2], b = int64_t{bottom} + extents[3];
  // Window coordinates and sizes are 16-bit on the wire.
  if (l < -32768 || t < -32768 || r > 65535 || b > 65535 || r <= l || b <= t) return false;
  out[0] = static_cast<int32_t>(l);
  out[1] = static_cast<int32_t>(t);
  out[2] = static_cast<int32_t>(r);
  out[3] = static_cast<int32_t>(b);
  return true;
}
