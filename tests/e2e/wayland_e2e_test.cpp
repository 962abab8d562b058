// End-to-end on a Wayland desktop: the real executable records through the
// screen-cast portal and PipeWire, and the tray instance lives in waybar's
// tray (a StatusNotifierItem host). Runs only inside the private desktop of
// scripts/wayland/session.sh (headless sway, the portal with its wlroots
// backend, PipeWire's sound server), as an unprivileged user; CTest starts it
// there (the entry's command is that script).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/installation.h"
#include "e2e/media_probe.h"
#include "support/wait.h"

namespace {
constexpr int kOutputWidth = 1280, kOutputHeight = 720;

bool in_wayland_session() {
  const char* w = std::getenv("WAYLAND_DISPLAY");
  const char* s = std::getenv("SWAYSOCK");
  return w && *w && s && *s;
}

int count_lines(const std::string& path) {
  int n = 0;
  for (const std::string& line : split_lines(read_text(path))) n += line.empty() ? 0 : 1;
  return n;
}

std::string ini_value(const std::string& ini, const std::string& key) {
  for (std::string line : split_lines(ini)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}


// The picture at `seconds` as rows of R, G, B (through the ffmpeg tool, so
// only one picture is held).
bool picture_at(const std::string& file, double seconds, const std::string& scratch, std::vector<uint8_t>* rgb) {
  const std::string raw = scratch + "/picture.rgb";
  RunResult r = run_process({"/usr/bin/ffmpeg", "-v", "error", "-y", "-ss", std::to_string(seconds), "-i", file,
                             "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", raw},
                            {}, 60);
  if (r.exit_code != 0) return false;
  std::string bytes = read_text(raw);
  rgb->assign(bytes.begin(), bytes.end());
  return true;
}

// Moving content: a native Wayland terminal (foot) on the whole output with
// a red background, counting as fast as it can draw.
bool start_content(Background* content) {
  if (!content->start({"/usr/bin/foot", "-o", "colors.background=dc2828", "/bin/sh", "-c",
                       "i=0; while :; do i=$((i+1)); echo $i; done"},
                      {}))
    return false;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  return true;
}

// Pictures that differ from the one before (FFmpeg's mpdecimate keeps only
// those).
int distinct_pictures(const std::string& file, const std::string& scratch) {
  RunResult r = run_process({"/usr/bin/ffmpeg", "-v", "info", "-i", file, "-vf", "mpdecimate,showinfo", "-an", "-f",
                             "null", "-"},
                            {}, 120);
  int n = 0;
  for (const std::string& line : split_lines(r.output)) n += line.find("Parsed_showinfo") != std::string::npos &&
                                                           line.find(" n:") != std::string::npos;
  return n;
}

class WaylandE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!in_wayland_session()) GTEST_SKIP() << "needs the Wayland desktop of scripts/wayland/session.sh";
  }
};

// Moving content on the whole output with a tone: the file holds the
// output's pictures (changing ones, with the content's colour) and the tone.
TEST_F(WaylandE2E, MonitorRecordingHoldsTheOutputsPicturesAndSound) {
  Background content, tone;
  ASSERT_TRUE(start_content(&content));
  ASSERT_TRUE(tone.start({"/bin/sh", "-c", "sox -q -n -t wav - synth 30 sine 440 | paplay"}, {}));
  Installation inst("wl_monitor");
  const std::string out = inst.dir + "/monitor.mp4";
  const RunResult r =
      inst.record({"--mode", "monitor", "--duration", "5", "--output", out, "--audio", "on", "--mic", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_NE(r.output.find("screen-cast portal"), std::string::npos) << r.output;

  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present && m.audio.present) << describe(r);
  EXPECT_EQ(m.video.width, kOutputWidth);
  EXPECT_EQ(m.video.height, kOutputHeight);
  EXPECT_NEAR(m.video.duration, 5.0, 0.5);
  EXPECT_NEAR(m.audio.duration, 5.0, 0.5);

  const int distinct = distinct_pictures(out, inst.dir);
  std::printf("distinct pictures: %d\n", distinct);
  // The terminal repaints as fast as the compositor lets it; a loaded
  // machine slows both, but a recording of a still or foreign picture has
  // one or a handful.
  EXPECT_GE(distinct, 30);

  // The terminal's background, far from its text.
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(picture_at(out, 2.5, inst.dir, &rgb));
  ASSERT_EQ(rgb.size(), static_cast<size_t>(kOutputWidth) * kOutputHeight * 3);
  const uint8_t* px = rgb.data() + (static_cast<size_t>(kOutputHeight - 40) * kOutputWidth + kOutputWidth - 40) * 3;
  EXPECT_NEAR(px[0], 0xdc, 12);
  EXPECT_NEAR(px[1], 0x28, 12);
  EXPECT_NEAR(px[2], 0x28, 12);

  const AudioSamples a = decode_audio(out);
  EXPECT_GT(tone_share(a, 440, a.start + 1, a.start + 4), 0.5);
}

// The first share asks for the monitor and keeps the portal's token in the
// INI; the next run shares it again with that token, without asking.
TEST_F(WaylandE2E, RestoreTokenSharesTheMonitorAgainWithoutAsking) {
  const char* chooser_log = std::getenv("FV_CHOOSER_LOG");
  ASSERT_TRUE(chooser_log != nullptr);
  Background content;
  ASSERT_TRUE(start_content(&content));
  Installation inst("wl_restore");
  const int asked_before = count_lines(chooser_log);
  RunResult r = inst.record({"--mode", "monitor", "--duration", "2", "--output", inst.dir + "/a.mp4", "--audio", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(count_lines(chooser_log), asked_before + 1);
  const std::string token = ini_value(inst.ini(), "ScreenCastRestoreToken");
  ASSERT_FALSE(token.empty()) << inst.ini();

  r = inst.record({"--mode", "monitor", "--duration", "2", "--output", inst.dir + "/b.mp4", "--audio", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(count_lines(chooser_log), asked_before + 1) << "the second run asked again";
  EXPECT_FALSE(ini_value(inst.ini(), "ScreenCastRestoreToken").empty());
  EXPECT_TRUE(probe_media(inst.dir + "/b.mp4").video.present);
}

// A region run: the overlay covers the output with its frozen picture, a
// rectangle is dragged on it with a virtual pointer and confirmed with
// Enter; the file has the rectangle's size.
TEST_F(WaylandE2E, RegionRecordingHasTheDraggedRectanglesSize) {
  Background content;
  ASSERT_TRUE(start_content(&content));
  Installation inst("wl_region");
  const std::string out = inst.dir + "/region.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "region", "--duration", "3", "--output", out, "--audio", "off"}, {}));
  // The overlay is up once the compositor shows it full-screen.
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    const std::string tree = run_process({"/usr/bin/swaymsg", "-t", "get_tree"}, {}, 10).output;
    const size_t at = tree.find("\"name\": \"Frelvanta\"");
    shown = at != std::string::npos && tree.find("\"fullscreen_mode\": 1", at) != std::string::npos;
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(shown) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(run_process({FV_WLDRAG_EXE, "1280", "720", "200", "100", "600", "400"}, {}, 20).exit_code, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(run_process({FV_WLDRAG_EXE, "--enter"}, {}, 10).exit_code, 0);
  const int code = rec.wait(30);
  const std::string log = read_text(rec.output_file());
  ASSERT_EQ(code, 0) << log;
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present) << log;
  EXPECT_EQ(m.video.width, 400);
  EXPECT_EQ(m.video.height, 300);
  EXPECT_NEAR(m.video.duration, 3.0, 0.5);
}

// A window run on a portal that offers no window sources (the wlroots
// backend shares outputs only): refused with the window refusal on standard
// error and exit code 2, no file.
TEST_F(WaylandE2E, WindowRunWithoutWindowSourcesIsRefused) {
  const RunResult types = run_process({"/usr/bin/busctl", "--user", "get-property", "org.freedesktop.portal.Desktop",
                                       "/org/freedesktop/portal/desktop", "org.freedesktop.portal.ScreenCast",
                                       "AvailableSourceTypes"},
                                      {}, 10);
  const unsigned value = static_cast<unsigned>(std::atoi(types.output.c_str() + std::min<size_t>(2, types.output.size())));
  if (types.exit_code != 0 || (value & 2) != 0) GTEST_SKIP() << "this portal shares windows: " << types.output;
  Installation inst("wl_window");
  const std::string out = inst.dir + "/window.mp4";
  const RunResult r = inst.record({"--mode", "window", "--duration", "2", "--output", out, "--audio", "off"});
  EXPECT_EQ(r.exit_code, 2) << describe(r);
  EXPECT_NE(r.output.find("Cannot record selected window!"), std::string::npos) << describe(r);
  EXPECT_FALSE(exists(out));
}

// Starts that cannot record say so on standard error and never end
// silently: a command-line run in a Wayland session whose bus has no portal
// (one line, exit 2, no file), and a tray instance with no display at all.
TEST_F(WaylandE2E, StartsThatCannotRecordSaySo) {
  Installation inst("wl_noportal");
  const std::string out = inst.dir + "/none.mp4";
  RunResult r = inst.record({"--mode", "monitor", "--duration", "2", "--output", out, "--audio", "off"},
                            {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + inst.dir + "/no-bus"});
  EXPECT_EQ(r.exit_code, 2) << describe(r);
  EXPECT_NE(r.output.find("no screen-cast portal"), std::string::npos) << describe(r);
  EXPECT_FALSE(exists(out));

  r = run_process({"/usr/bin/env", "-u", "DISPLAY", "WAYLAND_DISPLAY=", inst.exe}, {}, 30);
  EXPECT_NE(r.exit_code, -1) << describe(r);
  EXPECT_NE(r.output.find("no usable display"), std::string::npos) << describe(r);
}

namespace {
bool wait_s(const std::function<bool()>& done, double seconds) {
  return wait_until(done, std::chrono::milliseconds(static_cast<long>(seconds * 1000)),
                    std::chrono::milliseconds(200));
}

// A part of the screen (through grim) as rows of R, G, B.
std::vector<uint8_t> screen_rgb(int x, int y, int w, int h, const std::string& scratch) {
  const std::string png = scratch + "/screen.png", raw = scratch + "/screen.rgb";
  const std::string geometry = std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                               std::to_string(h);
  if (run_process({"/usr/bin/grim", "-g", geometry, png}, {}, 20).exit_code != 0) return {};
  if (run_process({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", png, "-f", "rawvideo", "-pix_fmt", "rgb24", raw}, {},
                  30)
          .exit_code != 0)
    return {};
  const std::string bytes = read_text(raw);
  if (bytes.size() != static_cast<size_t>(w) * h * 3) return {};
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Near-white pixels (the idle icon's light parts, a menu's background); the
// bar and the desktop have none.
int light_pixels(const std::vector<uint8_t>& rgb, int w, int* cx = nullptr, int* cy = nullptr) {
  int n = 0;
  long sx = 0, sy = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    if (rgb[i] > 200 && rgb[i + 1] > 200 && rgb[i + 2] > 200) {
      ++n;
      sx += static_cast<long>(i / 3) % w;
      sy += static_cast<long>(i / 3) / w;
    }
  }
  if (n > 0 && cx) *cx = static_cast<int>(sx / n);
  if (n > 0 && cy) *cy = static_cast<int>(sy / n);
  return n;
}

std::string busctl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/busctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, {}, 10).output;
}

// The portal's shares now open: its streams in PipeWire.
bool share_open() {
  return run_process({"/usr/bin/pw-cli", "ls", "Node"}, {}, 10).output.find("\"xdg-desktop-portal-wlr\"") !=
         std::string::npos;
}

// Global shortcuts come from the portal where it offers them; where it does
// not (the wlroots backend has none), the tray menu has the capture items.
bool portal_offers_shortcuts() {
  return busctl({"introspect", "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop"})
             .find("org.freedesktop.portal.GlobalShortcuts") != std::string::npos;
}

// Whether sway shows a window named `name` (a prefix), and with
// `fullscreen` only one shown full-screen.
bool sway_window(const std::string& name, bool fullscreen = false) {
  const std::string tree = run_process({"/usr/bin/swaymsg", "-t", "get_tree"}, {}, 10).output;
  const size_t at = tree.find("\"name\": \"" + name);
  if (at == std::string::npos) return false;
  if (!fullscreen) return true;
  const size_t mode = tree.find("\"fullscreen_mode\": ", at);
  return mode != std::string::npos && tree.compare(mode + 19, 1, "1") == 0;
}

// The desktop of the tray tests: waybar with only its tray (at the right
// end of a 32-pixel bar on top), a notification service stand-in (so the
// instance's notices are no windows), and a tray instance of a private
// installation.
struct TrayDesktop {
  Installation inst;
  Background notices, bar, app;
  std::string item;  // bus name of the instance's StatusNotifierItem
  std::string menu;  // its exported menu's path
  static constexpr int kBarHeight = 32, kTrayX = 1080, kTrayWidth = 200;

  explicit TrayDesktop(const char* tag, int countdown = 0)
      : inst(tag, "CaptureAudio=0\r\nCaptureMicrophone=0\r\nOpenFolder=0\r\nStartDelaySec=" +
                      std::to_string(countdown) + "\r\n") {}
  ~TrayDesktop() {
    app.kill_now(SIGKILL);
    bar.kill_now(SIGTERM);
    notices.kill_now(SIGTERM);
    app.wait(10);
    bar.wait(10);
    notices.wait(10);
  }

  bool start_notices() {
    return notices.pid() > 0 || notices.start({FV_NOTIFICATION_SERVICE_EXE}, {}, "ready");
  }

  bool start_bar() {
    const std::string config = inst.dir + "/waybar.json";
    write_text(config, "{\"layer\": \"top\", \"position\": \"top\", \"height\": " + std::to_string(kBarHeight) +
                           ", \"modules-right\": [\"tray\"], \"tray\": {\"icon-size\": 24, \"spacing\": 8}}\n");
    return start_notices() && bar.start({"/usr/bin/waybar", "-c", config}, {}) &&
           wait_s([] { return busctl({"get-property", "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                      "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"})
                                  .find("true") != std::string::npos; },
                  20);
  }

  bool launch() { return start_notices() && app.start({inst.exe}, {}); }

  // Waits until the instance's item is registered with the tray host.
  bool registered() {
    const bool found = wait_s(
        [this] {
          const std::string items = busctl({"get-property", "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                            "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"});
          const size_t q = items.find('"');
          if (q == std::string::npos) return false;
          item = items.substr(q + 1, items.find_first_of("/\"", q + 1) - q - 1);
          return !item.empty();
        },
        20);
    if (!found) return false;
    const std::string path = busctl({"get-property", item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Menu"});
    const size_t q = path.find('"');
    menu = q == std::string::npos ? "" : path.substr(q + 1, path.find('"', q + 1) - q - 1);
    return true;
  }
  bool start_app() { return launch() && registered(); }

  // The exported menu as the tray host reads it: per label, its id and
  // whether it is enabled (0 when there is no such item).
  int menu_item(const std::string& label, bool* enabled = nullptr) const {
    const std::string layout = busctl({"call", item, menu, "com.canonical.dbusmenu", "GetLayout", "iias", "--", "0",
                                       "-1", "0"});
    const std::string key = "\"label\" s \"" + label + "\"";
    const size_t at = layout.find(key);
    if (at == std::string::npos) return 0;
    const size_t start = layout.rfind("(ia{sv}av) ", at);
    if (start == std::string::npos) return 0;
    const std::string entry = layout.substr(start, at - start);
    if (enabled) *enabled = entry.find("\"enabled\" b false") == std::string::npos;
    return std::atoi(entry.c_str() + 11);
  }
  // A click on a menu item, as the host sends it.
  bool choose(const std::string& label) const {
    const int id = menu_item(label);
    return id != 0 && run_process({"/usr/bin/busctl", "--user", "call", item, menu, "com.canonical.dbusmenu", "Event",
                                   "isvu", "--", std::to_string(id), "clicked", "s", "", "0"},
                                  {}, 10)
                              .exit_code == 0;
  }

  // Files of the output folder: "tmp" ones while recording, final ones after.
  bool has_file(const std::string& part) const {
    for (const std::string& name : split_lines(run_process({"/bin/ls", inst.videos}, {}, 10).output))
      if (name.find(part) != std::string::npos) return true;
    return false;
  }
  std::string final_recording() const {
    for (const std::string& name : split_lines(run_process({"/bin/ls", inst.videos}, {}, 10).output))
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0 && name.find(".tmp") == std::string::npos)
        return inst.videos + "/" + name;
    return "";
  }
};
}  // namespace

// The tray instance under waybar, with waybar there before the instance
// and started after it (then the instance had found no tray at start): the
// item registers with waybar's watcher and waybar draws the icon; a right
// click there shows the menu that waybar draws from the exported one, whose
// items work (Settings opens the dialog, Exit ends the instance); a left
// click opens the Settings when idle.
TEST_F(WaylandE2E, TrayUnderWaybarShowsTheIconItsMenuAndTheSettings) {
  const int w = TrayDesktop::kTrayWidth, h = TrayDesktop::kBarHeight;
  for (const bool host_first : {true, false}) {
    SCOPED_TRACE(host_first ? "waybar first" : "waybar after the instance");
    TrayDesktop desk("wl_tray");
    if (host_first) {
      ASSERT_TRUE(desk.start_bar()) << read_text(desk.bar.output_file());
      EXPECT_EQ(light_pixels(screen_rgb(TrayDesktop::kTrayX, 0, w, h, desk.inst.dir), w), 0) << "the bar is not empty";
      ASSERT_TRUE(desk.start_app()) << read_text(desk.app.output_file());
    } else {
      ASSERT_TRUE(desk.launch());
      ASSERT_TRUE(wait_s([&] { return read_text(desk.notices.output_file()).find("no tray") != std::string::npos; }, 20))
          << read_text(desk.notices.output_file());
      ASSERT_TRUE(desk.start_bar()) << read_text(desk.bar.output_file());
      ASSERT_TRUE(desk.registered()) << read_text(desk.app.output_file());
    }

    // waybar draws the icon.
    int cx = 0, cy = 0;
    ASSERT_TRUE(wait_s(
        [&] { return light_pixels(screen_rgb(TrayDesktop::kTrayX, 0, w, h, desk.inst.dir), w, &cx, &cy) > 8; }, 20))
        << "no icon in the bar";
    cx += TrayDesktop::kTrayX;

    // A right click: waybar shows the exported menu below the icon.
    ASSERT_FALSE(desk.menu.empty());
    ASSERT_EQ(run_process({FV_WLDRAG_EXE, "--click", "1280", "720", std::to_string(cx), std::to_string(cy), "right"},
                          {}, 20)
                  .exit_code,
              0);
    EXPECT_TRUE(wait_s([&] { return light_pixels(screen_rgb(680, h, 600, 300, desk.inst.dir), 600) > 10000; }, 20))
        << "no menu below the icon";
    // A click beside it closes it.
    run_process({FV_WLDRAG_EXE, "--click", "1280", "720", "300", "500"}, {}, 20);

    // Idle: Settings is enabled, Pause (an item standing in for the missing
    // shortcuts) is not; choosing Settings opens the dialog.
    bool enabled = false;
    EXPECT_NE(desk.menu_item("Settings", &enabled), 0);
    EXPECT_TRUE(enabled);
    if (desk.menu_item("Pause", &enabled) != 0) EXPECT_FALSE(enabled);
    ASSERT_TRUE(desk.choose("Settings"));
    EXPECT_TRUE(wait_s([] { return sway_window("Frelvanta 3"); }, 20)) << "no Settings from the menu";
    run_process({FV_WLDRAG_EXE, "--escape"}, {}, 10);
    ASSERT_TRUE(wait_s([] { return !sway_window("Frelvanta 3"); }, 20)) << "the Settings did not close";

    // A left click on the icon (Activate) opens the Settings.
    ASSERT_EQ(run_process({FV_WLDRAG_EXE, "--click", "1280", "720", std::to_string(cx), std::to_string(cy)}, {}, 20)
                  .exit_code,
              0);
    EXPECT_TRUE(wait_s([] { return sway_window("Frelvanta 3"); }, 20)) << "no Settings after the left click";
    run_process({FV_WLDRAG_EXE, "--escape"}, {}, 10);
    EXPECT_TRUE(wait_s([] { return !sway_window("Frelvanta 3"); }, 20));

    ASSERT_TRUE(desk.choose("Exit"));
    EXPECT_EQ(desk.app.wait(30), 0) << read_text(desk.app.output_file());
  }
}

// A region selection cancelled with Escape in the tray instance: the share
// that gave the overlay its picture ends (the desktop stops showing it as
// running), the instance stays.
TEST_F(WaylandE2E, CancelledRegionSelectionEndsItsShare) {
  if (portal_offers_shortcuts()) GTEST_SKIP() << "the tray menu has no capture items where shortcuts work";
  TrayDesktop desk("wl_cancel");
  ASSERT_TRUE(desk.start_bar()) << read_text(desk.bar.output_file());
  ASSERT_TRUE(desk.start_app()) << read_text(desk.app.output_file());
  ASSERT_FALSE(share_open());
  ASSERT_TRUE(desk.choose("Capture Region"));
  ASSERT_TRUE(wait_s([] { return sway_window("Frelvanta", true); }, 20)) << read_text(desk.app.output_file());
  EXPECT_TRUE(share_open());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(run_process({FV_WLDRAG_EXE, "--escape"}, {}, 10).exit_code, 0);
  EXPECT_TRUE(wait_s([] { return !sway_window("Frelvanta", true); }, 20)) << "the overlay stayed";
  EXPECT_TRUE(wait_s([] { return !share_open(); }, 20)) << "the share stayed open";
  EXPECT_EQ(desk.app.wait(0.5), -1) << "the instance ended: " << read_text(desk.app.output_file());
  EXPECT_EQ(desk.final_recording(), "");
}

// A tray start with a 3-second countdown: it shows full-screen, then the
// monitor records (the menu follows: Settings disabled, Pause enabled); the
// same item stops it. The countdown itself is not in the recording.
TEST_F(WaylandE2E, TrayStartWithACountdownRecords) {
  if (portal_offers_shortcuts()) GTEST_SKIP() << "the tray menu has no capture items where shortcuts work";
  TrayDesktop desk("wl_countdown", 3);
  ASSERT_TRUE(desk.start_bar()) << read_text(desk.bar.output_file());
  ASSERT_TRUE(desk.start_app()) << read_text(desk.app.output_file());
  ASSERT_TRUE(desk.choose("Capture Monitor"));
  // Seen while it lasts (a start that skipped it would record at once).
  EXPECT_TRUE(wait_s([] { return sway_window("Frelvanta", true); }, 20)) << "no countdown";
  ASSERT_TRUE(wait_s([&] { return desk.has_file(".tmp.mp4"); }, 20)) << read_text(desk.app.output_file());
  EXPECT_FALSE(sway_window("Frelvanta", true)) << "the countdown stayed";
  bool enabled = true;
  desk.menu_item("Settings", &enabled);
  EXPECT_FALSE(enabled) << "Settings enabled while recording";
  desk.menu_item("Pause", &enabled);
  EXPECT_TRUE(enabled) << "Pause disabled while recording";
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(desk.choose("Capture Monitor"));
  ASSERT_TRUE(wait_s([&] { return !desk.final_recording().empty(); }, 30)) << read_text(desk.app.output_file());
  const std::string file = desk.final_recording();
  EXPECT_TRUE(wait_s([] { return !share_open(); }, 20)) << "the share stayed open after the stop";

  const MediaSummary m = probe_media(file);
  ASSERT_TRUE(m.opened && m.video.present) << file;
  EXPECT_EQ(m.video.width, kOutputWidth);
  EXPECT_EQ(m.video.height, kOutputHeight);
  EXPECT_GT(m.video.duration, 2.0);
  // The first picture is the desktop (its background #203040 below the
  // bar), not the black countdown.
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(picture_at(file, 0, desk.inst.dir, &rgb));
  ASSERT_EQ(rgb.size(), static_cast<size_t>(kOutputWidth) * kOutputHeight * 3);
  const uint8_t* px = rgb.data() + (static_cast<size_t>(kOutputHeight / 2) * kOutputWidth + kOutputWidth / 2) * 3;
  EXPECT_NEAR(px[0], 0x20, 12);
  EXPECT_NEAR(px[1], 0x30, 12);
  EXPECT_NEAR(px[2], 0x40, 12);
}

// The share ends from the desktop's side mid-recording (the portal's
// backend goes away, and with it the stream): the recording stops as for a
// closed target and the file is saved with what was recorded. Last: the
// session has no portal backend afterwards.
TEST_F(WaylandE2E, ShareEndedMidRecordingStopsWithTheFileSaved) {
  const char* portal_pid = std::getenv("FV_PORTAL_WLR_PID");
  ASSERT_TRUE(portal_pid != nullptr);
  Background content;
  ASSERT_TRUE(start_content(&content));
  Installation inst("wl_closed");
  const std::string out = inst.dir + "/closed.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "30", "--output", out, "--audio", "off"}, {}));
  std::this_thread::sleep_for(std::chrono::seconds(5));
  ASSERT_EQ(kill(static_cast<pid_t>(std::atoi(portal_pid)), SIGTERM), 0);
  const int code = rec.wait(20);
  const std::string log = read_text(rec.output_file());
  ASSERT_NE(code, -1) << "the recording did not end; output:\n" << log;
  EXPECT_EQ(code, 0) << log;
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present) << log;
  EXPECT_GT(m.video.duration, 1.5);
  EXPECT_LT(m.video.duration, 20.0);
}
}  // namespace
