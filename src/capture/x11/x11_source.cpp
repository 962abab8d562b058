// One open capture target on its own connection and thread. The picture is
// read with MIT-SHM into a segment allocated at open (and again only when a
// re-creation needs more room); XDamage says when it changed; windows are
// read from their XComposite pixmap so covering windows do not matter.
#include <poll.h>
#include <time.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/frame_pacer.h"
#include "capture/source_thread.h"
#include "capture/x11/x11_capture.h"
#include "capture/x11/x11_util.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {
constexpr int kMaxMonitors = 16;
constexpr int64_t kMonitorCheckInterval = kQpcFrequency / 2;
constexpr int64_t kStopGraceMs = 300;
constexpr int64_t kMonitorGoneAfter = kQpcFrequency;  // missing this long: the monitor is gone

class X11Source final : public CaptureSource {
 public:
  ~X11Source() override {
    stop();
    release_image();
    if (c_ != nullptr) {
      if (damage_ != XCB_NONE) xcb_damage_destroy(c_, damage_);
      if (redirected_) xcb_composite_unredirect_window(c_, surface_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
      xcb_flush(c_);
      xcb_disconnect(c_);
    }
    if (wake_fd_ >= 0) close(wake_fd_);
  }

  // Common set-up; the target-specific part follows in open_monitor/open_window.
  bool connect() {
    int screen_num = 0;
    c_ = xcb_connect(nullptr, &screen_num);
    if (c_ == nullptr || xcb_connection_has_error(c_)) return false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screen_num && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return false;
    root_ = it.data->root;
    root_depth_ = it.data->root_depth;

    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c_, &xcb_shm_id);
    const xcb_query_extension_reply_t* dmg = xcb_get_extension_data(c_, &xcb_damage_id);
    const xcb_query_extension_reply_t* fix = xcb_get_extension_data(c_, &xcb_xfixes_id);
    if (!shm || !shm->present || !dmg || !dmg->present || !fix || !fix->present) return false;
    damage_event_ = dmg->first_event + XCB_DAMAGE_NOTIFY;
    cursor_event_ = fix->first_event + XCB_XFIXES_CURSOR_NOTIFY;
    // Both extensions refuse requests until the client has announced its version.
    XcbReply<xcb_xfixes_query_version_reply_t> fv(
        xcb_xfixes_query_version_reply(c_, xcb_xfixes_query_version(c_, 4, 0), nullptr));
    XcbReply<xcb_damage_query_version_reply_t> dv(
        xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
    if (!fv || !dv) return false;
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wake_fd_ >= 0;
  }

  bool open_monitor(const X11Monitor& mon) {
    monitor_ = mon;
    drawable_ = root_;
    if (x11_bits_per_pixel(c_, root_depth_) != 32) return false;
    const xcb_query_extension_reply_t* rr = xcb_get_extension_data(c_, &xcb_randr_id);
    if (rr && rr->present) {
      randr_event_ = rr->first_event;
      xcb_randr_select_input(c_, root_,
                             XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
    content_w_ = mon.rect.width();
    content_h_ = mon.rect.height();
    if (!make_image(content_w_, content_h_)) return false;
    damage_ = xcb_generate_id(c_);
    xcb_damage_create(c_, damage_, root_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    return xcb_connection_has_error(c_) == 0;
  }

  bool open_window(xcb_window_t window, int32_t* width, int32_t* height) {
    const xcb_query_extension_reply_t* comp = xcb_get_extension_data(c_, &xcb_composite_id);
    if (!comp || !comp->present) return false;
    XcbReply<xcb_composite_query_version_reply_t> cv(
        xcb_composite_query_version_reply(c_, xcb_composite_query_version(c_, 0, 4), nullptr));
    if (!cv || (cv->major_version == 0 && cv->minor_version < 2)) return false;
    target_ = window;
    surface_ = x11_toplevel(c_, root_, window);
    if (surface_ == XCB_NONE) return false;
    XcbReply<xcb_get_window_attributes_reply_t> attrs(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, surface_), nullptr));
    XcbReply<xcb_get_geometry_reply_t> geom(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, surface_), nullptr));
    if (!attrs || !geom || attrs->map_state != XCB_MAP_STATE_VIEWABLE) return false;
    if (x11_bits_per_pixel(c_, geom->depth) != 32) return false;
    viewable_ = true;

    // The frame extents the window manager writes on the window asked for
    // change its bounds as much as a move does.
    uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    uint32_t target_mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    frame_extents_atom_ = x11_intern_atom(c_, "_NET_FRAME_EXTENTS");
    xcb_change_window_attributes(c_, surface_, XCB_CW_EVENT_MASK, target_ == surface_ ? &target_mask : &mask);
    if (target_ != surface_) xcb_change_window_attributes(c_, target_, XCB_CW_EVENT_MASK, &target_mask);
    xcb_void_cookie_t rc = xcb_composite_redirect_window_checked(c_, surface_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    XcbReply<xcb_generic_error_t> err(xcb_request_check(c_, rc));
    if (err) return false;
    redirected_ = true;

    content_w_ = geom->width + 2 * geom->border_width;
    content_h_ = geom->height + 2 * geom->border_width;
    config_x_ = geom->x;
    config_y_ = geom->y;
    if (!make_image(content_w_, content_h_) || !name_pixmap()) return false;
    read_bounds();
    damage_ = xcb_generate_id(c_);
    xcb_damage_create(c_, damage_, surface_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    *width = content_w_;
    *height = content_h_;
    return xcb_connection_has_error(c_) == 0;
  }

  bool start(bool cursor, bool border, SourceSink* sink) override {
    (void)border;  // X11 has no capture border
    if (thread_.joinable() || sink == nullptr) return false;
    cursor_ = cursor;
    sink_ = sink;
    stopping_ = false;
    if (cursor_) {
      xcb_xfixes_select_cursor_input(c_, root_, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
      cursor_changed_ = true;
    }
    xcb_flush(c_);
    // Without its thread no frame would come: the session does not start.
    return thread_start(&thread_, [this] { run(); });
  }

  bool grab_once(SourceSink* sink, bool cursor) {
    if (thread_.joinable() || sink == nullptr) return false;
    sink_ = sink;
    cursor_ = cursor;
    if (cursor_ && cursor_w_ == 0) cursor_changed_ = true;
    const int64_t t = qpc_now();
    if (!grab()) return false;
    deliver(t);
    return true;
  }

  bool stop() override {
    stopping_ = true;
    auto wake = [this] {
      uint64_t one = 1;
      ssize_t n = write(wake_fd_, &one, sizeof one);
      (void)n;
    };
    // A server that stops answering leaves the thread in a reply wait that
    // never ends. After a short grace the connection is shut down under it:
    // the wait fails and the thread leaves.
    auto ended = [this] {
      if (wait_exited(kStopGraceMs)) return true;
      if (c_ != nullptr) shutdown(xcb_get_file_descriptor(c_), SHUT_RDWR);
      return wait_exited(kStopGraceMs);
    };
    return stop_source_thread(&thread_, wake, ended, &abandoned_);
  }

  // A source whose thread could not be ended; deleting it would pull the
  // connection from under that thread.
  bool abandoned() const override { return abandoned_; }

  void recreate(int32_t width, int32_t height) override {
    if (width <= 0 || height <= 0) return;
    if (!make_image(width, height)) return;
    if (target_ != XCB_NONE) name_pixmap();
    // The change that caused this was consumed by the frame just delivered
    // at the old size; read the picture again at the new one.
    dirty_ = true;
  }

 private:
  // Sets the picture size, growing the segment when it is too small.
  bool make_image(int32_t w, int32_t h) {
    size_t need = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (need > shm_size_) {
      release_image();
      int id = shmget(IPC_PRIVATE, need, IPC_CREAT | 0600);
      if (id < 0) return false;
      void* addr = shmat(id, nullptr, 0);
      if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
      }
      seg_ = xcb_generate_id(c_);
      XcbReply<xcb_generic_error_t> err(xcb_request_check(c_, xcb_shm_attach_checked(c_, seg_, id, 0)));
      // Once the server holds it, the segment goes away with the last user.
      shmctl(id, IPC_RMID, nullptr);
      if (err) {
        shmdt(addr);
        seg_ = XCB_NONE;
        return false;
      }
      shm_addr_ = static_cast<uint8_t*>(addr);
      shm_size_ = need;
    }
    image_w_ = w;
    image_h_ = h;
    return true;
  }

  void release_image() {
    if (c_ != nullptr && pixmap_ != XCB_NONE) xcb_free_pixmap(c_, pixmap_);
    pixmap_ = XCB_NONE;
    if (c_ != nullptr && seg_ != XCB_NONE) xcb_shm_detach(c_, seg_);
    seg_ = XCB_NONE;
    if (shm_addr_ != nullptr) shmdt(shm_addr_);
    shm_addr_ = nullptr;
    shm_size_ = 0;
  }

  // The window's off-screen storage changes at every resize and remap.
  bool name_pixmap() {
    if (pixmap_ != XCB_NONE) xcb_free_pixmap(c_, pixmap_);
    pixmap_ = xcb_generate_id(c_);
    XcbReply<xcb_generic_error_t> err(
        xcb_request_check(c_, xcb_composite_name_window_pixmap_checked(c_, surface_, pixmap_)));
    if (err) {
      pixmap_ = XCB_NONE;
      return false;
    }
    drawable_ = pixmap_;
    return true;
  }

  void handle_event(xcb_generic_event_t* ev) {
    uint8_t type = ev->response_type & 0x7f;
    if (type == damage_event_) {
      dirty_ = true;
    } else if (type == cursor_event_) {
      cursor_changed_ = true;
    } else if (type == XCB_CONFIGURE_NOTIFY) {
      auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(ev);
      if (e->window == surface_) {
        const int32_t w = e->width + 2 * e->border_width, h = e->height + 2 * e->border_width;
        if (w == content_w_ && h == content_h_ && !bounds_stale_ && bounds_.shown) {
          // Only moved (a window being dragged sends one per step): the
          // bounds move with it, with no question to the server.
          shift_bounds(e->x - config_x_, e->y - config_y_);
        } else {
          bounds_stale_ = true;
        }
        content_w_ = w;
        content_h_ = h;
        config_x_ = e->x;
        config_y_ = e->y;
      } else if (e->window == target_) {
        bounds_stale_ = true;  // moved or resized inside its frame
      }
    } else if (type == XCB_REPARENT_NOTIFY) {
      // Positions are now relative to another parent.
      auto* e = reinterpret_cast<xcb_reparent_notify_event_t*>(ev);
      if (e->window == surface_ || e->window == target_) bounds_stale_ = true;
    } else if (type == XCB_PROPERTY_NOTIFY) {
      auto* e = reinterpret_cast<xcb_property_notify_event_t*>(ev);
      if (e->window == target_ && e->atom == frame_extents_atom_) bounds_stale_ = true;
    } else if (type == XCB_DESTROY_NOTIFY) {
      auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(ev);
      if (e->window == surface_ || e->window == target_) closed_ = true;
    } else if (type == XCB_UNMAP_NOTIFY) {
      auto* e = reinterpret_cast<xcb_unmap_notify_event_t*>(ev);
      if (e->window == surface_) viewable_ = false;
    } else if (type == XCB_MAP_NOTIFY) {
      auto* e = reinterpret_cast<xcb_map_notify_event_t*>(ev);
      if (e->window == surface_) {
        viewable_ = true;
        bounds_stale_ = true;
        if (name_pixmap()) dirty_ = true;
      }
    } else if (randr_event_ != 0 &&
               (type == randr_event_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randr_event_ + XCB_RANDR_NOTIFY)) {
      monitor_changed_ = true;
    }
  }

  void check_monitor() {
    monitor_changed_ = false;
    X11Monitor mons[kMaxMonitors];
    int n = x11_monitors(c_, root_, mons, kMaxMonitors);
    for (int i = 0; i < n; ++i) {
      if (mons[i].id != monitor_.id) continue;
      const Rect& was = monitor_.rect;
      const Rect& now = mons[i].rect;
      if (now.left != was.left || now.top != was.top || now.right != was.right || now.bottom != was.bottom) {
        dirty_ = true;  // moved or resized: the picture is a different one
      }
      monitor_ = mons[i];
      content_w_ = monitor_.rect.width();
      content_h_ = monitor_.rect.height();
      monitor_missing_since_ = 0;
      return;
    }
    // Missing for a while, not just in one list: a reconfiguration (even a
    // refused one) turns the output off and on again within milliseconds,
    // with several notifications, and must not end a recording. The
    // periodic check looks again.
    const int64_t now = qpc_now();
    if (monitor_missing_since_ == 0) monitor_missing_since_ = now;
    if (now - monitor_missing_since_ >= kMonitorGoneAfter) closed_ = true;
  }

  bool refresh_cursor() {
    cursor_changed_ = false;
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> r(
        xcb_xfixes_get_cursor_image_reply(c_, xcb_xfixes_get_cursor_image(c_), nullptr));
    if (!r) return false;
    size_t n = static_cast<size_t>(r->width) * r->height;
    // Grows only when a larger cursor appears, never per frame.
    if (cursor_pixels_.size() < n) cursor_pixels_.resize(n);
    std::copy_n(xcb_xfixes_get_cursor_image_cursor_image(r.get()), n, cursor_pixels_.begin());
    cursor_w_ = r->width;
    cursor_h_ = r->height;
    cursor_hot_x_ = r->xhot;
    cursor_hot_y_ = r->yhot;
    return true;
  }

  // Screen position of the picture's top-left pixel: a window's follows
  // its events (see read_bounds), so no frame asks the server for it.
  void picture_origin(int32_t* x, int32_t* y) const {
    if (target_ == XCB_NONE) {
      *x = monitor_.rect.left;
      *y = monitor_.rect.top;
    } else {
      *x = bounds_.surface_x;
      *y = bounds_.surface_y;
    }
  }

  bool pointer(int32_t* x, int32_t* y) {
    XcbReply<xcb_query_pointer_reply_t> r(xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr));
    if (!r || !r->same_screen) return false;
    *x = r->root_x;
    *y = r->root_y;
    return true;
  }

  // Blends the cursor (premultiplied ARGB) into the picture at picture
  // coordinates (x, y) of its top-left corner.
  void blend_cursor(int32_t x, int32_t y) {
    for (int32_t cy = 0; cy < cursor_h_; ++cy) {
      int32_t py = y + cy;
      if (py < 0 || py >= grabbed_h_) continue;
      uint8_t* row = shm_addr_ + static_cast<size_t>(py) * grabbed_w_ * 4;
      for (int32_t cx = 0; cx < cursor_w_; ++cx) {
        int32_t px = x + cx;
        if (px < 0 || px >= grabbed_w_) continue;
        uint32_t s = cursor_pixels_[static_cast<size_t>(cy) * cursor_w_ + cx];
        uint32_t a = s >> 24;
        if (a == 0) continue;
        uint8_t* d = row + static_cast<size_t>(px) * 4;
        uint32_t inv = 255 - a;
        d[0] = static_cast<uint8_t>(std::min<uint32_t>(255, (s & 0xff) + (d[0] * inv + 127) / 255));
        d[1] = static_cast<uint8_t>(std::min<uint32_t>(255, ((s >> 8) & 0xff) + (d[1] * inv + 127) / 255));
        d[2] = static_cast<uint8_t>(std::min<uint32_t>(255, ((s >> 16) & 0xff) + (d[2] * inv + 127) / 255));
      }
    }
  }

  // Reads the picture into the segment; false when there is nothing to read.
  // Only what the target still has is read: a target that became smaller
  // than the buffer is read at its new size (the buffer is re-created for it
  // once the frame has been delivered), never past its edge, which the
  // server refuses.
  bool grab() {
    if (drawable_ == XCB_NONE || (target_ != XCB_NONE && !viewable_)) return false;
    const int32_t w = std::min(image_w_, content_w_), h = std::min(image_h_, content_h_);
    if (w <= 0 || h <= 0 || w > 0xffff || h > 0xffff) return false;
    // Changes after this point raise the next notification.
    xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
    int16_t x = target_ == XCB_NONE ? static_cast<int16_t>(monitor_.rect.left) : 0;
    int16_t y = target_ == XCB_NONE ? static_cast<int16_t>(monitor_.rect.top) : 0;
    auto image_c = xcb_shm_get_image(c_, drawable_, x, y, static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u,
                                     XCB_IMAGE_FORMAT_Z_PIXMAP, seg_, 0);
    // The pointer position for the cursor travels with the picture request:
    // one round trip per frame, not two.
    xcb_query_pointer_cookie_t pointer_c{};
    if (cursor_) pointer_c = xcb_query_pointer(c_, root_);
    XcbReply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(c_, image_c, nullptr));
    pointer_known_ = false;
    if (cursor_) {
      XcbReply<xcb_query_pointer_reply_t> p(xcb_query_pointer_reply(c_, pointer_c, nullptr));
      if (p && p->same_screen) {
        pointer_x_ = p->root_x;
        pointer_y_ = p->root_y;
        pointer_known_ = true;
      }
    }
    if (r == nullptr) {
      reread_size();
      return false;
    }
    grabbed_w_ = w;
    grabbed_h_ = h;
    return true;
  }

  // After a refused read: the target changed size without (or before) its
  // notification. Its size is read again; a window that no longer exists
  // is a closed target.
  void reread_size() {
    if (xcb_connection_has_error(c_)) return;
    if (target_ == XCB_NONE) {
      monitor_changed_ = true;
      return;
    }
    XcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, surface_), nullptr));
    if (!g) {
      closed_ = true;
      return;
    }
    content_w_ = g->width + 2 * g->border_width;
    content_h_ = g->height + 2 * g->border_width;
    bounds_stale_ = true;
    // The named storage may be that of the old size.
    if (name_pixmap()) dirty_ = true;
  }

  void deliver(int64_t now) {
    if (target_ != XCB_NONE && bounds_stale_) read_bounds();
    if (cursor_) {
      if (cursor_changed_) refresh_cursor();
      if (cursor_w_ > 0 && pointer_known_) {
        int32_t ox, oy;
        picture_origin(&ox, &oy);
        blend_cursor(pointer_x_ - cursor_hot_x_ - ox, pointer_y_ - cursor_hot_y_ - oy);
        last_pointer_x_ = pointer_x_;
        last_pointer_y_ = pointer_y_;
      }
    }
    SourceFrame f;
    if (target_ != XCB_NONE) f.window_bounds = &bounds_;
    f.image = BgraImage{shm_addr_, grabbed_w_, grabbed_h_, grabbed_w_ * 4};
    f.time = now;
    f.content_width = content_w_;
    f.content_height = content_h_;
    sink_->frame_arrived(f);
  }

  // The window's frame and client bounds, read in one round trip: at open and
  // after an event that changed them in a way a plain move does not cover.
  void read_bounds() {
    bounds_stale_ = false;
    auto attrs_c = xcb_get_window_attributes(c_, surface_);
    auto sgeom_c = xcb_get_geometry(c_, surface_);
    auto spos_c = xcb_translate_coordinates(c_, surface_, root_, 0, 0);
    auto ext_c = xcb_get_property(c_, 0, target_, frame_extents_atom_, XCB_ATOM_CARDINAL, 0, 4);
    auto cgeom_c = xcb_get_geometry(c_, target_);
    auto cpos_c = xcb_translate_coordinates(c_, target_, root_, 0, 0);
    XcbReply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(c_, attrs_c, nullptr));
    XcbReply<xcb_get_geometry_reply_t> sgeom(xcb_get_geometry_reply(c_, sgeom_c, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> spos(xcb_translate_coordinates_reply(c_, spos_c, nullptr));
    XcbReply<xcb_get_property_reply_t> ext(xcb_get_property_reply(c_, ext_c, nullptr));
    XcbReply<xcb_get_geometry_reply_t> cgeom(xcb_get_geometry_reply(c_, cgeom_c, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> cpos(xcb_translate_coordinates_reply(c_, cpos_c, nullptr));
    WindowBounds b;
    if (sgeom) {
      config_x_ = sgeom->x;
      config_y_ = sgeom->y;
    }
    if (!attrs || !sgeom || !spos || attrs->map_state != XCB_MAP_STATE_VIEWABLE) {
      bounds_ = b;
      return;
    }
    // The captured surface includes the window's border.
    b.surface_x = spos->dst_x - sgeom->border_width;
    b.surface_y = spos->dst_y - sgeom->border_width;
    if (cgeom && cpos) {
      b.has_client = true;
      b.client = Rect{cpos->dst_x, cpos->dst_y, cpos->dst_x + cgeom->width, cpos->dst_y + cgeom->height};
    }
    b.shown = true;
    b.frame = Rect{spos->dst_x, spos->dst_y, spos->dst_x + sgeom->width, spos->dst_y + sgeom->height};
    if (ext && ext->format == 32 && xcb_get_property_value_length(ext.get()) >= 16) {
      // Frame extents describe the frame around the client; without the
      // client there is no frame to speak of.
      const uint32_t* e = static_cast<const uint32_t*>(xcb_get_property_value(ext.get()));
      int32_t f[4];
      if (!b.has_client) {
        b.shown = false;
      } else if (x11_frame_from_extents(b.client.left, b.client.top, b.client.right, b.client.bottom, e, f)) {
        b.frame = Rect{f[0], f[1], f[2], f[3]};
      }
      // Out of range: taken as absent.
    }
    bounds_ = b;
  }

  void shift_bounds(int32_t dx, int32_t dy) {
    auto move = [dx, dy](Rect& r) {
      r.left += dx;
      r.right += dx;
      r.top += dy;
      r.bottom += dy;
    };
    move(bounds_.frame);
    move(bounds_.client);
    bounds_.surface_x += dx;
    bounds_.surface_y += dy;
  }

  // A moved or changed pointer is a change of the picture when it is drawn in.
  bool pointer_moved() {
    if (cursor_changed_) return true;
    int32_t x, y;
    return pointer(&x, &y) && (x != last_pointer_x_ || y != last_pointer_y_);
  }

  bool wait_exited(int64_t ms) {
    std::unique_lock<std::mutex> lock(exit_mutex_);
    return exit_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return exited_; });
  }

  void run() {
    run_loop();
    std::lock_guard<std::mutex> lock(exit_mutex_);
    exited_ = true;
    exit_cv_.notify_all();
  }

  void run_loop() {
    set_thread_name("fv-capture");
    pacer_.reset();
    int64_t last_monitor_check = qpc_now();
    bool closed_reported = false;
    const int xfd = xcb_get_file_descriptor(c_);
    while (!stopping_) {
      while (xcb_generic_event_t* ev = xcb_poll_for_event(c_)) {
        handle_event(ev);
        std::free(ev);
      }
      if (xcb_connection_has_error(c_)) {
        closed_ = true;
        display_lost_ = !stopping_;
      }
      // Not every server announces a monitor going away, so look now and then.
      if (target_ == XCB_NONE && !closed_ && qpc_now() - last_monitor_check >= kMonitorCheckInterval) {
        monitor_changed_ = true;
      }
      if (monitor_changed_ && !closed_) {
        check_monitor();
        last_monitor_check = qpc_now();
      }
      if (closed_) {
        if (!closed_reported) {
          closed_reported = true;
          sink_->closed(display_lost_);
        }
      } else {
        // The schedule is kept in the times of the requests (the server reads
        // the picture right after one); the frame's time is the point of the
        // schedule it was taken for, so a steady capture is evenly spaced.
        const int64_t now = qpc_now();
        if (!dirty_ && cursor_ && pacer_.ready(now) && pointer_moved()) dirty_ = true;
        if (dirty_ && pacer_.ready(now)) {
          dirty_ = false;
          if (grab()) deliver(pacer_.take(now));
        }
      }
      if (stopping_) break;
      xcb_flush(c_);
      // Ticks to sleep; -1: until an event or the stop request. Waits are
      // kept to the tick, not rounded up to whole milliseconds, so a frame
      // is taken when it is due rather than up to a millisecond later.
      int64_t wait = -1;
      if (!closed_) {
        const int64_t now = qpc_now();
        const int64_t due = pacer_.ready(now) ? 0 : pacer_.due() - now;
        if (dirty_) {
          wait = std::max<int64_t>(due, 0);
        } else if (cursor_) {
          // The pointer has no event here; look again once a frame may be taken.
          wait = due > 0 ? due : pacer_.period();
        }
        if (target_ == XCB_NONE) {
          const int64_t check_due = std::max<int64_t>(last_monitor_check + kMonitorCheckInterval - now, 0);
          if (wait < 0 || check_due < wait) wait = check_due;
        }
      }
      // A closed target has nothing more to read: a broken connection's
      // socket reports a hang-up at once, every time, so it is left out and
      // only the stop request is waited for.
      pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {xfd, POLLIN, 0}};
      if (closed_) {
        ppoll(fds, 1, nullptr, nullptr);
        continue;
      }
      // Events read into xcb's queue by a reply wait are not on the socket any more.
      if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(c_)) {
        handle_event(queued);
        std::free(queued);
        continue;
      }
      timespec ts{};
      if (wait >= 0) {
        ts.tv_sec = static_cast<time_t>(wait / kQpcFrequency);
        ts.tv_nsec = static_cast<long>(wait % kQpcFrequency * (1'000'000'000 / kQpcFrequency));
      }
      ppoll(fds, 2, wait >= 0 ? &ts : nullptr, nullptr);
    }
  }

 public:
  FramePacer pacer_;  // at most one frame per refresh, on a schedule

 private:
  xcb_connection_t* c_ = nullptr;
  xcb_window_t root_ = XCB_NONE;
  uint8_t root_depth_ = 0;
  int wake_fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex exit_mutex_;
  std::condition_variable exit_cv_;
  bool exited_ = false;
  bool abandoned_ = false;
  bool display_lost_ = false;
  SourceSink* sink_ = nullptr;

  X11Monitor monitor_;
  xcb_window_t target_ = XCB_NONE;   // window targets: the window asked for
  xcb_window_t surface_ = XCB_NONE;  // and its top-level, whose storage is read
  bool redirected_ = false;
  bool viewable_ = false;
  xcb_pixmap_t pixmap_ = XCB_NONE;
  xcb_drawable_t drawable_ = XCB_NONE;
  xcb_damage_damage_t damage_ = XCB_NONE;
  uint8_t damage_event_ = 0, cursor_event_ = 0, randr_event_ = 0;

  xcb_shm_seg_t seg_ = XCB_NONE;
  uint8_t* shm_addr_ = nullptr;
  size_t shm_size_ = 0;
  int32_t image_w_ = 0, image_h_ = 0;      // picture read per frame (the "pool" size)
  int32_t content_w_ = 0, content_h_ = 0;  // the target's current size
  int32_t grabbed_w_ = 0, grabbed_h_ = 0;  // size of the last picture read (rows of grabbed_w_ pixels)

  bool dirty_ = true;  // the first frame comes without waiting for a change
  bool closed_ = false;
  bool monitor_changed_ = false;
  int64_t monitor_missing_since_ = 0;  // counter value when first missing; 0: present

  bool cursor_ = false;
  bool cursor_changed_ = false;
  std::vector<uint32_t> cursor_pixels_;
  int32_t cursor_w_ = 0, cursor_h_ = 0, cursor_hot_x_ = 0, cursor_hot_y_ = 0;
  int32_t last_pointer_x_ = -1, last_pointer_y_ = -1;
  bool pointer_known_ = false;  // pointer_x_/y_ were read with the last picture
  int32_t pointer_x_ = 0, pointer_y_ = 0;
  int32_t config_x_ = 0, config_y_ = 0;  // window targets: the surface's position in its parent
  xcb_atom_t frame_extents_atom_ = XCB_ATOM_NONE;
  WindowBounds bounds_;       // window targets: followed from events
  bool bounds_stale_ = true;  // read again before the next frame
};
}  // namespace

CaptureSource* x11_open_monitor_source(const X11Monitor& monitor, uint32_t rate_num, uint32_t rate_den) {
  auto* s = new X11Source();
  if (!s->connect() || !s->open_monitor(monitor)) {
    delete s;
    return nullptr;
  }
  s->pacer_.set_rate(rate_num, rate_den, kQpcFrequency);
  return s;
}

CaptureSource* x11_open_window_source(xcb_window_t window, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                      int32_t* height) {
  auto* s = new X11Source();
  if (!s->connect() || !s->open_window(window, width, height)) {
    delete s;
    return nullptr;
  }
  s->pacer_.set_rate(rate_num, rate_den, kQpcFrequency);
  return s;
}

bool x11_source_grab_once(CaptureSource* source, SourceSink* sink, bool cursor) {
  auto* s = dynamic_cast<X11Source*>(source);
  return s != nullptr && s->grab_once(sink, cursor);
}
