// End-to-end tests of the interactive shell's windows under Xvfb with a real
// window manager (openbox), driven with xdotool: the region overlay of a
// command-line region run, and the start countdown before a recording.
// With FV_SCREENSHOT_DIR set, screenshots of the overlay, the region frame
// and the countdown are written there (for the documentation).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "app/countdown.h"
#include "app/main_window.h"
#include "app/qt/desktop_compositing.h"
#include "app/region_overlay.h"
#include "app/shell_window.h"
#include "app/startup.h"
#include "app/toolkit.h"
#include "capture/capture.h"
#include "e2e/e2e_support.h"
#include "e2e/media_probe.h"
#include "platform/clock.h"
#include "settings/config_store.h"
#include "video/encode/encoder.h"

namespace {
// The root window is tiled with 64 x 64 squares of two colours, split into
// quadrants: a pixel has the first colour when exactly one of x mod 64 and
// y mod 64 is below 32. A recording shows where it was taken.
constexpr uint8_t kFirst[3] = {0x30, 0x80, 0xC0};
constexpr uint8_t kSecond[3] = {0xC0, 0x80, 0x30};

const uint8_t* root_colour(int x, int y) { return ((x % 64 < 32) != (y % 64 < 32)) ? kFirst : kSecond; }

bool near(const uint8_t* got, const uint8_t* want, int tolerance) {
  for (int k = 0; k < 3; ++k)
    if (std::abs(int(got[k]) - int(want[k])) > tolerance) return false;
  return true;
}

bool sh(const std::string& command) { return run_process({"/bin/sh", "-c", command}, {}, 20).exit_code == 0; }

std::string screenshot_dir() {
  const char* d = std::getenv("FV_SCREENSHOT_DIR");
  return d && *d ? d : "";
}

void screenshot(const std::string& name) {
  const std::string dir = screenshot_dir();
  if (!dir.empty()) sh("import -window root '" + dir + "/" + name + "'");
}

class ShellE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* display = std::getenv("DISPLAY");
    ready_ = display && *display && sh("xdpyinfo >/dev/null 2>&1 && command -v openbox && command -v xdotool");
    if (!ready_) return;
    dir_ = make_temp_dir("shell");
    const std::string xbm = dir_ + "/tile.xbm";
    // The bitmap reader wants a space after each comma and no trailing one.
    std::string bits;
    for (int y = 0; y < 64; ++y)
      for (int b = 0; b < 8; ++b) bits += std::string(y + b ? ", " : "") + (((y < 32) == (b >= 4)) ? "0xff" : "0x00");
    write_text(xbm, "#define t_width 64\n#define t_height 64\nstatic unsigned char t_bits[] = {\n" + bits + "};\n");
    // Started by its full path: the spawn helper does not search PATH.
    std::string openbox = run_process({"/bin/sh", "-c", "command -v openbox"}, {}, 10).output;
    while (!openbox.empty() && (openbox.back() == '\n' || openbox.back() == '\r')) openbox.pop_back();
    // --replace: the window manager of a test that just ended may still be
    // going away; ours takes the screen over instead of giving up. It
    // announces itself with a live check window once it manages the screen
    // (the root property alone may still name the window of one that
    // ended); one that does not within five seconds is started again.
    for (int attempt = 0; attempt < 3 && !managed_; ++attempt) {
      delete wm_;
      wm_ = new Background;
      if (!wm_->start({openbox, "--replace"}, {})) break;
      for (int i = 0; i < 50 && !managed_; ++i) {
        managed_ = sh("id=$(xprop -root _NET_SUPPORTING_WM_CHECK | sed -n 's/.*window id # //p') && [ -n \"$id\" ] && "
                    "xprop -id \"$id\" _NET_WM_NAME | grep -q '='");
        if (!managed_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    if (!managed_) return;
    // The background is set after that, as the window manager may clear
    // the root window.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    xbm_ = xbm;
    tile_root();
  }
  // Sets the tiling and waits until the screen shows it: on a busy machine
  // a window manager still starting (or one of an earlier test still ending)
  // may clear the root window after us.
  static void tile_root() {
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (!sh("xsetroot -bitmap '" + xbm_ + "' -fg '#3080c0' -bg '#c08030'")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      // Two pixels of different tiles, as raw RGB.
      const std::string px =
          run_process({"/bin/sh", "-c", "import -window root -crop 2x1+127+100 -depth 8 rgb:-"}, {}, 20).output;
      if (px.size() == 6 && near(reinterpret_cast<const uint8_t*>(px.data()), root_colour(127, 100), 8) &&
          near(reinterpret_cast<const uint8_t*>(px.data()) + 3, root_colour(128, 100), 8))
        return;
    }
    std::fprintf(stderr, "the root window does not show the tiling: the pictures will not match\n");
  }
  static void TearDownTestSuite() {
    if (ready_) sh("xsetroot -def");  // the display's own background again
    delete wm_;
    wm_ = nullptr;
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "needs a display with openbox and xdotool (scripts/test-env.sh)";
    ASSERT_TRUE(managed_) << "openbox does not manage the screen";
    tile_root();
  }

  // A private copy of the executable with its INI and output folder.
  std::string install(const char* name) {
    const std::string d = dir_ + "/" + name;
    mkdir(d.c_str(), 0755);
    mkdir((d + "/videos").c_str(), 0755);
    copy_file(FV_FRELVANTA_EXE, d + "/frelvanta", true);
    write_text(d + "/frelvanta.ini", "[frelvanta]\r\nHardwareEncoder=0\r\nCaptureAudio=0\r\nMouseCursor=0\r\n"
                                     "OutputFolder=" + d + "/videos\r\n");
    return d;
  }
  static std::vector<std::string> videos(const std::string& d) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(d + "/videos")) files.push_back(e.path().string());
    return files;
  }
  // Waits until the overlay window is on screen.
  static bool overlay_shown() {
    for (int i = 0; i < 100; ++i) {
      if (sh("xdotool search --onlyvisible --name '^Frelvanta$' >/dev/null")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  static inline bool ready_ = false, managed_ = false;
  static inline std::string dir_, xbm_;
  static inline Background* wm_ = nullptr;
};

// Also on a desktop scaled by two, where Qt places windows in units of two
// pixels while the selection stays in screen pixels.
TEST_F(ShellE2e, RegionDragAndEnterRecordExactlyThatRectangle) {
  for (const char* scale : {"QT_SCALE_FACTOR=1", "QT_SCALE_FACTOR=2"}) {
    SCOPED_TRACE(scale);
    const bool plain = std::string(scale).back() == '1';
    const std::string d = install(plain ? "region" : "region-scaled");
    Background app;
    ASSERT_TRUE(app.start({d + "/frelvanta", "--mode", "region", "--duration", "2"}, {scale}));
    ASSERT_TRUE(overlay_shown());
    ASSERT_TRUE(sh("xdotool mousemove 100 100 mousedown 1 && sleep 0.2 && xdotool mousemove 130 120 && sleep 0.1 && "
                   "xdotool mousemove 151 140 && sleep 0.2 && xdotool mouseup 1 && sleep 0.3"));
    if (plain) screenshot("region-overlay.png");
    ASSERT_TRUE(sh("xdotool key Return"));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    if (plain) screenshot("region-frame.png");
    EXPECT_EQ(app.wait(30), 0) << read_text(app.output_file());

    const std::vector<std::string> files = videos(d);
    ASSERT_EQ(files.size(), 1u);
    const MediaSummary m = probe_media(files[0]);
    EXPECT_EQ(m.video.width, 52);
    EXPECT_EQ(m.video.height, 40);
    const std::vector<RgbPicture> pictures = decode_rgb(files[0]);
    ASSERT_FALSE(pictures.empty());
    // The live screen at (100, 100)-(152, 140), full brightness, no outline:
    // sample each quadrant of the tiling away from its edges.
    for (const RgbPicture& p : {pictures.front(), pictures.back()}) {
      ASSERT_EQ(p.width, 52);
      for (int y : {4, 14, 22, 33, 37})
        for (int x : {4, 14, 22, 34, 47})
          EXPECT_TRUE(near(p.at(x, y), root_colour(100 + x, 100 + y), 24))
              << "at " << x << "," << y << ": " << int(p.at(x, y)[0]) << " " << int(p.at(x, y)[1]) << " "
              << int(p.at(x, y)[2]);
    }
  }
}

// A full-screen window that bypasses the window manager (a game, a player;
// the test content is one) covers the monitor: the overlay still opens above
// it and gets the drag and the keys.
TEST_F(ShellE2e, OverlayOpensAboveAFullScreenWindowOutsideTheWindowManager) {
  Background game;
  ASSERT_TRUE(game.start({FV_TESTCONTENT_EXE, "--no-audio", "--still"}, {}, "ready"));
  const std::string d = install("above");
  Background app;
  ASSERT_TRUE(app.start({d + "/frelvanta", "--mode", "region", "--duration", "1"}, {}));
  ASSERT_TRUE(overlay_shown());
  ASSERT_TRUE(sh("sleep 0.3 && xdotool mousemove 200 200 mousedown 1 && sleep 0.2 && xdotool mousemove 260 240 && "
                 "sleep 0.2 && xdotool mouseup 1 && sleep 0.3 && xdotool key Return"));
  EXPECT_EQ(app.wait(30), 0) << read_text(app.output_file());
  const std::vector<std::string> files = videos(d);
  ASSERT_EQ(files.size(), 1u);
  const MediaSummary m = probe_media(files[0]);
  EXPECT_EQ(m.video.width, 60);
  EXPECT_EQ(m.video.height, 40);
}

TEST_F(ShellE2e, EscapeCancelsACommandLineRegionRunWithExitTwo) {
  const std::string d = install("escape");
  Background app;
  ASSERT_TRUE(app.start({d + "/frelvanta", "--mode", "region"}, {}));
  ASSERT_TRUE(overlay_shown());
  ASSERT_TRUE(sh("xdotool key Escape"));
  EXPECT_EQ(app.wait(15), 2) << read_text(app.output_file());
  EXPECT_TRUE(videos(d).empty());
}

TEST_F(ShellE2e, AnotherApplicationTakingTheFocusCancelsTheRegionRun) {
  const std::string d = install("focus");
  Background app;
  ASSERT_TRUE(app.start({d + "/frelvanta", "--mode", "region"}, {}));
  ASSERT_TRUE(overlay_shown());
  Background other;
  ASSERT_TRUE(other.start({FV_TESTCONTENT_EXE, "--no-audio", "--still", "--focus", "--geometry", "320x240+600+400"},
                          {}, "ready"));
  EXPECT_EQ(app.wait(15), 2) << read_text(app.output_file());
  EXPECT_TRUE(videos(d).empty());
}

// Each time the overlay opens (as after each region shortcut of the tray
// instance) it has the keyboard: ESC reaches it without a click.
TEST_F(ShellE2e, OverlayTakesTheKeyboardEachTimeItOpens) {
  ASSERT_TRUE(toolkit_init());
  toolkit_install_shell_window();
  capture_runtime_init();
  std::unique_ptr<MessageLoop> loop = toolkit_create_message_loop();
  ASSERT_TRUE(loop);
  g_app.main_window = loop.get();
  // Handles events until `done` holds or `ms` pass.
  auto run_until = [](const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      QEventLoop slice;
      QTimer::singleShot(50, &slice, &QEventLoop::quit);
      slice.exec();
    }
    return done();
  };
  int opened = 0, cancelled = 0;
  for (int round = 0; round < 2; ++round) {
    opened += open_region_overlay() ? 1 : 0;
    run_until([] { return false; }, 700);  // mapped, grabs taken
    // Escape, again each second until the overlay is gone: a busy machine
    // may map the overlay late, but without the keyboard it never closes.
    bool closed = false;
    for (int tries = 0; tries < 10 && !closed; ++tries) {
      sh("xdotool key Escape");
      closed = run_until([] { return !region_overlay_open(); }, 1000);
    }
    cancelled += closed ? 1 : 0;
  }
  if (region_overlay_open()) cancel_region_overlay();
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(cancelled, 2);
  g_app.main_window = nullptr;
  loop.release();  // as at start-up: posted events may still name it
}

// The countdown runs in this process on the real toolkit, capture and
// encoder: command-line runs have no countdown, and no shortcut reaches an
// interactive instance from here.
TEST_F(ShellE2e, CountdownOfThreeStartsTheCaptureAfterThreeSecondsAndIsNotRecorded) {
  const std::string d = install("countdown");
  ASSERT_TRUE(toolkit_init());
  toolkit_install_shell_window();
  config_set_defaults(&g_app.config);
  Config& c = g_app.config;
  c.OutputFolder = d + "/videos";
  c.HardwareEncoder = 0;
  c.CaptureAudio = 0;
  c.MouseCursor = 0;
  c.OpenFolder = 0;
  c.VideoMaxWidth = 640;
  c.VideoMaxHeight = 360;
  c.StartDelaySec = 3;
  c.ShowStartCountdownOverlay = 1;
  capture_runtime_init();
  encoder_init_process();
  g_app.qpc_frequency = kQpcFrequency;
  ASSERT_TRUE(start_worker_threads());
  std::unique_ptr<MessageLoop> loop = toolkit_create_message_loop();
  ASSERT_TRUE(loop);
  g_app.main_window = loop.get();

  // A small window the user works in; the countdown must leave it the focus.
  Background work;
  ASSERT_TRUE(work.start({FV_TESTCONTENT_EXE, "--no-audio", "--still", "--focus", "--geometry", "64x64+0+1000"}, {},
                         "ready"));
  const std::string active_before = run_process({"/bin/sh", "-c", "xdotool getactivewindow"}, {}, 10).output;
  std::string active_during;

  using clock = std::chrono::steady_clock;
  clock::time_point requested, started;
  bool overlay_seen = false;
  QRect countdown_place;
  QTimer::singleShot(0, [&] {
    requested = clock::now();
    start_with_delay(CAPTURE_MONITOR);
  });
  QTimer::singleShot(1500, [&] {
    overlay_seen = countdown_overlay_visible();
    if (auto* w = dynamic_cast<QWidget*>(g_shell_window)) countdown_place = w->geometry();
    active_during = run_process({"/bin/sh", "-c", "xdotool getactivewindow"}, {}, 10).output;
    screenshot("countdown.png");
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (started == clock::time_point{} && g_app.recording.active.load()) {
      started = clock::now();
      QTimer::singleShot(1500, [] {
        post_stop_request();
        post_main_window_message(WM_CLOSE, 0, 0);
      });
    }
    if (clock::now() - requested > std::chrono::seconds(20)) post_main_window_message(WM_CLOSE, 0, 0);
  });
  poll.start(20);
  loop->run();
  poll.stop();

  EXPECT_TRUE(overlay_seen);
  // The test display has no compositor, so nothing can be translucent: the
  // countdown is a centred panel, not a black monitor.
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const Rect panel = countdown_panel(Rect{screen.left(), screen.top(), screen.right() + 1, screen.bottom() + 1});
  EXPECT_EQ(countdown_place, desktop_composites() ? screen : QRect(panel.left, panel.top, panel.width(), panel.height()));
  EXPECT_FALSE(active_before.empty());
  EXPECT_EQ(active_during, active_before) << "the countdown took the focus";
  ASSERT_NE(started, clock::time_point{}) << "no recording started";
  const double delay = std::chrono::duration<double>(started - requested).count();
  EXPECT_GE(delay, 2.9);
  EXPECT_LT(delay, 6.0);
  const std::vector<std::string> files = videos(d);
  ASSERT_EQ(files.size(), 1u);
  const std::vector<RgbPicture> pictures = decode_rgb(files[0]);
  ASSERT_FALSE(pictures.empty());
  // The countdown is black with light text; the screen behind it is the
  // bright tiling (and the small, dark working window in a corner). No
  // picture may show the countdown.
  for (size_t i = 0; i < pictures.size(); ++i) {
    const RgbPicture& p = pictures[i];
    int dark = 0, n = 0;
    for (int y = 2; y < p.height; y += 4)
      for (int x = 2; x < p.width; x += 4, ++n) {
        const uint8_t* px = p.at(x, y);
        if (std::max({px[0], px[1], px[2]}) < 80) ++dark;
      }
    EXPECT_LT(dark, n / 100) << "picture " << i << " has " << dark << " dark samples of " << n;
  }
  loop.release();  // as at start-up: other threads may still hold it
}
}  // namespace
