#include "app/countdown.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/app_state.h"
#include "app/main_window.h"
#include "app/recording_canvas.h"
#include "app/shell_fakes.h"

namespace {
class CountdownTest : public ShellFakesTest {
 protected:
  void SetUp() override {
    ShellFakesTest::SetUp();
    g_app.config.StartDelaySec = 3;
    g_app.config.ShowStartCountdownOverlay = 1;
  }
};

TEST(CountdownLayoutTest, SizesAndGapsFollowTheSmallerSide) {
  const struct {
    int32_t w, h, digits, title, hint, title_bottom, hint_top;
  } cases[] = {
      // 540 - 25 - 180 and 540 + 180 + 20.
      {1920, 1080, 360, 51, 40, 335, 740},
      // Minimum heights and gaps: 300 - 18 - 100 and 300 + 100 + 18.
      {800, 600, 200, 28, 22, 182, 418},
      // Tiny: the digits never go below 72 pixels.
      {100, 100, 72, 28, 22, 50 - 18 - 36, 50 + 36 + 18},
  };
  for (const auto& c : cases) {
    const Rect rc{0, 0, c.w, c.h};
    const CountdownLayout l = countdown_layout(rc);
    EXPECT_EQ(l.digit_height, c.digits) << c.w;
    EXPECT_EQ(l.title_height, c.title) << c.w;
    EXPECT_EQ(l.hint_height, c.hint) << c.w;
    EXPECT_EQ(l.title_box.bottom, c.title_bottom) << c.w;
    EXPECT_EQ(l.title_box.top, 0) << c.w;
    EXPECT_EQ(l.hint_box.top, c.hint_top) << c.w;
    EXPECT_EQ(l.hint_box.bottom, c.h) << c.w;
    EXPECT_EQ(l.digit_font, (FontDesc{"Segoe UI", c.digits, 700}));
    EXPECT_EQ(l.title_font, (FontDesc{"Segoe UI", c.title, 700}));
    EXPECT_EQ(l.hint_font, (FontDesc{"Segoe UI", c.hint, 600}));
  }
}

// Without a compositor the overlay is a centred panel, not the monitor.
TEST(CountdownLayoutTest, PanelIsCentredAndHoldsTheLines) {
  const struct {
    Rect monitor, panel;
  } cases[] = {
      {{0, 0, 1920, 1080}, {555, 270, 1365, 810}},
      {{-1280, 200, 0, 1224}, {-1024, 456, -256, 968}},  // left of the primary, lower
      {{0, 0, 800, 600}, {175, 150, 625, 450}},
      {{0, 0, 300, 150}, {0, 0, 300, 150}},  // smaller than the minimum: the monitor
  };
  for (const auto& c : cases) {
    const Rect p = countdown_panel(c.monitor);
    EXPECT_EQ(std::make_tuple(p.left, p.top, p.right, p.bottom),
              std::make_tuple(c.panel.left, c.panel.top, c.panel.right, c.panel.bottom))
        << c.monitor.left << "," << c.monitor.top;
    // The hint line of the panel's layout still starts below the digits.
    const CountdownLayout l = countdown_layout(Rect{0, 0, p.width(), p.height()});
    if (p.width() >= 420) EXPECT_LT(l.hint_box.top + l.hint_height, p.height());
  }
}

TEST(CountdownPaint, BlackBackgroundTitleNumberAndHint) {
  RecordingCanvas c;
  const Rect rc{0, 0, 1920, 1080};
  paint_countdown(c, rc, 3);
  ASSERT_EQ(c.ops.size(), 4u);
  EXPECT_EQ(c.ops[0].kind, CanvasOp::kFill);
  EXPECT_EQ(c.ops[0].colour, (Rgb{0, 0, 0}));
  EXPECT_EQ(c.ops[0].rect.right, 1920);
  const struct {
    const char* text;
    Rgb colour;
    VAlign v;
    int32_t font, top, bottom;
  } texts[] = {
      {"Recording starts in", {255, 235, 96}, VAlign::kBottom, 51, 0, 335},
      {"3", {255, 255, 255}, VAlign::kCenter, 360, 0, 1080},
      {"Press capture hotkey again to cancel", {224, 224, 224}, VAlign::kTop, 40, 740, 1080},
  };
  for (const auto& t : texts) {
    const CanvasOp* op = c.find_text(t.text);
    ASSERT_NE(op, nullptr) << t.text;
    EXPECT_EQ(op->kind, CanvasOp::kTextIn);
    EXPECT_EQ(op->colour, t.colour) << t.text;
    EXPECT_EQ(op->h, HAlign::kCenter) << t.text;
    EXPECT_EQ(op->v, t.v) << t.text;
    EXPECT_EQ(op->font.height, t.font) << t.text;
    EXPECT_EQ(op->rect.top, t.top) << t.text;
    EXPECT_EQ(op->rect.bottom, t.bottom) << t.text;
  }
}

TEST(CountdownText, ModeNamesInTheTooltip) {
  EXPECT_EQ(countdown_tip(CAPTURE_WINDOW, 3), "Starting window capture in 3...");
  EXPECT_EQ(countdown_tip(CAPTURE_MONITOR, 2), "Starting monitor capture in 2...");
  EXPECT_EQ(countdown_tip(CAPTURE_REGION, 1), "Starting region capture in 1...");
  EXPECT_EQ(countdown_tip(9, 5), "Starting capture capture in 5...");
}

TEST_F(CountdownTest, CountsDownThenHidesTheOverlayBeforeTheCaptureStarts) {
  start_with_delay(CAPTURE_MONITOR);
  EXPECT_TRUE(countdown_pending());
  ASSERT_EQ(loop.timers_set.size(), 1u);
  EXPECT_EQ(loop.timers_set[0], (std::pair<uintptr_t, uint32_t>{TIMER_COUNTDOWN, 1000}));
  EXPECT_EQ(win.form, FakeShellWindow::kCountdown);
  EXPECT_EQ(win.shown_at.right, 1920);
  EXPECT_TRUE(countdown_overlay_visible());
  main_window_proc(WM_TIMER, TIMER_COUNTDOWN, 0);
  main_window_proc(WM_TIMER, TIMER_COUNTDOWN, 0);
  EXPECT_EQ(svc.monitor_opens, 0);
  main_window_proc(WM_TIMER, TIMER_COUNTDOWN, 0);
  EXPECT_EQ(ui.tips, (std::vector<std::string>{"Starting monitor capture in 3...", "Starting monitor capture in 2...",
                                               "Starting monitor capture in 1...", "Frelvanta"}));
  ASSERT_EQ(svc.monitor_opens, 1);
  EXPECT_EQ(svc.window_form_at_open[0], FakeShellWindow::kHidden);
  EXPECT_EQ(loop.timers_killed, (std::vector<uintptr_t>{TIMER_COUNTDOWN}));
  EXPECT_FALSE(countdown_pending());
}

TEST_F(CountdownTest, DelayIsCappedAtFiveAndZeroStartsAtOnce) {
  g_app.config.StartDelaySec = 9;
  start_with_delay(CAPTURE_MONITOR);
  EXPECT_EQ(g_app.countdown.countdown_remaining, 5u);
  end_countdown();

  SetUp();
  g_app.config.StartDelaySec = 0;
  loop.timers_set.clear();
  ui.tips.clear();
  start_with_delay(CAPTURE_MONITOR);
  EXPECT_EQ(svc.monitor_opens, 1);
  EXPECT_TRUE(loop.timers_set.empty());
  EXPECT_TRUE(ui.tips.empty());
  EXPECT_EQ(win.form, FakeShellWindow::kHidden);
}

TEST_F(CountdownTest, WithoutTheOverlayOnlyTheTooltipCounts) {
  g_app.config.ShowStartCountdownOverlay = 0;
  start_with_delay(CAPTURE_REGION);
  EXPECT_EQ(win.form, FakeShellWindow::kHidden);
  EXPECT_FALSE(countdown_overlay_visible());
  EXPECT_EQ(ui.tips.back(), "Starting region capture in 3...");
}

TEST_F(CountdownTest, WindowCaptureShowsTheOverlayOnTheForegroundWindowsMonitor) {
  svc.monitors.push_back({2, Rect{1920, 0, 3200, 1024}});
  svc.foreground = 77;
  svc.foreground_monitor = 2;
  start_with_delay(CAPTURE_WINDOW);
  EXPECT_EQ(win.shown_at.left, 1920);
  // Without a foreground window the pointer decides.
  end_countdown();
  svc.foreground = 0;
  start_with_delay(CAPTURE_WINDOW);
  EXPECT_EQ(win.shown_at.left, 0);
}

TEST_F(CountdownTest, CancelStopsTheTimerAndNothingStarts) {
  start_with_delay(CAPTURE_MONITOR);
  main_window_proc(WM_TIMER, TIMER_COUNTDOWN, 0);
  end_countdown();
  EXPECT_EQ(ui.tips.back(), "Frelvanta");
  EXPECT_EQ(win.form, FakeShellWindow::kHidden);
  EXPECT_EQ(loop.timers_killed, (std::vector<uintptr_t>{TIMER_COUNTDOWN}));
  // A tick already queued finds no countdown; a second cancel is a no-op.
  main_window_proc(WM_TIMER, TIMER_COUNTDOWN, 0);
  end_countdown();
  EXPECT_EQ(svc.monitor_opens, 0);
  EXPECT_EQ(ui.tips.back(), "Frelvanta");
  EXPECT_EQ(std::count(ui.tips.begin(), ui.tips.end(), "Frelvanta"), 1);
}
}  // namespace
