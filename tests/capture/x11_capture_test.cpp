// Capture against a real X server (the display of scripts/test-env.sh).
// There is no window manager, so the focused window is the foreground window;
// a managed window is imitated with a frame window holding a client.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "app/capture_request.h"
#include "capture/capture.h"
#include "capture/capture_fakes.h"
#include "capture/capture_service.h"
#include "capture/x11/x11_util.h"

namespace {
using namespace std::chrono_literals;

// A recognisable picture: every pixel differs from its neighbours.
uint32_t pattern(int x, int y, int seed) {
  uint32_t b = (x * 7 + y * 13 + seed) & 0xff;
  uint32_t g = (x ^ (y * 3)) & 0xff;
  uint32_t r = ((x + 3 * y) >> 2) & 0xff;
  return (r << 16) | (g << 8) | b;
}

// Frames as the capture session delivers them, copied out of the call.
struct Received {
  std::mutex m;
  std::condition_variable cv;
  int frames = 0, nulls = 0;
  Rect rect;
  int32_t image_w = 0, image_h = 0, content_w = 0, content_h = 0;
  std::vector<uint32_t> pixels;  // the content rectangle, 0x00RRGGBB
};
Received* g_rx = nullptr;

bool receive(Capture*, const CapturedFrame* f) {
  std::lock_guard<std::mutex> lock(g_rx->m);
  if (f == nullptr) {
    ++g_rx->nulls;
  } else {
    ++g_rx->frames;
    g_rx->rect = f->content_rect;
    g_rx->image_w = f->texture.width;
    g_rx->image_h = f->texture.height;
    g_rx->content_w = f->content_width;
    g_rx->content_h = f->content_height;
    const Rect& r = f->content_rect;
    g_rx->pixels.resize(static_cast<size_t>(r.width()) * r.height());
    for (int y = r.top; y < r.bottom; ++y) {
      const uint8_t* row = f->texture.data + static_cast<size_t>(y) * f->texture.stride;
      for (int x = r.left; x < r.right; ++x) {
        uint32_t v;
        std::memcpy(&v, row + x * 4, 4);
        g_rx->pixels[static_cast<size_t>(y - r.top) * r.width() + (x - r.left)] = v & 0xffffff;
      }
    }
  }
  g_rx->cv.notify_all();
  return true;
}

class X11CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    // A virtual server resets when its last client leaves and refuses
    // connections for a moment while it does.
    for (int attempt = 0; attempt < 100; ++attempt) {
      c_ = xcb_connect(nullptr, nullptr);
      if (!xcb_connection_has_error(c_)) break;
      xcb_disconnect(c_);
      c_ = nullptr;
      std::this_thread::sleep_for(30ms);
    }
    ASSERT_NE(c_, nullptr) << "cannot connect to the X display";
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    app_reset();
    g_handover = CaptureHandOver{};
    g_ui_service = &ui_;
    g_app.capture.service = capture_service_create();
    ASSERT_NE(g_app.capture.service, nullptr);
    g_app.capture.on_frame = receive;
    g_rx = &rx_;
    gc_ = xcb_generate_id(c_);
    xcb_create_gc(c_, gc_, screen_->root, 0, nullptr);
    // Park the pointer where no test draws, and out of every picture.
    xcb_warp_pointer(c_, XCB_NONE, screen_->root, 0, 0, 0, 0, 1919, 1079);
    sync();
  }

  void TearDown() override {
    if (c_ == nullptr) return;
    capture_stop(&g_app.capture);
    delete g_app.capture.service;
    g_app.capture.service = nullptr;
    g_ui_service = nullptr;
    for (xcb_window_t w : windows_) xcb_destroy_window(c_, w);
    xcb_disconnect(c_);
  }

  void sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

  xcb_window_t make_window(xcb_window_t parent, int x, int y, int w, int h, bool map = true) {
    xcb_window_t win = xcb_generate_id(c_);
    uint32_t values[] = {screen_->black_pixel, 1};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, win, parent, x, y, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    if (map) xcb_map_window(c_, win);
    windows_.push_back(win);
    sync();
    return win;
  }

  void paint(xcb_drawable_t d, int w, int h, int seed) {
    std::vector<uint32_t> rows;
    for (int y0 = 0; y0 < h; y0 += 32) {
      int n = std::min(32, h - y0);
      rows.resize(static_cast<size_t>(w) * n);
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < w; ++x) rows[static_cast<size_t>(y) * w + x] = pattern(x, y0 + y, seed);
      xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, d, gc_, w, n, 0, y0, 0, screen_->root_depth,
                    static_cast<uint32_t>(rows.size() * 4), reinterpret_cast<const uint8_t*>(rows.data()));
    }
    sync();
  }

  void fill(xcb_drawable_t d, int w, int h, uint32_t colour) {
    uint32_t v = colour;
    xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &v);
    xcb_rectangle_t r{0, 0, static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
    xcb_poly_fill_rectangle(c_, d, gc_, 1, &r);
    sync();
  }

  void set_atoms(xcb_window_t w, const char* prop, xcb_atom_t type, const std::vector<uint32_t>& values) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(prop), type, 32, static_cast<uint32_t>(values.size()),
                        values.data());
    sync();
  }

  xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
  }

  // A window as a window manager leaves it, focused: a frame (340x270 at
  // 100,80) holding the client (320x240 at 10,25) with its frame extents.
  // Returns {frame, client}.
  std::pair<xcb_window_t, xcb_window_t> make_framed_client() {
    xcb_window_t frame = make_window(screen_->root, 100, 80, 340, 270);
    xcb_window_t client = make_window(frame, 10, 25, 320, 240);
    set_atoms(client, "WM_STATE", atom("WM_STATE"), {1, 0});
    set_atoms(client, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {10, 10, 25, 5});
    focus(client);
    return {frame, client};
  }

  void focus(xcb_window_t w) {
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
    sync();
  }

  // Waits until `done` holds for the received frames (under the lock).
  template <class Pred>
  bool wait_for(Pred done, std::chrono::milliseconds limit = 3000ms) {
    std::unique_lock<std::mutex> lock(rx_.m);
    return rx_.cv.wait_for(lock, limit, [&] { return done(rx_); });
  }

  // Whether the last frame shows `pattern` with `seed`, offset by (dx, dy)
  // relative to the content rectangle's origin.
  static bool shows_pattern(const Received& r, int dx, int dy, int w, int h, int seed) {
    if (r.rect.width() < dx + w || r.rect.height() < dy + h) return false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (r.pixels[static_cast<size_t>(y + dy) * r.rect.width() + x + dx] != pattern(x, y, seed)) return false;
    return true;
  }

  MonitorId monitor_under_pointer() {
    int32_t x, y;
    CaptureService* svc = g_app.capture.service;
    return svc->pointer_position(&x, &y) ? svc->monitor_from_point(x, y) : 0;
  }

  xcb_connection_t* c_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_gcontext_t gc_ = 0;
  std::vector<xcb_window_t> windows_;
  FakeUi ui_;
  Received rx_;
};

TEST_F(X11CaptureTest, MonitorCaptureReproducesPixelsExactly) {
  xcb_window_t cover = make_window(screen_->root, 0, 0, 1920, 1080);
  paint(cover, 1920, 1080, 1);
  ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
  ASSERT_EQ(g_handover.recording_starts, 1);
  EXPECT_EQ(g_handover.started_window, 0u);
  ASSERT_TRUE(capture_start(&g_app.capture, false, false));
  ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1; }));
  std::lock_guard<std::mutex> lock(rx_.m);
  EXPECT_EQ(rx_.rect.width(), 1920);
  EXPECT_EQ(rx_.rect.height(), 1080);
  EXPECT_TRUE(shows_pattern(rx_, 0, 0, 1920, 1080, 1));
}

TEST_F(X11CaptureTest, RegionCaptureCropsToTheRectangle) {
  xcb_window_t cover = make_window(screen_->root, 0, 0, 1920, 1080);
  fill(cover, 1920, 1080, 0x202020);
  xcb_window_t spot = make_window(screen_->root, 200, 150, 100, 60);
  paint(spot, 100, 60, 2);
  ASSERT_TRUE(start_region_capture(monitor_under_pointer(), Rect{200, 150, 300, 210}));
  ASSERT_TRUE(capture_start(&g_app.capture, false, false));
  ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1; }));
  std::lock_guard<std::mutex> lock(rx_.m);
  EXPECT_EQ(rx_.rect.left, 200);
  EXPECT_EQ(rx_.rect.top, 150);
  EXPECT_EQ(rx_.rect.width(), 100);
  EXPECT_EQ(rx_.rect.height(), 60);
  EXPECT_TRUE(shows_pattern(rx_, 0, 0, 100, 60, 2));
}

TEST_F(X11CaptureTest, FramesStopWhenNothingChangesAndResumeOnChange) {
  // A window target: only its own changes count, so other clients of the
  // display cannot disturb the still period.
  xcb_window_t win = make_window(screen_->root, 300, 200, 256, 192);
  focus(win);
  ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
  ASSERT_TRUE(capture_start(&g_app.capture, false, false));
  paint(win, 256, 192, 3);
  ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1 && shows_pattern(r, 0, 0, 256, 192, 3); }));
  // Let the start settle, then nothing may arrive while the window is still.
  std::this_thread::sleep_for(200ms);
  int settled = 0;
  {
    std::lock_guard<std::mutex> lock(rx_.m);
    settled = rx_.frames;
  }
  EXPECT_FALSE(wait_for([&](Received& r) { return r.frames > settled; }, 500ms));
  paint(win, 256, 192, 8);
  ASSERT_TRUE(wait_for([&](Received& r) { return r.frames > settled && shows_pattern(r, 0, 0, 256, 192, 8); }));
}

TEST_F(X11CaptureTest, CursorIsDrawnOnlyWhenAskedFor) {
  xcb_window_t cover = make_window(screen_->root, 0, 0, 1920, 1080);
  fill(cover, 1920, 1080, 0x00ff00);
  // The server's own cursor (the root cursor) sits at (300, 300).
  xcb_warp_pointer(c_, XCB_NONE, screen_->root, 0, 0, 0, 0, 300, 300);
  sync();
  auto differs_near_pointer = [](const Received& r) {
    for (int y = 280; y < 320; ++y)
      for (int x = 280; x < 320; ++x)
        if (r.pixels[static_cast<size_t>(y) * 1920 + x] != 0x00ff00) return true;
    return false;
  };
  for (bool cursor : {false, true}) {
    SCOPED_TRACE(cursor ? "cursor on" : "cursor off");
    capture_stop(&g_app.capture);
    {
      std::lock_guard<std::mutex> lock(rx_.m);
      rx_.frames = 0;
    }
    ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
    ASSERT_TRUE(capture_start(&g_app.capture, cursor, false));
    ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1; }));
    std::lock_guard<std::mutex> lock(rx_.m);
    EXPECT_EQ(differs_near_pointer(rx_), cursor);
  }
}

TEST_F(X11CaptureTest, CursorFollowsAMovedWindow) {
  // The window's position comes from its events; after a move the cursor
  // must still be drawn where the pointer is over the window.
  xcb_window_t win = make_window(screen_->root, 100, 80, 320, 240);
  fill(win, 320, 240, 0x00ff00);
  focus(win);
  g_app.config.OnlyClientArea = 0;
  ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
  ASSERT_TRUE(capture_start(&g_app.capture, true, false));
  // A picture of `colour` (so one taken after the step) with something else
  // drawn over the 12x12 square at (cx, cy).
  auto cursor_at = [](const Received& r, uint32_t colour, int cx, int cy) {
    if (r.rect.width() != 320 || r.rect.height() != 240 || r.pixels[0] != colour) return false;
    for (int y = cy; y < cy + 12; ++y)
      for (int x = cx; x < cx + 12; ++x)
        if (r.pixels[static_cast<size_t>(y) * 320 + x] != colour) return true;
    return false;
  };
  struct Step {
    int16_t win_x, win_y, pointer_x, pointer_y;
    uint32_t colour;
  };
  for (const Step& s : {Step{100, 80, 200, 150, 0x00ff00}, Step{700, 500, 800, 570, 0x0000ff}}) {
    SCOPED_TRACE(testing::Message() << "window at " << s.win_x << "," << s.win_y);
    uint32_t pos[] = {static_cast<uint32_t>(s.win_x), static_cast<uint32_t>(s.win_y)};
    xcb_configure_window(c_, win, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, pos);
    xcb_warp_pointer(c_, XCB_NONE, screen_->root, 0, 0, 0, 0, s.pointer_x, s.pointer_y);
    fill(win, 320, 240, s.colour);
    // The pointer is 100, 70 into the window both times.
    EXPECT_TRUE(wait_for([&](Received& r) { return cursor_at(r, s.colour, 94, 64); }));
  }
}

TEST_F(X11CaptureTest, CoveredWindowIsCapturedFromItsOwnContents) {
  xcb_window_t win = make_window(screen_->root, 100, 80, 320, 240);
  make_window(screen_->root, 150, 120, 200, 100);  // covers part of it
  focus(win);
  g_app.config.OnlyClientArea = 0;
  ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
  EXPECT_EQ(g_handover.started_window, win);
  ASSERT_TRUE(capture_start(&g_app.capture, false, false));
  paint(win, 320, 240, 4);  // as the application redraws
  ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1 && shows_pattern(r, 0, 0, 320, 240, 4); }));
  std::lock_guard<std::mutex> lock(rx_.m);
  EXPECT_EQ(rx_.rect.left, 0);
  EXPECT_EQ(rx_.rect.width(), 320);
  EXPECT_EQ(rx_.rect.height(), 240);
}

TEST_F(X11CaptureTest, ManagedWindowWithAndWithoutClientArea) {
  // A frame 340x270 with a 320x240 client at (10, 25), described the way a
  // window manager does: WM_STATE and _NET_FRAME_EXTENTS on the client.
  for (bool client_only : {false, true}) {
    SCOPED_TRACE(client_only ? "client area" : "whole frame");
    capture_stop(&g_app.capture);
    {
      std::lock_guard<std::mutex> lock(rx_.m);
      rx_.frames = 0;
    }
    const auto [frame, client] = make_framed_client();
    fill(frame, 340, 270, 0x3060c0);
    g_app.config.OnlyClientArea = client_only ? 1 : 0;
    ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
    EXPECT_EQ(g_handover.started_window, client);
    ASSERT_TRUE(capture_start(&g_app.capture, false, false));
    fill(frame, 340, 270, 0x3060c0);
    paint(client, 320, 240, 5);
    int dx = client_only ? 0 : 10, dy = client_only ? 0 : 25;
    ASSERT_TRUE(wait_for([&](Received& r) { return r.frames >= 1 && shows_pattern(r, dx, dy, 320, 240, 5); }));
    std::lock_guard<std::mutex> lock(rx_.m);
    if (client_only) {
      EXPECT_EQ(rx_.rect.left, 10);
      EXPECT_EQ(rx_.rect.top, 25);
      EXPECT_EQ(rx_.rect.width(), 320);
      EXPECT_EQ(rx_.rect.height(), 240);
    } else {
      EXPECT_EQ(rx_.rect.left, 0);
      EXPECT_EQ(rx_.rect.width(), 340);
      EXPECT_EQ(rx_.rect.height(), 270);
      EXPECT_EQ(rx_.pixels[0], 0x3060c0u);  // the frame is part of the picture
    }
  }
}

TEST_F(X11CaptureTest, ManagedWindowBoundsFollowMovesAndNewExtents) {
  // The crop follows the window's own events rather than questions per
  // frame: a moved frame, then a client moved inside it with new extents.
  for (bool client_only : {false, true}) {
    SCOPED_TRACE(client_only ? "client area" : "whole frame");
    capture_stop(&g_app.capture);
    const auto [frame, client] = make_framed_client();
    g_app.config.OnlyClientArea = client_only ? 1 : 0;
    ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
    ASSERT_TRUE(capture_start(&g_app.capture, false, false));

    uint32_t pos[] = {300, 200};
    xcb_configure_window(c_, frame, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, pos);
    sync();
    paint(client, 320, 240, 11);
    ASSERT_TRUE(wait_for([&](Received& r) {
      return client_only ? r.rect.left == 10 && r.rect.top == 25 && shows_pattern(r, 0, 0, 320, 240, 11)
                         : r.rect.left == 0 && r.rect.width() == 340 && shows_pattern(r, 10, 25, 320, 240, 11);
    }));

    // Redecorated: the client sits at (5, 15) and the frame is drawn 330x260.
    uint32_t inner[] = {5, 15};
    xcb_configure_window(c_, client, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, inner);
    set_atoms(client, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {5, 5, 15, 5});
    paint(client, 320, 240, 12);
    ASSERT_TRUE(wait_for([&](Received& r) {
      return client_only ? r.rect.left == 5 && r.rect.top == 15 && shows_pattern(r, 0, 0, 320, 240, 12)
                         : r.rect.left == 0 && r.rect.width() == 330 && r.rect.height() == 260 &&
                               shows_pattern(r, 5, 15, 320, 240, 12);
    }));
  }
}

TEST_F(X11CaptureTest, ResizedWindowIsFollowedAndDestroyedWindowReportsClosed) {
  xcb_window_t win = make_window(screen_->root, 100, 80, 320, 240);
  focus(win);
  g_app.config.OnlyClientArea = 0;
  ASSERT_TRUE(capture_by_mode(CAPTURE_WINDOW));
  ASSERT_TRUE(capture_start(&g_app.capture, false, false));
  paint(win, 320, 240, 6);
  ASSERT_TRUE(wait_for([](Received& r) { return r.frames >= 1 && shows_pattern(r, 0, 0, 320, 240, 6); }));

  uint32_t size[] = {400, 300};
  xcb_configure_window(c_, win, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
  sync();
  paint(win, 400, 300, 7);
  ASSERT_TRUE(wait_for([](Received& r) {
    return r.image_w == 400 && r.image_h == 300 && r.rect.width() == 400 && shows_pattern(r, 0, 0, 400, 300, 7);
  }));

  xcb_destroy_window(c_, win);
  sync();
  ASSERT_TRUE(wait_for([](Received& r) { return r.nulls == 1; }));
  capture_stop(&g_app.capture);
  capture_stop(&g_app.capture);
  EXPECT_EQ(g_app.capture.item, nullptr);
}

// What the root window says about a window manager.
enum class WindowManager { kAsItIs, kEnded, kRunning };

struct ForegroundCase {
  const char* name;
  const char* window_type;  // nullptr: none
  bool dialog;              // focus a dialog owned by the window
  bool focus_root;          // nothing focused
  const char* refusal;      // nullptr: the owner window is recorded
  WindowManager wm = WindowManager::kAsItIs;
};

TEST_F(X11CaptureTest, ForegroundWindowChoiceAndRefusals) {
  const ForegroundCase cases[] = {
      {"tool palette", "_NET_WM_WINDOW_TYPE_TOOLBAR", false, false, "Cannot capture toolbar window!"},
      {"utility window", "_NET_WM_WINDOW_TYPE_UTILITY", false, false, "Cannot capture toolbar window!"},
      {"normal window", "_NET_WM_WINDOW_TYPE_NORMAL", false, false, nullptr},
      {"dialog leads to its owner", nullptr, true, false, nullptr},
      {"nothing focused", nullptr, false, true, "No window is selected!"},
      // Its properties stay on the root window; the focus decides.
      {"window manager that ended", "_NET_WM_WINDOW_TYPE_NORMAL", false, false, nullptr, WindowManager::kEnded},
      {"running window manager names the active window", "_NET_WM_WINDOW_TYPE_NORMAL", false, true, nullptr,
       WindowManager::kRunning},
  };
  // The root window's own values come back afterwards.
  const char* wm_props[] = {"_NET_SUPPORTING_WM_CHECK", "_NET_ACTIVE_WINDOW"};
  std::vector<std::vector<uint32_t>> saved;
  for (const char* prop : wm_props) {
    xcb_get_property_reply_t* r =
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, screen_->root, atom(prop), XCB_ATOM_WINDOW, 0, 1), nullptr);
    std::vector<uint32_t> v;
    if (r != nullptr && r->format == 32 && xcb_get_property_value_length(r) >= 4)
      v.push_back(*static_cast<uint32_t*>(xcb_get_property_value(r)));
    free(r);
    saved.push_back(v);
  }
  const auto restore = [&] {
    for (size_t i = 0; i < saved.size(); ++i) {
      if (saved[i].empty())
        xcb_delete_property(c_, screen_->root, atom(wm_props[i]));
      else
        set_atoms(screen_->root, wm_props[i], XCB_ATOM_WINDOW, saved[i]);
    }
    sync();
  };
  for (const ForegroundCase& c : cases) {
    SCOPED_TRACE(c.name);
    capture_stop(&g_app.capture);
    g_handover = CaptureHandOver{};
    ui_.notes.clear();
    xcb_window_t win = make_window(screen_->root, 50, 50, 200, 150);
    if (c.window_type != nullptr) set_atoms(win, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(c.window_type)});
    xcb_window_t focused = win;
    if (c.dialog) {
      focused = make_window(screen_->root, 80, 80, 100, 60);
      set_atoms(focused, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, {win});
      set_atoms(focused, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom("_NET_WM_WINDOW_TYPE_DIALOG")});
    }
    if (c.wm == WindowManager::kEnded) {
      const xcb_window_t gone = make_window(screen_->root, 0, 0, 1, 1, false);
      xcb_destroy_window(c_, gone);
      set_atoms(screen_->root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {gone});
      set_atoms(screen_->root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {gone});
    } else if (c.wm == WindowManager::kRunning) {
      const xcb_window_t check = make_window(screen_->root, 0, 0, 1, 1, false);
      set_atoms(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
      set_atoms(screen_->root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
      set_atoms(screen_->root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {win});
    }
    if (c.focus_root) {
      xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_CURRENT_TIME);
      sync();
    } else {
      focus(focused);
    }
    bool started = capture_by_mode(CAPTURE_WINDOW);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(started);
      EXPECT_EQ(g_handover.started_window, win);
    } else {
      EXPECT_FALSE(started);
      ASSERT_EQ(ui_.notes.size(), 1u);
      EXPECT_EQ(ui_.notes[0].text, c.refusal);
      EXPECT_EQ(g_handover.devices_created, 0);
    }
    if (c.wm != WindowManager::kAsItIs) restore();
  }
}

TEST_F(X11CaptureTest, DisplayRateIsAFraction) {
  ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
  uint32_t num = 0, den = 0;
  // A virtual display may have no timing; when it has one it is sane.
  if (capture_display_rate(g_app.capture, &num, &den)) {
    EXPECT_GT(num, 0u);
    EXPECT_GT(den, 0u);
    EXPECT_LT(num / den, 1000u);
  }
}
}  // namespace

namespace {
// _NET_FRAME_EXTENTS comes from another client: values past any real
// decoration, or a frame outside the coordinate range, are refused.
TEST(X11FrameExtents, HostileValuesAreRefused) {
  const struct {
    uint32_t e[4];
    bool ok;
    int32_t want[4];
  } cases[] = {
      {{4, 4, 30, 4}, true, {96, 170, 504, 404}},
      {{0, 0, 0, 0}, true, {100, 200, 500, 400}},
      {{0xffffffffu, 0, 0, 0}, false, {}},
      {{0x80000000u, 0x80000000u, 0, 0}, false, {}},
      {{5000, 0, 0, 0}, false, {}},
      {{4096, 4096, 4096, 4096}, true, {-3996, -3896, 4596, 4496}},
  };
  for (const auto& c : cases) {
    int32_t out[4] = {};
    EXPECT_EQ(x11_frame_from_extents(100, 200, 500, 400, c.e, out), c.ok) << c.e[0];
    if (c.ok) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], c.want[i]);
    }
  }
  int32_t out[4];
  const uint32_t edge[4] = {0, 4000, 0, 0};
  EXPECT_FALSE(x11_frame_from_extents(30000, 0, 62000, 10, edge, out)) << "past the coordinate range";
}
}  // namespace
