// End-to-end on a Wayland desktop: the real executable records through the
// screen-cast portal and PipeWire. Runs only inside the private desktop of
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
#include <string>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/installation.h"
#include "e2e/media_probe.h"

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
