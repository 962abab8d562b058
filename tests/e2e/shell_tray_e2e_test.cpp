// End-to-end: the interactive instance on a desktop with a window manager
// (openbox) and an XEmbed tray (trayer), driven by xdotool like a user:
// shortcuts record, pause, resume and stop; a shortcut another program holds
// is reported by name; the tray menu's Exit saves a running recording; a
// shortcut cancels the start countdown; the icon survives a tray restart.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "e2e/desktop_support.h"
#include "e2e/e2e_support.h"
#include "e2e/media_probe.h"

namespace {
constexpr int kScreenWidth = 1920;

// When a key combination was sent: somewhere within the xdotool run, whose
// start-up time is most of its cost.
struct KeyMoment {
  double earliest = 0, latest = 0;
  double mid() const { return (earliest + latest) / 2; }
};

KeyMoment press(const char* keys) {
  KeyMoment m;
  m.earliest = now_s();
  run_process({"/usr/bin/env", "xdotool", "key", keys}, {}, 10);
  m.latest = now_s();
  return m;
}

// A private installation of the executable (its INI beside it) and its own
// runtime folder, so it is the one interactive instance of its session.
struct TrayInstance {
  std::string dir, exe, videos, runtime;
  Background process;

  explicit TrayInstance(const char* tag, const std::string& extra_ini = "StartDelaySec=0\r\n") {
    dir = make_temp_dir(tag);
    exe = dir + "/frelvanta";
    videos = dir + "/videos";
    runtime = dir + "/run";
    mkdir(videos.c_str(), 0755);
    mkdir(runtime.c_str(), 0700);
    copy_file(FV_FRELVANTA_EXE, exe, true);
    write_text(dir + "/frelvanta.ini",
               "[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=" + videos +
                   "\r\nWriteDiagnostics=1\r\nFragmentedOutput=1\r\nVideoCodec=H264\r\nCaptureAudio=0\r\n"
                   "CaptureMicrophone=0\r\nOpenFolder=0\r\n"
                   "VideoMaxWidth=640\r\nVideoMaxHeight=360\r\n" + extra_ini);
  }
  ~TrayInstance() {
    if (process.pid() > 0) process.kill_now(SIGKILL);
    run_process({"/bin/rm", "-rf", dir}, {}, 20);
  }
  // Starts it and waits until its icon sits in the tray (by then the
  // shortcuts are registered: that happens before the event loop runs).
  bool start() {
    if (!process.start({exe}, {"XDG_RUNTIME_DIR=" + runtime})) return false;
    return wait_for([] { return !tray_icon_window().empty(); }, 15);
  }
  std::vector<std::string> recordings() const {
    std::vector<std::string> out;
    for (const std::string& name : split_lines(sh("ls " + videos)))
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0) out.push_back(videos + "/" + name);
    return out;
  }
};

class ShellTrayE2E : public TrayDesktopTest {
 protected:
  static void SetUpTestSuite() { start_desktop("xclip"); }
  static void TearDownTestSuite() { stop_desktop(); }
  void SetUp() override { skip_without_desktop("openbox, trayer, xdotool and xclip"); }
};

constexpr double kFlashPeriod = 0.25;

// Times at which the content's flash appears: it is painted at clock-exact
// instants (unlike the frame number, which lags when the painter falls
// behind on a loaded machine).
std::vector<double> flash_onsets(const std::vector<PictureInfo>& pictures) {
  double lo = 1e9, hi = -1e9;
  for (const PictureInfo& p : pictures) {
    lo = std::min(lo, p.mean_luma);
    hi = std::max(hi, p.mean_luma);
  }
  const double mid = (lo + hi) / 2;
  std::vector<double> onsets;
  for (size_t i = 1; i < pictures.size(); ++i)
    if (pictures[i - 1].mean_luma < mid && pictures[i].mean_luma >= mid) onsets.push_back(pictures[i].time);
  return onsets;
}

TEST_F(ShellTrayE2E, ShortcutsStartPauseResumeAndStop) {
  Background content;
  // Above the tray panel, so the tray stays reachable. Its sound only times
  // the flashes; the recording takes none. The pause is found from the
  // flashes on both sides of it, so they must run from the start.
  ASSERT_TRUE(
      content.start({FV_TESTCONTENT_EXE, "--flash-every", "250", "--geometry", "1920x600+0+0"}, {}, "flashing"));
  TrayInstance inst("shell-keys");
  ASSERT_TRUE(inst.start()) << "the tray icon did not appear";

  press("ctrl+Print");  // the default monitor shortcut
  // The file exists from the encoder's set-up on; the capture runs from
  // "recording.started" on, which on a busy machine can come a second later.
  const std::string trace = inst.dir + "/frelvanta-runtrace.txt";
  ASSERT_TRUE(wait_for([&] { return read_text(trace).find("recording.started") != std::string::npos; }, 10))
      << "no recording started";
  ASSERT_FALSE(inst.recordings().empty());
  sleep_s(2);
  const KeyMoment paused_at = press("ctrl+shift+p");
  sleep_s(1.5);
  const KeyMoment resumed_at = press("ctrl+shift+p");
  sleep_s(2);
  press("ctrl+Print");  // again: stop
  ASSERT_TRUE(wait_for([&] {
    const auto files = inst.recordings();
    return files.size() == 1 && files[0].find(".tmp.mp4") == std::string::npos;
  }, 15)) << "the recording was not finished";
  const std::string file = inst.recordings()[0];
  EXPECT_EQ(waitpid(inst.process.pid(), nullptr, WNOHANG), 0) << "the instance must keep running after a stop";

  const std::vector<PictureInfo> pictures = decode_pictures(file, kScreenWidth);
  ASSERT_GT(pictures.size(), 60u);
  // The pause sits where the content's frame number jumps ahead of the
  // file's time line.
  size_t cut = 0;
  double step = 0;
  for (size_t i = 1; i < pictures.size(); ++i) {
    if (pictures[i].number < 0 || pictures[i - 1].number < 0) continue;
    const double d = (pictures[i].number - pictures[i - 1].number) / 60.0 - (pictures[i].time - pictures[i - 1].time);
    if (d > step) {
      step = d;
      cut = i;
    }
  }
  ASSERT_GT(cut, 0u);
  const double t_cut = pictures[cut].time;
  const double paused = resumed_at.mid() - paused_at.mid();
  // Seen from outside, the pause lasted somewhere between these.
  const double paused_min = resumed_at.earliest - paused_at.latest;
  const double paused_max = resumed_at.latest - paused_at.earliest;
  // Flashes come every 250 ms of content time. Between a flash before the
  // pause and one after it, the file lacks exactly the paused time, so that
  // file distance plus the missing time is a whole number of periods (the
  // keys' timing picks which one). The median over all pairs is the
  // missing time.
  std::vector<double> before, after, missing_each;
  for (double t : flash_onsets(pictures)) (t < t_cut ? before : after).push_back(t);
  ASSERT_GE(before.size(), 3u) << "pause found at " << t_cut << " s of " << pictures.back().time << " s";
  ASSERT_GE(after.size(), 3u) << "pause found at " << t_cut << " s of " << pictures.back().time << " s";
  for (double a : before) {
    for (double b : after) {
      const double d = b - a;
      missing_each.push_back(std::round((d + paused) / kFlashPeriod) * kFlashPeriod - d);
    }
  }
  std::sort(missing_each.begin(), missing_each.end());
  const double missing = missing_each[missing_each.size() / 2];
  const double frame = 1.0 / 60;
  std::printf("[ figures ] paused %.1f ms by the keys (%.1f to %.1f), %.1f ms missing from the file "
              "(%zu + %zu flashes); file %.3f s, %zu pictures\n",
              paused * 1000, paused_min * 1000, paused_max * 1000, missing * 1000, before.size(), after.size(),
              pictures.back().time, pictures.size());
  // The main thread takes each key a little late, by a varying amount when
  // the machine is busy: two frames of slack around what the keys allow.
  EXPECT_GE(missing, paused_min - 2 * frame) << "the file is not shorter by the paused time";
  EXPECT_LE(missing, paused_max + 2 * frame) << "the file is not shorter by the paused time";
}

// The X keycode that carries `keysym` (first column), or 0.
uint8_t keycode_for(xcb_connection_t* c, uint32_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  xcb_get_keyboard_mapping_reply_t* map =
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr);
  if (!map) return 0;
  uint8_t found = 0;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
  for (int i = 0; i < count && !found; ++i)
    if (syms[i * map->keysyms_per_keycode] == keysym) found = static_cast<uint8_t>(setup->min_keycode + i);
  std::free(map);
  return found;
}

TEST_F(ShellTrayE2E, ShortcutHeldByAnotherProgramIsNamedInTheWarning) {
  // Another program holds Ctrl + Print Screen, the monitor shortcut.
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  ASSERT_FALSE(xcb_connection_has_error(other));
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
  const uint8_t print = keycode_for(other, 0xff61);
  ASSERT_NE(print, 0);
  ASSERT_EQ(xcb_request_check(other, xcb_grab_key_checked(other, 0, root, XCB_MOD_MASK_CONTROL, print,
                                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
            nullptr);

  TrayInstance inst("shell-conflict");
  ASSERT_TRUE(inst.process.start({inst.exe}, {"XDG_RUNTIME_DIR=" + inst.runtime}));
  // The warning box: the instance's wide visible window.
  std::string box;
  ASSERT_TRUE(wait_for([&] {
    for (const auto& [id, width] : instance_windows())
      if (width > 100) box = id;
    return !box.empty();
  }, 15)) << "no warning was shown";
  sh("xclip -selection clipboard -i /dev/null");
  sh("xdotool windowactivate --sync " + box + " key ctrl+c");
  std::string copied;
  wait_for([&] { return (copied = sh("xclip -selection clipboard -o 2>/dev/null")).find("Conflicting") != std::string::npos; }, 5);
  xcb_disconnect(other);
  EXPECT_NE(copied.find("Cannot register Frelvanta keyboard shortcuts.\nConflicting keys: Capture Monitor\n"
                        "Please adjust these shortcuts in Settings."),
            std::string::npos)
      << copied;
  EXPECT_EQ(copied.find("Capture Window"), std::string::npos) << "only the refused shortcut is named";

  // Acknowledged, the instance runs on with the shortcuts it could take.
  sh("xdotool windowactivate --sync " + box + " key Return");
  EXPECT_EQ(waitpid(inst.process.pid(), nullptr, WNOHANG), 0);
}

// The instance has ended leaving one recording of about two seconds or
// more, finished under its final name.
void expect_one_finished_recording(const TrayInstance& inst, const char* unfinished) {
  const auto files = inst.recordings();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].find(".tmp.mp4"), std::string::npos) << unfinished;
  const MediaSummary m = probe_media(files[0]);
  ASSERT_TRUE(m.opened && m.video.present);
  EXPECT_GT(m.video.duration, 1.5);
}

TEST_F(ShellTrayE2E, TrayMenuExitSavesTheRecording) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio", "--geometry", "1920x600+0+0"}, {}, "ready"));
  TrayInstance inst("shell-menu");
  ASSERT_TRUE(inst.start()) << "the tray icon did not appear";
  press("ctrl+Print");
  ASSERT_TRUE(wait_for([&] { return !inst.recordings().empty(); }, 10)) << "no recording started";
  sleep_s(2);

  // A right click on the icon opens the menu at the pointer.
  const std::string icon = tray_icon_window();
  ASSERT_FALSE(icon.empty());
  sh("xdotool mousemove --window " + icon + " 8 8 click 3");
  std::string menu;
  ASSERT_TRUE(wait_for([&] {
    for (const auto& [id, width] : instance_windows())
      if (width > 64) menu = id;
    return !menu.empty();
  }, 5)) << "no menu appeared";
  // Down three times, then Return: the enabled items are "Frelvanta",
  // "Donate" and "Exit", since "Settings" cannot be chosen while recording.
  // Had Settings been enabled, the menu would run Donate instead and the
  // instance would not end.
  sh("xdotool key Down Down Down Return");
  const int code = inst.process.wait(20);
  EXPECT_EQ(code, 0);
  expect_one_finished_recording(inst, "Exit did not finish the recording");
}

TEST_F(ShellTrayE2E, ShortcutDuringTheCountdownCancelsIt) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio", "--geometry", "1920x600+0+0"}, {}, "ready"));
  TrayInstance inst("shell-countdown", "StartDelaySec=3\r\n");
  ASSERT_TRUE(inst.start()) << "the tray icon did not appear";

  press("ctrl+Print");
  sleep_s(1);
  press("ctrl+shift+p");  // any shortcut cancels, the pause one too
  sleep_s(3.5);
  EXPECT_TRUE(inst.recordings().empty()) << "a cancelled countdown must not start the capture";

  // Pressed again, a new countdown begins and the capture follows it.
  const double pressed = press("ctrl+Print").earliest;
  ASSERT_TRUE(wait_for([&] { return !inst.recordings().empty(); }, 8)) << "no recording after the countdown";
  const double started = now_s();
  EXPECT_GT(started - pressed, 2.5) << "the capture started before the countdown ended";
  sleep_s(1);
  press("ctrl+Print");
  EXPECT_TRUE(wait_for([&] {
    const auto files = inst.recordings();
    return files.size() == 1 && files[0].find(".tmp.mp4") == std::string::npos;
  }, 15));
}

bool wide_window_shown() {
  for (const auto& [id, width] : instance_windows())
    if (width > 100) return true;
  return false;
}
bool settings_shown() { return !sh("xdotool search --onlyvisible --name '^Frelvanta 3\\.3\\.0, '").empty(); }
void open_settings_from_the_tray() {
  sh("xdotool mousemove --window " + tray_icon_window() + " 8 8 click 3");
  sleep_s(0.8);
  sh("xdotool key Down Down Return");
}
void open_region_overlay() { press("ctrl+shift+Print"); }
void start_countdown() { press("ctrl+Print"); }

// A termination signal ends the instance through its normal shutdown
// whatever is open: the region overlay (whose own closing only cancels the
// selection), the start countdown (which must not go on to record) and the
// settings dialog are closed, and the exit code is 0.
TEST_F(ShellTrayE2E, SignalWithTheOverlayCountdownOrSettingsOpenEndsTheInstance) {
  const struct {
    const char* what;
    const char* ini;
    void (*open)();
    bool (*is_open)();
    int signal;
  } cases[] = {
      {"region overlay", "StartDelaySec=0\r\n", open_region_overlay, wide_window_shown, SIGTERM},
      {"countdown", "StartDelaySec=3\r\n", start_countdown, wide_window_shown, SIGHUP},
      {"settings", "StartDelaySec=0\r\n", open_settings_from_the_tray, settings_shown, SIGINT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TrayInstance inst("shell-signal", c.ini);
    ASSERT_TRUE(inst.start()) << "the tray icon did not appear";
    c.open();
    ASSERT_TRUE(wait_for(c.is_open, 10)) << "it did not open";
    inst.process.kill_now(c.signal);
    EXPECT_EQ(inst.process.wait(15), 0) << "the first signal must end the instance";
    EXPECT_TRUE(inst.recordings().empty());
  }
}

// The report's sequence: the overlay opened and closed, then a recording,
// then two signals in quick succession (a kill, then the terminal closing).
// The first starts the shutdown; the second, arriving while the recording is
// being finished, neither cuts it off nor changes the exit code.
TEST_F(ShellTrayE2E, SignalsAfterTheOverlaySaveTheRecording) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio", "--geometry", "1920x600+0+0"}, {}, "ready"));
  TrayInstance inst("shell-signal-rec");
  ASSERT_TRUE(inst.start()) << "the tray icon did not appear";
  open_region_overlay();
  ASSERT_TRUE(wait_for(wide_window_shown, 10)) << "no overlay";
  press("Escape");
  ASSERT_TRUE(wait_for([] { return !wide_window_shown(); }, 10)) << "the overlay stayed open";
  press("ctrl+Print");
  const std::string trace = inst.dir + "/frelvanta-runtrace.txt";
  ASSERT_TRUE(wait_for([&] { return read_text(trace).find("recording.started") != std::string::npos; }, 10))
      << "no recording started";
  sleep_s(2);
  inst.process.kill_now(SIGTERM);
  inst.process.kill_now(SIGHUP);
  EXPECT_EQ(inst.process.wait(20), 0);
  expect_one_finished_recording(inst, "the signals did not finish the recording");
}

TEST_F(ShellTrayE2E, IconComesBackWhenTheTrayRestarts) {
  TrayInstance inst("shell-restart");
  ASSERT_TRUE(inst.start()) << "the tray icon did not appear";
  tray_->kill_now(SIGTERM);
  tray_->wait(5);
  EXPECT_TRUE(wait_for([] { return tray_icon_window().empty(); }, 5));
  delete tray_;
  tray_ = new Background;
  ASSERT_TRUE(tray_->start({"/usr/bin/env", "trayer", "--edge", "bottom", "--SetDockType", "true"}, {}));
  EXPECT_TRUE(wait_for([] { return !tray_icon_window().empty(); }, 10)) << "the icon did not come back";
  EXPECT_EQ(waitpid(inst.process.pid(), nullptr, WNOHANG), 0);
}
}  // namespace
