// End-to-end: on a desktop with no tray host at all, the instance's notices
// go to the desktop's notification service, on a private session bus with a
// stand-in for the service and the file manager (fv_notification_service):
// the start-up notice, a refused recording start with its urgency and click
// action, and the click that opens the folder of the last recording. With a
// StatusNotifierItem host, a left click on the icon opens the Settings.
// In a Wayland session the shortcuts come from the desktop portal (a
// stand-in, fv_portal_service): the four bindings with their triggers, and
// activations that start and stop a recording; without the portal's
// shortcuts, one notice and the tray menu's extra items.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"

namespace {
double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits until `file` holds `text`.
bool wait_for_text(const std::string& file, const std::string& text, double timeout_s) {
  for (const double end = seconds_now() + timeout_s; seconds_now() < end;) {
    if (read_text(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return read_text(file).find(text) != std::string::npos;
}

void key(const char* keys) { run_process({"/usr/bin/env", "xdotool", "key", keys}, {}, 10); }

bool tools_ready() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  return run_process({"/bin/sh", "-c", "xdpyinfo >/dev/null 2>&1 && command -v xdotool && command -v dbus-daemon"},
                     {}, 10)
             .exit_code == 0;
}
// A private installation of the executable on a private session bus (nothing
// of the user's desktop answers on it) with the stand-in service.
struct PrivateDesktop {
  std::string dir = make_temp_dir("notices");
  std::string videos = dir + "/videos", runtime = dir + "/run", exe = dir + "/frelvanta";
  std::string bus = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir + "/bus";
  Background daemon, service, portal, app;

  // `app_env` adds to the instance's environment; with `with_portal` the
  // stand-in portal runs on the bus too.
  // `before_app` runs once the bus is up, before the instance starts.
  bool start(const std::vector<std::string>& service_options, const std::vector<std::string>& app_env = {},
             bool with_portal = false, const std::function<bool()>& before_app = nullptr) {
    mkdir(videos.c_str(), 0755);
    mkdir(runtime.c_str(), 0700);
    if (!copy_file(FV_FRELVANTA_EXE, exe, true)) return false;
    write_text(dir + "/frelvanta.ini",
               "[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=" + videos +
                   "\r\nCaptureAudio=0\r\nCaptureMicrophone=0\r\nOpenFolder=0\r\nStartDelaySec=0\r\n"
                   "VideoMaxWidth=640\r\nVideoMaxHeight=360\r\n");
    std::vector<std::string> argv = {FV_NOTIFICATION_SERVICE_EXE};
    argv.insert(argv.end(), service_options.begin(), service_options.end());
    return daemon.start({"/usr/bin/env", "dbus-daemon", "--session", "--nofork", "--address=unix:path=" + dir + "/bus",
                         "--print-address=1"},
                        {}, "unix:") &&
           service.start(argv, {bus}, "ready") &&
           (!with_portal || portal.start({FV_PORTAL_SERVICE_EXE}, {bus}, "ready")) &&
           (!before_app || before_app()) && start_app(app_env);
  }
  bool start_app(const std::vector<std::string>& app_env) {
    std::vector<std::string> env = {bus, "XDG_RUNTIME_DIR=" + runtime};
    env.insert(env.end(), app_env.begin(), app_env.end());
    return app.start({exe}, env);
  }
  // A finished recording in the videos folder.
  bool recorded(double timeout_s) const {
    for (const double end = seconds_now() + timeout_s; seconds_now() < end;) {
      for (const std::string& name : split_lines(run_process({"/bin/ls", videos}, {}, 10).output))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0 && name.find(".tmp") == std::string::npos)
          return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
  }
  const std::string& log() const { return service.output_file(); }
  ~PrivateDesktop() {
    app.kill_now(SIGKILL);
    portal.kill_now(SIGTERM);
    portal.wait(10);
    service.kill_now(SIGTERM);
    daemon.kill_now(SIGTERM);
    service.wait(10);
    daemon.wait(10);
    run_process({"/bin/rm", "-rf", dir}, {}, 20);
  }
};
}  // namespace

TEST(NotificationsE2E, WithoutATrayARefusedStartReachesTheNotificationServiceAndItsClickOpensTheFolder) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  ASSERT_TRUE(desk.start({"--click"}));
  const std::string& log = desk.log();
  const std::string& videos = desk.videos;

  // No tray: the start-up notice says how to reach and end the instance,
  // and stays until it is read.
  EXPECT_TRUE(wait_for_text(log, "notify urgency=1 actions= summary=Frelvanta body=Frelvanta runs in the background", 20))
      << read_text(log);

  // A short recording, so a click on a later notice has a folder to open.
  key("ctrl+Print");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  key("ctrl+Print");
  ASSERT_TRUE(desk.recorded(20)) << run_process({"/bin/ls", "-la", videos}, {}, 10).output;

  // The window shortcut with no window in the foreground (no window
  // manager, nothing focused) is refused: a warning, normal urgency, whose
  // click is the balloon's click.
  key("ctrl+super+Print");
  EXPECT_TRUE(wait_for_text(
      log, "notify urgency=1 actions=default,Open folder summary=Cannot Start Recording body=No window is selected!", 20))
      << read_text(log);
  EXPECT_TRUE(wait_for_text(log, "show-items file://" + videos + "/", 20)) << read_text(log);

  desk.app.kill_now(SIGTERM);
  EXPECT_EQ(desk.app.wait(30), 0);
}

// A StatusNotifierItem host has no double click: a left click on the icon
// (Activate) opens the Settings, as the double click does on other trays.
TEST(NotificationsE2E, StatusNotifierLeftClickOpensTheSettings) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  ASSERT_TRUE(desk.start({"--watcher", "--activate"}));
  EXPECT_TRUE(wait_for_text(desk.log(), "activated ", 20)) << read_text(desk.log());
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    shown = run_process({"/usr/bin/env", "xdotool", "search", "--onlyvisible", "--name", "^Frelvanta 3"}, {}, 10)
                .exit_code == 0;
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(shown) << "no Settings dialog after the click";
  // A tray host is there: no start-up notice about a missing tray.
  EXPECT_EQ(read_text(desk.log()).find("runs in the background"), std::string::npos) << read_text(desk.log());
}

namespace {
// Waits for a visible Settings dialog of the instance.
bool settings_shown() {
  for (int i = 0; i < 100; ++i) {
    if (run_process({"/usr/bin/env", "xdotool", "search", "--onlyvisible", "--name", "^Frelvanta 3"}, {}, 10)
            .exit_code == 0)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}
}  // namespace

// A StatusNotifierItem host that starts after the instance (the toolkit
// looked for one only when the icon was made) gets the icon, and gets it
// again when its watcher restarts; its left click opens the Settings.
TEST(NotificationsE2E, StatusNotifierHostStartedLaterGetsTheIconAgainAfterARestart) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  ASSERT_TRUE(desk.start({}));
  EXPECT_TRUE(wait_for_text(desk.log(), "runs in the background", 20)) << read_text(desk.log());
  {
    Background host;
    ASSERT_TRUE(host.start({FV_NOTIFICATION_SERVICE_EXE, "--only-watcher", "--activate"}, {desk.bus}, "ready"));
    EXPECT_TRUE(wait_for_text(host.output_file(), "sni-item ", 20)) << read_text(host.output_file());
    EXPECT_TRUE(wait_for_text(host.output_file(), "activated ", 20)) << read_text(host.output_file());
    EXPECT_TRUE(settings_shown()) << "no Settings dialog after the click";
    run_process({"/usr/bin/env", "xdotool", "key", "Escape"}, {}, 10);
    host.kill_now(SIGTERM);
    host.wait(10);
  }
  Background again;
  ASSERT_TRUE(again.start({FV_NOTIFICATION_SERVICE_EXE, "--only-watcher"}, {desk.bus}, "ready"));
  EXPECT_TRUE(wait_for_text(again.output_file(), "sni-item ", 20)) << read_text(again.output_file());
  again.kill_now(SIGTERM);
  again.wait(10);
}

// With a host from the start the toolkit's own item serves, and it too
// comes back to a watcher that restarts.
TEST(NotificationsE2E, StatusNotifierItemComesBackToARestartedWatcher) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  auto host = std::make_unique<Background>();
  // The watcher runs before the instance starts.
  ASSERT_TRUE(desk.start({}, {}, false, [&] {
    return host->start({FV_NOTIFICATION_SERVICE_EXE, "--only-watcher"}, {desk.bus}, "ready");
  }));
  EXPECT_TRUE(wait_for_text(host->output_file(), "sni-item ", 20)) << read_text(host->output_file());
  host->kill_now(SIGTERM);
  host->wait(10);
  host = std::make_unique<Background>();
  ASSERT_TRUE(host->start({FV_NOTIFICATION_SERVICE_EXE, "--only-watcher", "--activate"}, {desk.bus}, "ready"));
  EXPECT_TRUE(wait_for_text(host->output_file(), "sni-item ", 20)) << read_text(host->output_file());
  EXPECT_TRUE(wait_for_text(host->output_file(), "activated ", 20)) << read_text(host->output_file());
  EXPECT_TRUE(settings_shown()) << "no Settings dialog after the click";
  EXPECT_EQ(read_text(desk.log()).find("runs in the background"), std::string::npos) << read_text(desk.log());
}

namespace {
// The stand-in portal presses a shortcut of the session that bound last.
void portal_press(const PrivateDesktop& desk, const char* id) {
  run_process({"/usr/bin/env", "dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.portal.Desktop",
               "/test", "org.frelvanta.TestPortal.Press", std::string("string:") + id},
              {desk.bus}, 10);
}
// A Wayland session as the instance sees it; the display stays the test's
// X server, where it records.
const char kWaylandSession[] = "WAYLAND_DISPLAY=wayland-frelvanta-test";
// The recordings of these cases go through the test's X server.
const char kX11Capture[] = "FRELVANTA_CAPTURE=x11";
}  // namespace

TEST(PortalShortcutsE2E, BindsTheFourShortcutsAndAnActivationStartsAndStopsARecording) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  ASSERT_TRUE(desk.start({}, {kWaylandSession, kX11Capture}, true));
  const std::string& log = desk.portal.output_file();
  ASSERT_TRUE(wait_for_text(log, "bound 4", 20)) << read_text(log);
  for (const char* line : {"bind capture-monitor trigger=CTRL+Print description=Capture Monitor",
                           "bind capture-window trigger=CTRL+LOGO+Print description=Capture Window",
                           "bind capture-region trigger=CTRL+SHIFT+Print description=Capture Region",
                           "bind pause-resume trigger=CTRL+SHIFT+p description=Pause / Resume"})
    EXPECT_NE(read_text(log).find(line), std::string::npos) << line << "\n" << read_text(log);

  portal_press(desk, "capture-monitor");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  portal_press(desk, "capture-monitor");
  EXPECT_TRUE(desk.recorded(20)) << run_process({"/bin/ls", "-la", desk.videos}, {}, 10).output;
  EXPECT_EQ(read_text(desk.log()).find("not available"), std::string::npos) << read_text(desk.log());
  desk.app.kill_now(SIGTERM);
  EXPECT_EQ(desk.app.wait(30), 0);
}

// No portal offers the shortcuts (the bus may start the installed portal,
// which has no backend for them): one notice saying so, and the tray menu
// gains the capture items after the specified ones: chosen from the
// keyboard, the last enabled ones start and stop a recording.
TEST(PortalShortcutsE2E, WithoutThePortalOneNoticeAndTheMenuStartsAndStopsRecordings) {
  if (!tools_ready()) GTEST_SKIP() << "needs a display, xdotool and dbus-daemon (scripts/test-env.sh)";
  PrivateDesktop desk;
  ASSERT_TRUE(desk.start({"--watcher"}, {kWaylandSession, kX11Capture}));
  const std::string& log = desk.log();
  const std::string notice = "body=Keyboard shortcuts are not available in this desktop session";
  EXPECT_TRUE(wait_for_text(log, "notify urgency=1 actions= summary=Frelvanta " + notice, 30)) << read_text(log);
  ASSERT_TRUE(wait_for_text(log, "sni-item ", 20)) << read_text(log);
  std::string item = read_text(log).substr(read_text(log).find("sni-item ") + 9);
  item = item.substr(0, item.find('\n'));
  // A right click on the StatusNotifierItem, then a choice from the
  // keyboard: Up from the top wraps to the last enabled item.
  auto choose = [&](const std::vector<std::string>& keys) {
    run_process({"/usr/bin/env", "dbus-send", "--session", "--print-reply", "--dest=" + item, "/StatusNotifierItem",
                 "org.kde.StatusNotifierItem.ContextMenu", "int32:10", "int32:10"},
                {desk.bus}, 10);
    // The popup menu is the instance's one visible window.
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
      shown = run_process({"/usr/bin/env", "xdotool", "search", "--onlyvisible", "--class", "frelvanta"}, {}, 10)
                  .exit_code == 0;
      if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(shown) << "no menu after the right click";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<std::string> argv = {"/usr/bin/env", "xdotool", "key", "--delay", "150"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    run_process(argv, {}, 10);
  };
  // Idle, Pause is disabled: Up three times is Capture Monitor.
  choose({"Up", "Up", "Up", "Return"});
  bool started = false;
  for (int i = 0; i < 100 && !started; ++i) {
    started = run_process({"/bin/sh", "-c", "ls '" + desk.videos + "' | grep -q tmp.mp4"}, {}, 10).exit_code == 0;
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(started) << "Capture Monitor started nothing";
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // Recording: Pause is the last; Up twice is Capture Region, which stops.
  choose({"Up", "Up", "Return"});
  EXPECT_TRUE(desk.recorded(20)) << run_process({"/bin/ls", "-la", desk.videos}, {}, 10).output;
  size_t count = 0;
  const std::string text = read_text(log);
  for (size_t at = text.find(notice); at != std::string::npos; at = text.find(notice, at + 1)) ++count;
  EXPECT_EQ(count, 1u) << text;
}
