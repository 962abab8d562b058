// End-to-end: on a desktop with no tray host at all, the instance's notices
// go to the desktop's notification service, on a private session bus with a
// stand-in for the service and the file manager (fv_notification_service):
// the start-up notice, a refused recording start with its urgency and click
// action, and the click that opens the folder of the last recording. With a
// StatusNotifierItem host, a left click on the icon opens the Settings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
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
  Background daemon, service, app;

  bool start(const std::vector<std::string>& service_options) {
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
           service.start(argv, {bus}, "ready") && app.start({exe}, {bus, "XDG_RUNTIME_DIR=" + runtime});
  }
  const std::string& log() const { return service.output_file(); }
  ~PrivateDesktop() {
    app.kill_now(SIGKILL);
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
  bool recorded = false;
  for (const double end = seconds_now() + 20; !recorded && seconds_now() < end;) {
    for (const std::string& name : split_lines(run_process({"/bin/ls", videos}, {}, 10).output))
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0 && name.find(".tmp") == std::string::npos)
        recorded = true;
    if (!recorded) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(recorded) << run_process({"/bin/ls", "-la", videos}, {}, 10).output;

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
