#include "e2e/desktop_support.h"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

bool selection_owned(const char* name) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool owned = false;
  if (!xcb_connection_has_error(c)) {
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    if (atom) {
      xcb_get_selection_owner_reply_t* owner =
          xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
      owned = owner && owner->owner != XCB_NONE;
      std::free(owner);
      std::free(atom);
    }
  }
  xcb_disconnect(c);
  return owned;
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
  // The window manager and tray of an earlier test may still be going away:
  // ours start once the screen has neither.
  if (!wait_for([] { return !selection_owned("WM_S0") && !selection_owned("_NET_SYSTEM_TRAY_S0"); }, 10))
    std::fprintf(stderr, "an earlier window manager or tray still holds the screen\n");
  wm_->start({"/usr/bin/env", "openbox"}, {});
  if (!wait_for([] { return selection_owned("WM_S0"); }, 15)) std::fprintf(stderr, "openbox did not come up\n");
  tray_->start({"/usr/bin/env", "trayer", "--edge", "bottom", "--SetDockType", "true"}, {});
  if (!wait_for([] { return selection_owned("_NET_SYSTEM_TRAY_S0"); }, 15))
    std::fprintf(stderr, "trayer did not come up\n");
}

void TrayDesktopTest::stop_desktop() {
  delete tray_;
  delete wm_;
  tray_ = wm_ = nullptr;
}
