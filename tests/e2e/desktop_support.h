#pragma once
// A desktop for the interactive end-to-end tests: a window manager (openbox)
// and an XEmbed tray (trayer) on the test display, and the small helpers
// that drive it with xdotool.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/wait.h"

// Runs a shell command line; its standard output and error.
std::string sh(const std::string& command, double timeout_s = 10);
double now_s();
inline void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// Desktop conditions are mostly looked at through xdotool: every 100 ms.
template <class Pred>
bool wait_for(Pred pred, double timeout_s) {
  return wait_until(pred, std::chrono::milliseconds(static_cast<long>(timeout_s * 1000)),
                    std::chrono::milliseconds(100));
}

// A display answers and openbox, trayer, xdotool and the `extra` commands
// (space-separated) are installed.
bool desktop_tools_ready(const std::string& extra = "");
// Whether a client of the display owns the selection `name` (a window
// manager owns WM_S0, a tray _NET_SYSTEM_TRAY_S0).
bool selection_owned(const char* name);
// Ids of the visible windows of the Frelvanta instance, with their widths.
std::vector<std::pair<std::string, int>> instance_windows();
// The docked tray icon: the instance's small window inside the tray.
std::string tray_icon_window();

// Starts openbox and trayer once for the suite, each waited for until it
// has taken its selection, and stops them after it; without the tools every
// test is skipped with a note saying what it needs.
class TrayDesktopTest : public ::testing::Test {
 protected:
  static void start_desktop(const std::string& extra_tools);
  static void stop_desktop();
  void skip_without_desktop(const char* needs) {
    if (!wm_) GTEST_SKIP() << "needs a display with " << needs << " (scripts/install-deps.sh)";
  }
  static inline Background* wm_ = nullptr;
  static inline Background* tray_ = nullptr;
};
