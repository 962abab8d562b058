// Target queries on the X server: pointer, monitors, the focused window and
// its owners, window types and frame geometry.
#include <xcb/randr.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

#include "capture/x11/x11_capture.h"
#include "capture/x11/x11_util.h"

constexpr MonitorId kWholeScreen = 0x100000000ull;  // beyond any atom

xcb_window_t x11_toplevel(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
  for (int depth = 0; depth < 64 && window != XCB_NONE && window != root; ++depth) {
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!tree) return XCB_NONE;
    if (tree->parent == root || tree->parent == XCB_NONE) return window;
    window = tree->parent;
  }
  return XCB_NONE;
}

int x11_monitors(xcb_connection_t* c, xcb_window_t root, X11Monitor* out, int capacity) {
  int n = 0;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
  if (ext != nullptr && ext->present) {
    XcbReply<xcb_randr_query_version_reply_t> ver(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (ver && (ver->major_version > 1 || ver->minor_version >= 5)) {
      XcbReply<xcb_randr_get_monitors_reply_t> mons(
          xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
      if (mons) {
        xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(mons.get());
        for (; it.rem && n < capacity; xcb_randr_monitor_info_next(&it)) {
          const xcb_randr_monitor_info_t* m = it.data;
          if (m->width == 0 || m->height == 0) continue;
          X11Monitor& mon = out[n++];
          mon.id = m->name != XCB_ATOM_NONE ? m->name : static_cast<MonitorId>(n);
          mon.rect = Rect{m->x, m->y, m->x + m->width, m->y + m->height};
          mon.output = m->nOutput > 0 ? xcb_randr_monitor_info_outputs(m)[0] : 0;
        }
      }
    }
  }
  if (n == 0 && capacity > 0) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (xcb_screen_iterator_t s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s)) {
      if (s.data->root != root) continue;
      out[0].id = kWholeScreen;
      out[0].rect = Rect{0, 0, s.data->width_in_pixels, s.data->height_in_pixels};
      out[0].output = 0;
      n = 1;
    }
  }
  return n;
}

namespace {
constexpr int kMaxMonitors = 16;

class X11Service final : public CaptureService {
 public:
  X11Service(xcb_connection_t* c, xcb_window_t root) : c_(c), root_(root) {
    atoms_.net_active_window = x11_intern_atom(c, "_NET_ACTIVE_WINDOW");
    atoms_.net_supporting_wm_check = x11_intern_atom(c, "_NET_SUPPORTING_WM_CHECK");
    atoms_.net_frame_extents = x11_intern_atom(c, "_NET_FRAME_EXTENTS");
    atoms_.net_wm_window_type = x11_intern_atom(c, "_NET_WM_WINDOW_TYPE");
    atoms_.net_wm_pid = x11_intern_atom(c, "_NET_WM_PID");
    atoms_.wm_state = x11_intern_atom(c, "WM_STATE");
    // Windows that float beside an application rather than being one.
    const char* tools[] = {"_NET_WM_WINDOW_TYPE_TOOLBAR",      "_NET_WM_WINDOW_TYPE_UTILITY",
                           "_NET_WM_WINDOW_TYPE_MENU",         "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                           "_NET_WM_WINDOW_TYPE_POPUP_MENU",   "_NET_WM_WINDOW_TYPE_TOOLTIP",
                           "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO",
                           "_NET_WM_WINDOW_TYPE_DND",          "_NET_WM_WINDOW_TYPE_DOCK"};
    for (int i = 0; i < 10; ++i) atoms_.tool_types[i] = x11_intern_atom(c, tools[i]);
    const char* others[] = {"_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
                            "_NET_WM_WINDOW_TYPE_SPLASH", "_NET_WM_WINDOW_TYPE_DESKTOP"};
    for (int i = 0; i < 4; ++i) atoms_.other_types[i] = x11_intern_atom(c, others[i]);
  }
  ~X11Service() override { xcb_disconnect(c_); }

  bool pointer_position(int32_t* x, int32_t* y) override {
    XcbReply<xcb_query_pointer_reply_t> r(xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr));
    if (!r || !r->same_screen) return false;
    *x = r->root_x;
    *y = r->root_y;
    return true;
  }

  MonitorId monitor_from_point(int32_t x, int32_t y) override {
    X11Monitor mons[kMaxMonitors];
    int n = x11_monitors(c_, root_, mons, kMaxMonitors);
    for (int i = 0; i < n; ++i) {
      const Rect& r = mons[i].rect;
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return mons[i].id;
    }
    return 0;
  }

  bool monitor_rect(MonitorId id, Rect* rect) override {
    X11Monitor mon;
    if (!find_monitor(id, &mon)) return false;
    *rect = mon.rect;
    return true;
  }

  bool monitor_refresh_rate(MonitorId id, uint32_t* num, uint32_t* den) override {
    X11Monitor mon;
    if (!find_monitor(id, &mon) || mon.output == 0) return false;
    XcbReply<xcb_randr_get_output_info_reply_t> out(
        xcb_randr_get_output_info_reply(c_, xcb_randr_get_output_info(c_, mon.output, XCB_CURRENT_TIME), nullptr));
    if (!out || out->crtc == XCB_NONE) return false;
    XcbReply<xcb_randr_get_crtc_info_reply_t> crtc(
        xcb_randr_get_crtc_info_reply(c_, xcb_randr_get_crtc_info(c_, out->crtc, XCB_CURRENT_TIME), nullptr));
    if (!crtc || crtc->mode == XCB_NONE) return false;
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> res(xcb_randr_get_screen_resources_current_reply(
        c_, xcb_randr_get_screen_resources_current(c_, root_), nullptr));
    if (!res) return false;
    const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(res.get());
    int count = xcb_randr_get_screen_resources_current_modes_length(res.get());
    for (int i = 0; i < count; ++i) {
      if (modes[i].id != crtc->mode) continue;
      uint64_t clock = modes[i].dot_clock;
      uint64_t lines = modes[i].vtotal;
      if (modes[i].mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) lines *= 2;
      if (modes[i].mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) clock *= 2;
      uint64_t dots = uint64_t{modes[i].htotal} * lines;
      if (clock == 0 || dots == 0) return false;
      uint64_t g = std::gcd(clock, dots);
      clock /= g;
      dots /= g;
      // Keep both parts in 32 bits, losing only precision far below a frame.
      while (clock > 0xFFFFFFFFull || dots > 0xFFFFFFFFull) {
        clock = (clock + 1) / 2;
        dots = (dots + 1) / 2;
      }
      if (clock == 0 || dots == 0) return false;
      *num = static_cast<uint32_t>(clock);
      *den = static_cast<uint32_t>(dots);
      return true;
    }
    return false;
  }

  MonitorId monitor_from_window(WindowId window) override {
    Rect b;
    int32_t sx, sy;
    if (!frame_bounds(window, &b, &sx, &sy)) return 0;
    X11Monitor mons[kMaxMonitors];
    int n = x11_monitors(c_, root_, mons, kMaxMonitors);
    MonitorId best = 0;
    int64_t best_area = 0;
    for (int i = 0; i < n; ++i) {
      const Rect& r = mons[i].rect;
      int64_t w = std::min(r.right, b.right) - std::max(r.left, b.left);
      int64_t h = std::min(r.bottom, b.bottom) - std::max(r.top, b.top);
      if (w > 0 && h > 0 && w * h > best_area) {
        best_area = w * h;
        best = mons[i].id;
      }
    }
    return best;
  }

  // The window a property of `w` names, or none.
  xcb_window_t window_property(xcb_window_t w, xcb_atom_t atom) {
    XcbReply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!r || r->type != XCB_ATOM_WINDOW || r->format != 32 || xcb_get_property_value_length(r.get()) < 4)
      return XCB_NONE;
    return *static_cast<xcb_window_t*>(xcb_get_property_value(r.get()));
  }

  // A window manager that has ended leaves its root properties behind; one
  // that runs keeps a check window naming itself.
  bool window_manager_running() {
    const xcb_window_t check = window_property(root_, atoms_.net_supporting_wm_check);
    return check != XCB_NONE && window_property(check, atoms_.net_supporting_wm_check) == check;
  }

  WindowId foreground_window() override {
    XcbReply<xcb_get_property_reply_t> active(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, root_, atoms_.net_active_window, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (active && active->type == XCB_ATOM_WINDOW && active->format == 32 && window_manager_running()) {
      // A window manager is running: it names the active window (none is none).
      if (xcb_get_property_value_length(active.get()) < 4) return 0;
      xcb_window_t w = *static_cast<xcb_window_t*>(xcb_get_property_value(active.get()));
      return w == root_ ? 0 : w;
    }
    XcbReply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    if (!focus) return 0;
    xcb_window_t w = focus->focus;
    if (w == XCB_NONE || w == XCB_INPUT_FOCUS_POINTER_ROOT || w == root_) return 0;
    return w;
  }

  WindowId parent_window(WindowId window) override {
    xcb_window_t w = static_cast<xcb_window_t>(window);
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr));
    if (!tree) return 0;
    bool client = tree->parent == root_ || tree->parent == XCB_NONE || has_property(w, atoms_.wm_state);
    if (!client) return tree->parent;
    // A top-level (managed) window: its owner, if it has one.
    XcbReply<xcb_get_property_reply_t> owner(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!owner || owner->format != 32 || xcb_get_property_value_length(owner.get()) < 4) return 0;
    xcb_window_t o = *static_cast<xcb_window_t*>(xcb_get_property_value(owner.get()));
    if (o == XCB_NONE || o == root_ || o == w) return 0;
    // An owner that no longer exists leaves the window on its own.
    XcbReply<xcb_get_window_attributes_reply_t> attrs(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, o), nullptr));
    return attrs ? o : 0;
  }

  bool is_tool_window(WindowId window) override {
    XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, static_cast<xcb_window_t>(window), atoms_.net_wm_window_type, XCB_ATOM_ATOM, 0, 32),
        nullptr));
    if (!r || r->format != 32) return false;
    int n = xcb_get_property_value_length(r.get()) / 4;
    const xcb_atom_t* types = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
    // The list is in order of preference; the first type known decides.
    for (int i = 0; i < n; ++i) {
      for (xcb_atom_t t : atoms_.tool_types) {
        if (t != XCB_ATOM_NONE && types[i] == t) return true;
      }
      for (xcb_atom_t t : atoms_.other_types) {
        if (t != XCB_ATOM_NONE && types[i] == t) return false;
      }
    }
    return false;
  }

  bool frame_bounds(WindowId window, Rect* bounds, int32_t* surface_x, int32_t* surface_y) override {
    xcb_window_t w = static_cast<xcb_window_t>(window);
    xcb_window_t s = x11_toplevel(c_, root_, w);
    if (s == XCB_NONE) return false;
    // All requests first, then the replies: one round trip.
    auto attrs_c = xcb_get_window_attributes(c_, s);
    auto sgeom_c = xcb_get_geometry(c_, s);
    auto spos_c = xcb_translate_coordinates(c_, s, root_, 0, 0);
    auto ext_c = xcb_get_property(c_, 0, w, atoms_.net_frame_extents, XCB_ATOM_CARDINAL, 0, 4);
    XcbReply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(c_, attrs_c, nullptr));
    XcbReply<xcb_get_geometry_reply_t> sgeom(xcb_get_geometry_reply(c_, sgeom_c, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> spos(xcb_translate_coordinates_reply(c_, spos_c, nullptr));
    XcbReply<xcb_get_property_reply_t> ext(xcb_get_property_reply(c_, ext_c, nullptr));
    if (!attrs || !sgeom || !spos || attrs->map_state != XCB_MAP_STATE_VIEWABLE) return false;
    // The captured surface includes the window's border.
    *surface_x = spos->dst_x - sgeom->border_width;
    *surface_y = spos->dst_y - sgeom->border_width;
    if (ext && ext->format == 32 && xcb_get_property_value_length(ext.get()) >= 16) {
      const uint32_t* e = static_cast<const uint32_t*>(xcb_get_property_value(ext.get()));
      Rect client;
      if (!client_rect(window, &client)) return false;
      int32_t f[4];
      if (x11_frame_from_extents(client.left, client.top, client.right, client.bottom, e, f)) {
        *bounds = Rect{f[0], f[1], f[2], f[3]};
        return true;
      }
      // Out of range: taken as absent.
    }
    *bounds = Rect{spos->dst_x, spos->dst_y, spos->dst_x + sgeom->width, spos->dst_y + sgeom->height};
    return true;
  }

  bool client_rect(WindowId window, Rect* rect) override {
    xcb_window_t w = static_cast<xcb_window_t>(window);
    auto geom_c = xcb_get_geometry(c_, w);
    auto pos_c = xcb_translate_coordinates(c_, w, root_, 0, 0);
    XcbReply<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(c_, geom_c, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> pos(xcb_translate_coordinates_reply(c_, pos_c, nullptr));
    if (!geom || !pos) return false;
    *rect = Rect{pos->dst_x, pos->dst_y, pos->dst_x + geom->width, pos->dst_y + geom->height};
    return true;
  }

  uint32_t window_process_id(WindowId window) override {
    XcbReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, static_cast<xcb_window_t>(window), atoms_.net_wm_pid, XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) return 0;
    return *static_cast<uint32_t*>(xcb_get_property_value(r.get()));
  }

  CaptureSource* open_window(const CaptureDevice&, WindowId window, int32_t* width, int32_t* height) override {
    uint32_t num = 0, den = 0;
    MonitorId mon = monitor_from_window(window);
    if (mon == 0 || !monitor_refresh_rate(mon, &num, &den)) num = den = 0;
    return x11_open_window_source(static_cast<xcb_window_t>(window), num, den, width, height);
  }

  CaptureSource* open_monitor(const CaptureDevice&, MonitorId id, int32_t* width, int32_t* height) override {
    X11Monitor mon;
    if (!find_monitor(id, &mon)) return nullptr;
    uint32_t num = 0, den = 0;
    if (!monitor_refresh_rate(id, &num, &den)) num = den = 0;
    CaptureSource* s = x11_open_monitor_source(mon, num, den);
    if (s != nullptr) {
      *width = mon.rect.width();
      *height = mon.rect.height();
    }
    return s;
  }

  // Read through a monitor source, the same path a recording takes, so the
  // frozen picture matches what the recording will show.
  bool grab_monitor(MonitorId id, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) override {
    X11Monitor mon;
    if (!find_monitor(id, &mon)) return false;
    std::unique_ptr<CaptureSource> source(x11_open_monitor_source(mon, 0, 0));
    if (!source) return false;
    struct CopySink final : SourceSink {
      std::vector<uint8_t>* out = nullptr;
      int32_t w = 0, h = 0;
      void frame_arrived(const SourceFrame& f) override {
        w = std::min(f.content_width, f.image.width);
        h = std::min(f.content_height, f.image.height);
        if (w <= 0 || h <= 0 || f.image.data == nullptr) {
          w = h = 0;
          return;
        }
        out->resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
        for (int32_t y = 0; y < h; ++y) {
          std::memcpy(out->data() + static_cast<size_t>(y) * w * 4, f.image.data + static_cast<size_t>(y) * f.image.stride,
                      static_cast<size_t>(w) * 4);
        }
      }
      void closed(bool) override {}
    } sink;
    sink.out = pixels;
    if (!x11_source_grab_once(source.get(), &sink, false) || sink.w == 0) return false;
    source->stop();
    *width = sink.w;
    *height = sink.h;
    return true;
  }

 private:
  bool find_monitor(MonitorId id, X11Monitor* out) {
    X11Monitor mons[kMaxMonitors];
    int n = x11_monitors(c_, root_, mons, kMaxMonitors);
    for (int i = 0; i < n; ++i) {
      if (mons[i].id == id) {
        *out = mons[i];
        return true;
      }
    }
    return false;
  }

  bool has_property(xcb_window_t w, xcb_atom_t atom) {
    if (atom == XCB_ATOM_NONE) return false;
    XcbReply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return r && r->type != XCB_ATOM_NONE;
  }

  xcb_connection_t* c_;
  xcb_window_t root_;
  X11Atoms atoms_;
};
}  // namespace

CaptureService* x11_capture_service_create() {
  int screen_num = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen_num);
  if (c == nullptr || xcb_connection_has_error(c)) {
    if (c != nullptr) xcb_disconnect(c);
    return nullptr;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen_num && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    xcb_disconnect(c);
    return nullptr;
  }
  return new X11Service(c, it.data->root);
}
