#include "e2e/desktop_support.h"

#include <cstdlib>

std::string sh(const std::string& command, double timeout_s) {
  return run_process({"/bin/sh", "-c", command}, {}, timeout_s).output;
}

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool desktop_tools_ready(const std::string& extra) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  std::string check = "xdpyinfo >/dev/null 2>&1";
  for (const std::string& tool : {std::string("openbox"), std::string("trayer"), std::string("xdotool")})
    check += " && command -v " + tool;
  if (!extra.empty()) check += " && for t in " + extra + "; do command -v $t || exit 1; done";
  return run_process({"/bin/sh", "-c", check}, {}, 10).exit_code == 0;
}

std::vector<std::pair<std::string, int>> instance_windows() {
  std::vector<std::pair<std::string, int>> out;
  for (const std::string& id : split_lines(sh("xdotool search --onlyvisible --classname frelvanta"))) {
    if (id.empty()) continue;
    const std::string geo = sh("xdotool getwindowgeometry " + id);
    const size_t at = geo.find("Geometry: ");
    out.push_back({id, at == std::string::npos ? 0 : std::atoi(geo.c_str() + at + 10)});
  }
  return out;
}

std::string tray_icon_window() {
  for (const auto& [id, width] : instance_windows())
    if (width > 0 && width <= 64) return id;
  return "";
}

void TrayDesktopTest::start_desktop(const std::string& extra_tools) {
  if (!desktop_tools_ready(extra_tools)) return;
  wm_ = new Background;
  tray_ = new Background;
  wm_->start({"/usr/bin/env", "openbox"}, {});
  sleep_s(1);
  tray_->start({"/usr/bin/env", "trayer", "--edge", "bottom", "--SetDockType", "true"}, {});
  sleep_s(1);
}

void TrayDesktopTest::stop_desktop() {
  delete tray_;
  delete wm_;
  tray_ = wm_ = nullptr;
}
