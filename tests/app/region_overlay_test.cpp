#include "app/region_overlay.h"

#include <gtest/gtest.h>

#include <string>

#include "app/countdown.h"
#include "core/app_state.h"
#include "app/main_window.h"
#include "app/recording_canvas.h"
#include "app/shell_fakes.h"

namespace {
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kGrey{192, 192, 192};

class RegionOverlayTest : public ShellFakesTest {
 protected:
  void open() { ASSERT_TRUE(open_region_overlay()); }
  void drag(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    region_mouse_down(x0, y0);
    region_mouse_move((x0 + x1) / 2, (y0 + y1) / 2, true);
    region_mouse_move(x1, y1, true);
    region_mouse_up();
  }
  Rect selection() const {
    const int32_t* s = g_app.overlay.selection;
    return Rect{s[0], s[1], s[2], s[3]};
  }
  RecordingCanvas paint() {
    RecordingCanvas c;
    paint_region_overlay(c, Rect{0, 0, g_app.overlay.overlay_width, g_app.overlay.overlay_height});
    return c;
  }
};

void expect_rect(const Rect& r, int32_t l, int32_t t, int32_t rr, int32_t b) {
  EXPECT_EQ(r.left, l);
  EXPECT_EQ(r.top, t);
  EXPECT_EQ(r.right, rr);
  EXPECT_EQ(r.bottom, b);
}

TEST(RegionEven, RoundsAwayFromZeroToEven) {
  const struct { int32_t in, out; } cases[] = {{3, 4}, {2, 2}, {1, 2}, {0, 0}, {-1, -2}, {-2, -2}, {-3, -4}, {51, 52}};
  for (const auto& c : cases) EXPECT_EQ(even(c.in), c.out) << c.in;
}

TEST(RegionHitTest, ZonesAroundTheRectangle) {
  RegionOverlay o;
  // Given in any corner order: the test normalises.
  o.selection[0] = 200, o.selection[1] = 180, o.selection[2] = 100, o.selection[3] = 100;
  const struct { int32_t x, y; int zone; } cases[] = {
      {100, 100, 1}, {96, 96, 1},   {103, 103, 1}, {95, 95, 0},   {104, 104, 5}, {199, 100, 3},
      {203, 96, 3},  {204, 100, 0}, {150, 100, 2}, {150, 96, 2},  {150, 95, 0},  {150, 103, 2},
      {150, 180, 8}, {150, 183, 8}, {150, 184, 0}, {100, 150, 4}, {96, 150, 4},  {95, 150, 0},
      {200, 150, 6}, {203, 150, 6}, {204, 150, 0}, {96, 180, 7},  {200, 180, 9}, {203, 183, 9},
      {204, 184, 0}, {150, 150, 5}, {0, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(region_hit_test(o, c.x, c.y), c.zone) << c.x << "," << c.y;
}

TEST(RegionHitTest, EachZoneHasItsCursor) {
  const ShellCursor want[10] = {ShellCursor::kCross,   ShellCursor::kSizeNWSE, ShellCursor::kSizeNS,
                                ShellCursor::kSizeNESW, ShellCursor::kSizeWE,  ShellCursor::kSizeAll,
                                ShellCursor::kSizeWE,  ShellCursor::kSizeNESW, ShellCursor::kSizeNS,
                                ShellCursor::kSizeNWSE};
  for (int zone = 0; zone < 10; ++zone) EXPECT_EQ(region_cursor(zone), want[zone]) << zone;
}

TEST_F(RegionOverlayTest, OpensOnTheMonitorUnderThePointerWithADimmedCopy) {
  svc.monitors.push_back({2, Rect{-1280, 0, 0, 1024}});
  svc.px = -100, svc.py = 50;
  g_app.overlay.selection[0] = 7;  // an earlier selection stays until the first click
  open();
  EXPECT_TRUE(region_overlay_open());
  EXPECT_EQ(win.form, FakeShellWindow::kOverlay);
  expect_rect(win.shown_at, -1280, 0, 0, 1024);
  EXPECT_EQ(win.cursor, ShellCursor::kCross);
  EXPECT_EQ(g_app.overlay.overlay_monitor, 2u);
  EXPECT_EQ(g_app.overlay.overlay_width, 1280);
  EXPECT_EQ(g_app.overlay.overlay_height, 1024);
  EXPECT_EQ(g_app.overlay.selection[0], 7);
  EXPECT_FALSE(g_app.overlay.selection_exists);
  // 64/255 of the brightness: 200 becomes 50.
  const Picture& dim = g_app.overlay.overlay_dim;
  ASSERT_EQ(dim.width, 1280);
  EXPECT_EQ(dim.pixels[0], 50);
  EXPECT_EQ(dim.pixels[dim.pixels.size() - 2], 50);
  EXPECT_EQ(g_app.overlay.overlay_screen.pixels[0], 200);
}

TEST_F(RegionOverlayTest, SetUpFailuresWarnAndLeaveItClosed) {
  svc.px = 5000;
  EXPECT_FALSE(open_region_overlay());
  svc.px = 10;
  svc.grab_fails = true;
  EXPECT_FALSE(open_region_overlay());
  ASSERT_EQ(ui.notes.size(), 2u);
  EXPECT_EQ(ui.notes[0].text, "Unknown monitor!");
  EXPECT_EQ(ui.notes[1].text, "Error getting HDC of monitor!");
  for (const auto& n : ui.notes) {
    EXPECT_EQ(n.caption, "Cannot Start Recording");
    EXPECT_EQ(n.kind, NOTIFY_WARNING);
  }
  EXPECT_FALSE(region_overlay_open());
  EXPECT_EQ(win.form, FakeShellWindow::kHidden);
}

TEST_F(RegionOverlayTest, DragGivesAnEvenRectangleAtLeastAsLargeAsTheMouseDistance) {
  open();
  drag(100, 100, 151, 140);
  EXPECT_TRUE(g_app.overlay.selection_exists);
  expect_rect(selection(), 100, 100, 152, 140);
  EXPECT_FALSE(win.captured);
  RecordingCanvas c = paint();
  const CanvasOp* label = c.find_text("52 x 40");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->x, 152);
  EXPECT_EQ(label->y, 140);
  EXPECT_EQ(label->h, HAlign::kRight);
  EXPECT_EQ(label->v, VAlign::kTop);
  EXPECT_EQ(label->font.weight, 700);
}

TEST_F(RegionOverlayTest, DragUpAndLeftIsNormalisedOnRelease) {
  open();
  region_mouse_down(100, 100);
  EXPECT_TRUE(win.captured);
  region_mouse_move(91, 97, true);
  expect_rect(selection(), 100, 100, 90, 96);
  region_mouse_up();
  expect_rect(selection(), 90, 96, 100, 100);
}

TEST_F(RegionOverlayTest, AClickWithoutDraggingMakesNoRectangle) {
  open();
  drag(100, 100, 100, 100);
  EXPECT_FALSE(g_app.overlay.selection_exists);
  // A drag along one axis only has no area either.
  drag(100, 100, 180, 100);
  EXPECT_FALSE(g_app.overlay.selection_exists);
  RecordingCanvas c = paint();
  EXPECT_NE(c.find_text("Press ESC to cancel."), nullptr);
}

TEST_F(RegionOverlayTest, HandlesMoveAndResize) {
  struct Case {
    const char* what;
    int32_t down_x, down_y, to_x, to_y;
    Rect want;
  };
  const Case cases[] = {
      {"inside moves, even off the monitor", 120, 120, -20, 130, {-40, 110, 12, 150}},
      {"right side", 152, 120, 171, 125, {100, 100, 172, 140}},
      {"left side", 100, 120, 81, 200, {80, 100, 152, 140}},
      {"bottom side", 120, 140, 300, 161, {100, 100, 152, 162}},
      {"top-left corner", 100, 100, 81, 91, {80, 90, 152, 140}},
      {"bottom-right corner", 152, 140, 201, 171, {100, 100, 202, 172}},
  };
  for (const Case& c : cases) {
    SetUp();
    open();
    drag(100, 100, 151, 140);
    drag(c.down_x, c.down_y, c.to_x, c.to_y);
    const Rect r = selection();
    EXPECT_EQ(r.left, c.want.left) << c.what;
    EXPECT_EQ(r.top, c.want.top) << c.what;
    EXPECT_EQ(r.right, c.want.right) << c.what;
    EXPECT_EQ(r.bottom, c.want.bottom) << c.what;
    EXPECT_EQ(r.width() % 2, 0) << c.what;
    EXPECT_EQ(r.height() % 2, 0) << c.what;
  }
}

TEST_F(RegionOverlayTest, HelpBoxIsCentredWithoutARectangle) {
  open();
  RecordingCanvas c = paint();
  ASSERT_GE(c.ops.size(), 5u);
  EXPECT_EQ(c.ops[0].kind, CanvasOp::kBlit);
  EXPECT_EQ(c.ops[0].picture, &g_app.overlay.overlay_dim);
  const std::string line1 = "Select region with the mouse and press ENTER to start capture.";
  // Recording metrics: 8 pixels a character, 20 a line at the 16-pixel font.
  const int32_t w = static_cast<int32_t>(line1.size()) * 8, box_w = w + 40, box_h = 60;
  const Rect box{(1920 - box_w) / 2, (1080 - box_h) / 2, (1920 - box_w) / 2 + box_w, (1080 - box_h) / 2 + box_h};
  EXPECT_EQ(c.ops[1].kind, CanvasOp::kFill);
  EXPECT_EQ(c.ops[1].colour, (Rgb{0, 0, 128}));
  expect_rect(c.ops[1].rect, box.left, box.top, box.right, box.bottom);
  EXPECT_EQ(c.ops[2].kind, CanvasOp::kFrame);
  EXPECT_EQ(c.ops[2].colour, kWhite);
  expect_rect(c.ops[2].rect, box.left, box.top, box.right, box.bottom);
  const CanvasOp* first = c.find_text(line1);
  const CanvasOp* second = c.find_text("Press ESC to cancel.");
  ASSERT_TRUE(first && second);
  for (const CanvasOp* t : {first, second}) {
    EXPECT_EQ(t->x, 960);
    EXPECT_EQ(t->h, HAlign::kCenter);
    EXPECT_EQ(t->v, VAlign::kTop);
    EXPECT_EQ(t->colour, (Rgb{255, 255, 0}));
    EXPECT_EQ(t->font, (FontDesc{"Segoe UI", 16, 400}));
  }
  EXPECT_EQ(first->y, box.top + 10);
  EXPECT_EQ(second->y, box.top + 30);
}

TEST_F(RegionOverlayTest, RectangleOutlineCaptionAndPresetLabels) {
  open();
  drag(100, 100, 151, 140);
  win.mouse_x = 250, win.mouse_y = 90;  // over the second label
  RecordingCanvas c = paint();
  EXPECT_EQ(c.ops[1].kind, CanvasOp::kBlit);
  EXPECT_EQ(c.ops[1].picture, &g_app.overlay.overlay_screen);
  expect_rect(c.ops[1].rect, 100, 100, 152, 140);
  EXPECT_EQ(c.ops[2].kind, CanvasOp::kFrame);
  expect_rect(c.ops[2].rect, 99, 99, 153, 141);
  const CanvasOp* caption = c.find_text("Resize:  ");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->x, 100);
  EXPECT_EQ(caption->y, 100);
  EXPECT_EQ(caption->v, VAlign::kBottom);
  EXPECT_EQ(caption->font.weight, 700);
  // Labels follow the 72-pixel caption on one line, each as wide as its text.
  const struct { const char* text; int32_t x; bool hover; } labels[] = {
      {"800x600  ", 172, false}, {"1280x720  ", 244, true}, {"1920x1080  ", 324, false}, {"2560x1440  ", 412, false}};
  for (const auto& l : labels) {
    const CanvasOp* op = c.find_text(l.text);
    ASSERT_NE(op, nullptr) << l.text;
    EXPECT_EQ(op->x, l.x) << l.text;
    EXPECT_EQ(op->y, 100) << l.text;
    EXPECT_EQ(op->v, VAlign::kBottom) << l.text;
    EXPECT_EQ(op->font.weight, 400) << l.text;
    EXPECT_EQ(op->colour, l.hover ? kWhite : kGrey) << l.text;
  }
  EXPECT_EQ(g_app.overlay.hover_preset[0], 1280);
  EXPECT_EQ(g_app.overlay.hover_preset[1], 720);
  EXPECT_EQ(win.cursor, ShellCursor::kHand);

  win.mouse_x = 700;
  paint();
  EXPECT_EQ(g_app.overlay.hover_preset[0], 0);
}

TEST_F(RegionOverlayTest, PresetClickKeepsTheTopLeftCornerAndIgnoresItsRelease) {
  open();
  drag(200, 150, 261, 191);
  win.mouse_x = 350, win.mouse_y = 140;  // "1280x720  " spans 344..424 above y 150
  paint();
  ASSERT_EQ(g_app.overlay.hover_preset[0], 1280);
  region_mouse_down(350, 140);
  expect_rect(selection(), 200, 150, 1480, 870);
  EXPECT_FALSE(win.captured);
  region_mouse_move(351, 140, true);
  region_mouse_up();
  EXPECT_FALSE(g_app.overlay.preset_applied);
  expect_rect(selection(), 200, 150, 1480, 870);
}

TEST_F(RegionOverlayTest, EscapeCloseAndDeactivationCancel) {
  const struct { uint32_t msg; uintptr_t wparam; bool cancels; } cases[] = {
      {WM_KEYDOWN, VK_ESCAPE, true}, {WM_CLOSE, 0, true},       {WM_ACTIVATEAPP, 0, true},
      {WM_ACTIVATEAPP, 1, false},    {WM_KEYDOWN, VK_RETURN, false},  // no rectangle: nothing
  };
  for (const auto& c : cases) {
    SetUp();
    open();
    main_window_proc(c.msg, c.wparam, 0);
    EXPECT_EQ(region_overlay_open(), !c.cancels) << c.msg;
    EXPECT_EQ(win.form, c.cancels ? FakeShellWindow::kHidden : FakeShellWindow::kOverlay) << c.msg;
    EXPECT_TRUE(loop.posted.empty()) << "an interactive cancel ends nothing else";
    EXPECT_EQ(g_app.exit_code, 0);
  }
}

TEST_F(RegionOverlayTest, CommandLineCancelEndsTheRunWithTwo) {
  g_app.cli_mode = true;
  open();
  main_window_proc(WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(g_app.exit_code, 2);
  ASSERT_EQ(loop.posted.size(), 1u);
  EXPECT_EQ(loop.posted[0], WM_CLOSE);
}

// A termination request (a signal) is the normal shutdown whatever is open:
// unlike WM_CLOSE it does not stop at cancelling the selection. Requests
// that come before the shutdown has passed its bounded waits are never used
// up and never end the process at once; one that comes after it does.
TEST_F(RegionOverlayTest, TerminationRequestEndsTheApplicationWhateverIsOpen) {
  enum Open { kNothing, kOverlay, kCountdown };
  const struct {
    Open open;
    bool cli;
    int exit_code;
  } cases[] = {{kNothing, false, 0}, {kOverlay, false, 0}, {kCountdown, false, 0}, {kOverlay, true, 2}};
  for (const auto& c : cases) {
    SetUp();
    loop.posted.clear();
    loop.quits = 0;
    g_app.cli_mode = c.cli;
    if (c.open == kOverlay) open();
    if (c.open == kCountdown) {
      g_app.config.StartDelaySec = 3;
      g_app.config.ShowStartCountdownOverlay = 1;
      start_with_delay(CAPTURE_MONITOR);
      ASSERT_TRUE(countdown_pending());
    }
    EXPECT_FALSE(request_termination());
    EXPECT_FALSE(request_termination());
    ASSERT_EQ(loop.posted.size(), 2u) << c.open;
    EXPECT_EQ(loop.posted[0], MSG_TERMINATION_REQUEST);
    main_window_proc(MSG_TERMINATION_REQUEST, 0, 0);
    main_window_proc(MSG_TERMINATION_REQUEST, 0, 0);
    EXPECT_FALSE(region_overlay_open()) << c.open;
    EXPECT_FALSE(countdown_pending()) << c.open;
    EXPECT_EQ(win.form, FakeShellWindow::kHidden) << c.open;
    EXPECT_EQ(svc.monitor_opens, 0) << "nothing starts on the way out";
    EXPECT_EQ(loop.quits, 1) << "one shutdown";
    EXPECT_EQ(g_app.exit_code, c.exit_code) << c.open;
    EXPECT_TRUE(request_termination()) << "past the shutdown's bounded waits a request ends the process";
  }
}

TEST_F(RegionOverlayTest, MouseMessagesReachTheOverlayThroughTheWindowProcedure) {
  open();
  main_window_proc(WM_LBUTTONDOWN, MK_LBUTTON, mouse_lparam(100, 100));
  main_window_proc(WM_MOUSEMOVE, MK_LBUTTON, mouse_lparam(61, 57));
  main_window_proc(WM_LBUTTONUP, 0, mouse_lparam(61, 57));
  expect_rect(selection(), 60, 56, 100, 100);
  // Without the button a move only sets the zone's cursor.
  main_window_proc(WM_MOUSEMOVE, 0, mouse_lparam(80, 78));
  EXPECT_EQ(win.cursor, ShellCursor::kSizeAll);
  main_window_proc(WM_MOUSEMOVE, 0, mouse_lparam(500, 500));
  EXPECT_EQ(win.cursor, ShellCursor::kCross);
}

TEST_F(RegionOverlayTest, EnterWithARectangleThatCannotBeRecordedClosesAndWarns) {
  g_app.cli_mode = true;
  open();
  drag(100, 100, 151, 140);
  main_window_proc(WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_FALSE(region_overlay_open());
  EXPECT_TRUE(g_app.overlay.overlay_screen.empty());
  EXPECT_EQ(svc.monitor_opens, 1);
  EXPECT_EQ(win.form, FakeShellWindow::kHidden);
  EXPECT_EQ(g_app.exit_code, 2);
}

TEST(RegionFrame, SurroundsTheCropWithAThreePixelMargin) {
  const Rect r = region_frame_rect(Rect{1920, 0, 3840, 1080}, Rect{200, 150, 300, 210});
  expect_rect(r, 2117, 147, 2223, 213);
  RecordingCanvas c;
  paint_region_frame(c, Rect{0, 0, r.width(), r.height()});
  ASSERT_EQ(c.ops.size(), 3u);
  EXPECT_EQ(c.ops[0].kind, CanvasOp::kFill);
  EXPECT_EQ(c.ops[0].colour, (Rgb{255, 255, 0}));
  expect_rect(c.ops[0].rect, 0, 0, 106, 66);
  EXPECT_EQ(c.ops[1].kind, CanvasOp::kFill);
  EXPECT_EQ(c.ops[1].colour, (Rgb{255, 0, 255}));
  expect_rect(c.ops[1].rect, 2, 2, 104, 64);
  EXPECT_EQ(c.ops[2].kind, CanvasOp::kFrame);
  EXPECT_EQ(c.ops[2].colour, (Rgb{0, 0, 0}));
  expect_rect(c.ops[2].rect, 2, 2, 104, 64);
}
}  // namespace
