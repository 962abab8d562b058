#pragma once
// Fakes for the shell's window, capture service, UI service and loop, so the
// overlay and countdown logic runs without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app_state.h"
#include "app/main_window.h"
#include "core/message_loop.h"
#include "app/shell_window.h"
#include "core/ui_service.h"
#include "capture/capture_service.h"
#include "support/fake_ui.h"

struct FakeShellWindow final : ShellWindow {
  enum Form { kHidden, kOverlay, kCountdown, kFrame } form = kHidden;
  Rect shown_at;
  ShellCursor cursor = ShellCursor::kArrow;
  bool captured = false;
  int32_t mouse_x = -1000, mouse_y = -1000;
  int invalidations = 0;
  void show_overlay(const Rect& r) override { form = kOverlay, shown_at = r; }
  void show_countdown(const Rect& r) override { form = kCountdown, shown_at = r; }
  void show_region_frame(const Rect& r) override { form = kFrame, shown_at = r; }
  void hide() override { form = kHidden; }
  void invalidate() override { ++invalidations; }
  void set_cursor(ShellCursor c) override { cursor = c; }
  void set_mouse_capture(bool on) override { captured = on; }
  bool cursor_position(int32_t* x, int32_t* y) override {
    *x = mouse_x;
    *y = mouse_y;
    return true;
  }
};

// One or two monitors side by side; the second (if any) left of the first.
struct FakeCaptureService final : CaptureService {
  struct Monitor {
    MonitorId id;
    Rect rect;
  };
  std::vector<Monitor> monitors{{1, Rect{0, 0, 1920, 1080}}};
  int32_t px = 500, py = 400;
  WindowId foreground = 0;
  MonitorId foreground_monitor = 0;
  bool grab_fails = false;
  uint8_t grey = 200;  // every byte of the grabbed picture's colour channels
  int monitor_opens = 0;
  // What the window showed when a target was opened.
  FakeShellWindow* window = nullptr;
  std::vector<int> window_form_at_open;

  bool pointer_position(int32_t* x, int32_t* y) override {
    *x = px;
    *y = py;
    return true;
  }
  MonitorId monitor_from_point(int32_t x, int32_t y) override {
    for (const Monitor& m : monitors)
      if (x >= m.rect.left && x < m.rect.right && y >= m.rect.top && y < m.rect.bottom) return m.id;
    return 0;
  }
  bool monitor_rect(MonitorId id, Rect* r) override {
    for (const Monitor& m : monitors)
      if (m.id == id) return *r = m.rect, true;
    return false;
  }
  bool monitor_refresh_rate(MonitorId, uint32_t*, uint32_t*) override { return false; }
  MonitorId monitor_from_window(WindowId w) override { return w == foreground ? foreground_monitor : 0; }
  WindowId foreground_window() override { return foreground; }
  WindowId parent_window(WindowId) override { return 0; }
  bool is_tool_window(WindowId) override { return false; }
  bool frame_bounds(WindowId, Rect*, int32_t*, int32_t*) override { return false; }
  bool client_rect(WindowId, Rect*) override { return false; }
  uint32_t window_process_id(WindowId) override { return 0; }
  CaptureSource* open_window(const CaptureDevice&, WindowId, int32_t*, int32_t*) override { return nullptr; }
  // Counts the attempt and refuses it: enough to see that a capture started.
  CaptureSource* open_monitor(const CaptureDevice&, MonitorId, int32_t*, int32_t*) override {
    ++monitor_opens;
    if (window) window_form_at_open.push_back(window->form);
    return nullptr;
  }
  bool grab_monitor(MonitorId id, std::vector<uint8_t>* pixels, int32_t* w, int32_t* h) override {
    Rect r;
    if (grab_fails || !monitor_rect(id, &r)) return false;
    *w = r.width();
    *h = r.height();
    pixels->assign(static_cast<size_t>(*w) * *h * 4, grey);
    return true;
  }
};

struct TimerLoop final : MessageLoop {
  std::vector<uint32_t> posted;
  std::vector<std::pair<uintptr_t, uint32_t>> timers_set;
  std::vector<uintptr_t> timers_killed;
  int quits = 0;
  void post(uint32_t msg, uintptr_t, intptr_t) override { posted.push_back(msg); }
  void set_timer(uintptr_t id, uint32_t ms) override { timers_set.push_back({id, ms}); }
  void kill_timer(uintptr_t id) override { timers_killed.push_back(id); }
  void quit() override { ++quits; }
  void run() override {}
};

// The shell's windows on fakes: a fresh state block, the fake window behind
// the capture service and the shell, the recording UI and the timer loop.
class ShellFakesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    main_window_reset();
    svc.window = &win;
    g_app.capture.service = &svc;
    g_shell_window = &win;
    g_ui_service = &ui;
    g_app.main_window = &loop;
  }
  void TearDown() override {
    g_shell_window = nullptr;
    g_ui_service = nullptr;
    app_reset();
  }
  FakeShellWindow win;
  FakeCaptureService svc;
  FakeUi ui;
  TimerLoop loop;
};
