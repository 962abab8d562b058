// Target choice, refusals, crop rules and frame delivery against a scripted
// capture service.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/app_state.h"
#include "app/capture_request.h"
#include "capture/capture.h"
#include "capture/capture_fakes.h"
#include "capture/capture_service.h"

namespace {
class ScriptedSource : public CaptureSource {
 public:
  SourceSink* sink = nullptr;
  bool cursor = false;
  int stops = 0;
  bool* deleted = nullptr;
  std::vector<std::pair<int32_t, int32_t>> recreated;
  ~ScriptedSource() override {
    if (deleted) *deleted = true;
  }
  bool start(bool c, bool, SourceSink* s) override {
    cursor = c;
    sink = s;
    return true;
  }
  bool stop() override {
    ++stops;
    return !in_callback;
  }
  void recreate(int32_t w, int32_t h) override { recreated.push_back({w, h}); }
  bool in_callback = false;
};

class ScriptedService : public CaptureService {
 public:
  int32_t px = 0, py = 0;
  std::map<MonitorId, Rect> monitors;
  WindowId foreground = 0;
  std::map<WindowId, WindowId> parents;
  std::set<WindowId> tools;
  std::map<WindowId, Rect> bounds;
  int32_t surface_dx = 0, surface_dy = 0;  // surface origin relative to the bounds
  std::map<WindowId, Rect> clients;
  bool open_fails = false;
  int32_t open_w = 0, open_h = 0;
  ScriptedSource* last = nullptr;
  std::set<WindowId> excluded;     // display affinity set
  bool has_corners = false;        // windows have a corner preference
  uint32_t corners = 0;
  std::vector<uint32_t> corner_sets;

  bool pointer_position(int32_t* x, int32_t* y) override {
    *x = px;
    *y = py;
    return true;
  }
  MonitorId monitor_from_point(int32_t x, int32_t y) override {
    for (auto& [id, r] : monitors)
      if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return id;
    return 0;
  }
  bool monitor_rect(MonitorId m, Rect* r) override {
    auto it = monitors.find(m);
    if (it == monitors.end()) return false;
    *r = it->second;
    return true;
  }
  bool monitor_refresh_rate(MonitorId, uint32_t* num, uint32_t* den) override {
    *num = 60000;
    *den = 1001;
    return true;
  }
  MonitorId monitor_from_window(WindowId) override { return monitors.empty() ? 0 : monitors.begin()->first; }
  WindowId foreground_window() override { return foreground; }
  WindowId parent_window(WindowId w) override {
    auto it = parents.find(w);
    return it == parents.end() ? 0 : it->second;
  }
  bool is_tool_window(WindowId w) override { return tools.count(w) != 0; }
  bool frame_bounds(WindowId w, Rect* b, int32_t* sx, int32_t* sy) override {
    auto it = bounds.find(w);
    if (it == bounds.end()) return false;
    *b = it->second;
    *sx = b->left + surface_dx;
    *sy = b->top + surface_dy;
    return true;
  }
  bool client_rect(WindowId w, Rect* r) override {
    auto it = clients.find(w);
    if (it == clients.end()) return false;
    *r = it->second;
    return true;
  }
  uint32_t window_process_id(WindowId) override { return 4242; }
  bool excluded_from_capture(WindowId w) override { return excluded.count(w) != 0; }
  bool corner_preference(WindowId, uint32_t* v) override {
    if (has_corners) *v = corners;
    return has_corners;
  }
  bool set_corner_preference(WindowId, uint32_t v) override {
    if (has_corners) corner_sets.push_back(v);
    return has_corners;
  }
  CaptureSource* open_window(const CaptureDevice&, WindowId, int32_t* w, int32_t* h) override { return open(w, h); }
  CaptureSource* open_monitor(const CaptureDevice&, MonitorId m, int32_t* w, int32_t* h) override {
    open_w = monitors[m].width();
    open_h = monitors[m].height();
    return open(w, h);
  }

 private:
  CaptureSource* open(int32_t* w, int32_t* h) {
    if (open_fails) return nullptr;
    *w = open_w;
    *h = open_h;
    last = new ScriptedSource();
    return last;
  }
};

class CaptureTargetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_handover = CaptureHandOver{};
    g_ui_service = &ui_;
    g_app.capture.service = &svc_;
    svc_.monitors[7] = Rect{0, 0, 1920, 1080};
    svc_.monitors[8] = Rect{1920, 0, 3200, 1024};
  }
  void TearDown() override {
    capture_stop(&g_app.capture);
    g_app.capture.service = nullptr;
    g_ui_service = nullptr;
  }
  ScriptedService svc_;
  FakeUi ui_;
};

struct RefusalCase {
  const char* name;
  CaptureMode mode;
  WindowId foreground;
  bool tool;
  bool open_fails;
  int32_t pointer_x;
  const char* text;     // nullptr: no notification, recording started
  const char* caption;
};

TEST_F(CaptureTargetsTest, RequestsAreRefusedWithTheirNotification) {
  const RefusalCase cases[] = {
      {"no foreground window", CAPTURE_WINDOW, 0, false, false, 10, "No window is selected!", "Cannot Start Recording"},
      {"tool window", CAPTURE_WINDOW, 5, true, false, 10, "Cannot capture toolbar window!", "Cannot Start Recording"},
      {"window cannot be opened", CAPTURE_WINDOW, 5, false, true, 10, "Cannot record selected window!", "Error"},
      {"window recorded", CAPTURE_WINDOW, 5, false, false, 10, nullptr, nullptr},
      {"pointer off every monitor", CAPTURE_MONITOR, 0, false, false, -5, "Unknown monitor!", "Cannot Start Recording"},
      {"monitor cannot be opened", CAPTURE_MONITOR, 0, false, true, 10, "Cannot record selected monitor!", "Error"},
      {"monitor recorded", CAPTURE_MONITOR, 0, false, false, 10, nullptr, nullptr},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    capture_stop(&g_app.capture);
    g_handover = CaptureHandOver{};
    ui_.notes.clear();
    svc_.foreground = c.foreground;
    svc_.tools.clear();
    if (c.tool) svc_.tools.insert(c.foreground);
    svc_.open_fails = c.open_fails;
    svc_.open_w = 640;
    svc_.open_h = 480;
    svc_.bounds[5] = Rect{100, 100, 740, 580};
    svc_.clients[5] = Rect{100, 100, 740, 580};
    svc_.px = c.pointer_x;
    svc_.py = 10;
    bool started = capture_by_mode(c.mode);
    EXPECT_EQ(g_app.capture_request_active, 0u);
    if (c.text == nullptr) {
      EXPECT_TRUE(started);
      EXPECT_TRUE(ui_.notes.empty());
      EXPECT_EQ(g_handover.recording_starts, 1);
      EXPECT_TRUE(g_handover.had_device);
      EXPECT_EQ(g_handover.request_active_during_start, 1u);
      EXPECT_NE(g_app.capture.item, nullptr);
    } else {
      EXPECT_FALSE(started);
      ASSERT_EQ(ui_.notes.size(), 1u);
      EXPECT_EQ(ui_.notes[0].text, c.text);
      EXPECT_EQ(ui_.notes[0].caption, c.caption);
      EXPECT_EQ(ui_.notes[0].kind, NOTIFY_WARNING);
      EXPECT_EQ(g_handover.recording_starts, 0);
      // A refusal leaves no target and no device behind.
      EXPECT_EQ(g_app.capture.item, nullptr);
      EXPECT_EQ(g_app.capture.device, nullptr);
    }
  }
}

TEST_F(CaptureTargetsTest, RefusalsComeBeforeTheDevice) {
  svc_.foreground = 5;
  svc_.tools.insert(5);
  capture_by_mode(CAPTURE_WINDOW);
  EXPECT_EQ(g_handover.devices_created, 0);
  // A window kept out of captures is refused before the tool-window check.
  svc_.excluded.insert(5);
  ui_.notes.clear();
  EXPECT_FALSE(capture_by_mode(CAPTURE_WINDOW));
  ASSERT_EQ(ui_.notes.size(), 1u);
  EXPECT_EQ(ui_.notes[0].text, "Window is excluded from capture!");
  EXPECT_EQ(ui_.notes[0].caption, "Cannot Start Recording");
  EXPECT_EQ(g_handover.devices_created, 0);
  svc_.excluded.clear();
  // A failed device is reported by device selection; nothing is added here.
  svc_.tools.clear();
  g_handover.device_fails = true;
  ui_.notes.clear();
  EXPECT_FALSE(capture_by_mode(CAPTURE_WINDOW));
  EXPECT_TRUE(ui_.notes.empty());
  EXPECT_EQ(g_app.capture.item, nullptr);
}

TEST_F(CaptureTargetsTest, FocusedDialogLeadsToItsTopLevelOwner) {
  svc_.foreground = 30;             // a control inside a dialog
  svc_.parents = {{30, 20}, {20, 10}};  // dialog 20 is owned by the main window 10
  svc_.tools.insert(30);            // only the window reached at the top counts
  svc_.bounds[10] = Rect{0, 0, 800, 600};
  svc_.clients[10] = Rect{0, 0, 800, 600};
  svc_.open_w = 800;
  svc_.open_h = 600;
  EXPECT_TRUE(capture_by_mode(CAPTURE_WINDOW));
  EXPECT_EQ(g_handover.started_window, 10u);
  EXPECT_EQ(g_app.capture.window, 10u);
}

TEST_F(CaptureTargetsTest, OwnerCycleDoesNotHang) {
  svc_.foreground = 1;
  svc_.parents = {{1, 2}, {2, 1}};
  svc_.bounds[1] = svc_.bounds[2] = Rect{0, 0, 100, 100};
  svc_.clients[1] = svc_.clients[2] = Rect{0, 0, 100, 100};
  svc_.open_w = svc_.open_h = 100;
  EXPECT_TRUE(capture_by_mode(CAPTURE_WINDOW));
}

TEST_F(CaptureTargetsTest, RegionModeOpensTheOverlayOnly) {
  EXPECT_TRUE(capture_by_mode(CAPTURE_REGION));
  EXPECT_EQ(g_handover.overlays, 1);
  EXPECT_EQ(g_handover.recording_starts, 0);
  EXPECT_FALSE(capture_by_mode(static_cast<CaptureMode>(9)));
}

TEST_F(CaptureTargetsTest, RegionCropsTheMonitor) {
  EXPECT_TRUE(start_region_capture(8, Rect{200, 150, 300, 210}));
  const Capture& c = g_app.capture;
  EXPECT_EQ(c.window, 0u);
  EXPECT_EQ(c.crop.left, 200);
  EXPECT_EQ(c.crop.bottom, 210);
  EXPECT_EQ(c.pool_width, 1280);
  EXPECT_EQ(c.pool_height, 1024);
  EXPECT_EQ(g_handover.started_window, 0u);
  uint32_t num = 0, den = 0;
  EXPECT_TRUE(capture_display_rate(c, &num, &den));
  EXPECT_EQ(num, 60000u);
  EXPECT_EQ(den, 1001u);

  // A selection reaching beyond the monitor is cut to it; one wholly outside is refused.
  capture_stop(&g_app.capture);
  EXPECT_TRUE(start_region_capture(8, Rect{1200, 1000, 1400, 1100}));
  EXPECT_EQ(g_app.capture.crop.right, 1280);
  EXPECT_EQ(g_app.capture.crop.bottom, 1024);
  capture_stop(&g_app.capture);
  ui_.notes.clear();
  EXPECT_FALSE(start_region_capture(8, Rect{1300, 0, 1400, 10}));
  ASSERT_EQ(ui_.notes.size(), 1u);
  EXPECT_EQ(ui_.notes[0].text, "Cannot record monitor!");
}

struct CropCase {
  const char* name;
  bool client_only;
  Rect bounds, client;
  int32_t w, h;
  Rect want;
};

TEST_F(CaptureTargetsTest, WindowCropRules) {
  const CropCase cases[] = {
      {"whole visible frame, not clamped to the frame size", false, {100, 50, 900, 650}, {110, 80, 890, 640}, 700, 500,
       {0, 0, 800, 600}},
      {"client area below a title bar", true, {100, 50, 900, 650}, {110, 80, 890, 640}, 800, 600, {10, 30, 790, 590}},
      {"client area cut to the frame", true, {100, 50, 900, 650}, {110, 80, 890, 640}, 500, 400, {10, 30, 500, 400}},
      {"client origin left of and above the frame", true, {100, 50, 900, 650}, {90, 40, 890, 640}, 800, 600,
       {0, 0, 800, 600}},
      {"client origin beyond the frame", true, {100, 50, 900, 650}, {1000, 700, 1100, 800}, 800, 600,
       {900, 650, 900, 650}},
  };
  for (const CropCase& c : cases) {
    SCOPED_TRACE(c.name);
    Capture cap;
    cap.service = &svc_;
    cap.window = 3;
    cap.client_area_only = c.client_only ? 1 : 0;
    svc_.bounds[3] = c.bounds;
    svc_.clients[3] = c.client;
    Rect r = target_crop_rect(cap, c.w, c.h);
    EXPECT_EQ(r.left, c.want.left);
    EXPECT_EQ(r.top, c.want.top);
    EXPECT_EQ(r.right, c.want.right);
    EXPECT_EQ(r.bottom, c.want.bottom);
  }
  // No bounds (window hidden): empty, so such frames are dropped.
  Capture cap;
  cap.service = &svc_;
  cap.window = 99;
  EXPECT_TRUE(target_crop_rect(cap, 100, 100).empty());
  // Monitor and region: the stored crop.
  cap.window = 0;
  cap.crop = Rect{1, 2, 3, 4};
  EXPECT_EQ(target_crop_rect(cap, 100, 100).right, 3);
}

// Frames reaching the handler, as the session passes them on.
struct Delivered {
  int frames = 0, nulls = 0;
  Rect rect;
  bool keep = true;
};
Delivered g_delivered;

bool record_frame(Capture*, const CapturedFrame* f) {
  if (f == nullptr) {
    ++g_delivered.nulls;
    return true;
  }
  ++g_delivered.frames;
  g_delivered.rect = f->content_rect;
  return g_delivered.keep;
}

TEST_F(CaptureTargetsTest, SessionCropsRecreatesAndStops) {
  g_delivered = Delivered{};
  svc_.bounds[5] = Rect{0, 0, 640, 480};
  svc_.clients[5] = Rect{0, 0, 640, 480};
  svc_.open_w = 640;
  svc_.open_h = 480;
  ASSERT_TRUE(open_window_target(std::make_shared<CaptureDevice>(), 5, false, false));
  Capture& c = g_app.capture;
  c.on_frame = record_frame;
  ASSERT_TRUE(capture_start(&c, true, true));
  ScriptedSource* src = svc_.last;
  ASSERT_NE(src->sink, nullptr);
  EXPECT_TRUE(src->cursor);

  static uint8_t pixels[800 * 600 * 4];
  SourceFrame f;
  f.image = BgraImage{pixels, 640, 480, 640 * 4};
  f.content_width = 640;
  f.content_height = 480;
  src->sink->frame_arrived(f);
  EXPECT_EQ(g_delivered.frames, 1);
  EXPECT_TRUE(src->recreated.empty());

  // The window grew: the frame still has the old size and is cut to it;
  // the buffers are then re-created for the new size.
  svc_.bounds[5] = Rect{0, 0, 800, 600};
  f.content_width = 800;
  f.content_height = 600;
  src->sink->frame_arrived(f);
  EXPECT_EQ(g_delivered.frames, 2);
  EXPECT_EQ(g_delivered.rect.right, 640);
  EXPECT_EQ(g_delivered.rect.bottom, 480);
  ASSERT_EQ(src->recreated.size(), 1u);
  EXPECT_EQ(src->recreated[0], std::make_pair(800, 600));
  EXPECT_EQ(c.pool_width, 800);

  // A window that is not shown has no bounds: the frame is dropped.
  svc_.bounds.erase(5);
  src->sink->frame_arrived(f);
  EXPECT_EQ(g_delivered.frames, 2);

  src->sink->closed();
  EXPECT_EQ(g_delivered.nulls, 1);

  // The handler asks to stop from inside its callback: delivery ends, the
  // source is released by the next stop from outside.
  svc_.bounds[5] = Rect{0, 0, 800, 600};
  g_delivered.keep = false;
  bool deleted = false;
  src->deleted = &deleted;
  src->in_callback = true;
  f.image = BgraImage{pixels, 800, 600, 800 * 4};
  src->sink->frame_arrived(f);
  EXPECT_EQ(src->stops, 1);
  EXPECT_FALSE(deleted);
  EXPECT_FALSE(c.session);
  src->in_callback = false;
  capture_stop(&c);
  EXPECT_TRUE(deleted);
  EXPECT_EQ(c.item, nullptr);
  EXPECT_EQ(c.device, nullptr);
  capture_stop(&c);  // twice: nothing more happens
}
}  // namespace

namespace {
// KeepRoundedWindowCorners off: the corners are squared at open and the
// saved preference comes back at every stop; without the preference (or
// with the setting on) nothing is touched.
TEST_F(CaptureTargetsTest, CornerPreferenceIsSquaredAndRestored) {
  svc_.open_w = 640;
  svc_.open_h = 480;
  svc_.bounds[5] = Rect{100, 100, 740, 580};
  const struct {
    bool has_corners;
    bool no_rounding;
    std::vector<uint32_t> sets;
  } cases[] = {
      {true, true, {1, 2, 2}},
      {true, false, {}},
      {false, true, {}},
  };
  for (const auto& k : cases) {
    svc_.has_corners = k.has_corners;
    svc_.corners = 2;
    svc_.corner_sets.clear();
    ASSERT_TRUE(open_window_target(std::make_shared<CaptureDevice>(), 5, false, k.no_rounding));
    EXPECT_EQ(g_app.capture.restore_corners, k.sets.empty() ? 0 : 1);
    capture_stop(&g_app.capture);
    capture_stop(&g_app.capture);
    EXPECT_EQ(svc_.corner_sets, k.sets);
  }
}
}  // namespace
