#include "app/tray_menu.h"

#include "app/shortcut_value.h"

const char kHomePageUrl[] = "https://frelvanta.org/";

std::vector<TrayMenuItem> tray_menu_items(bool recording, bool settings_available, bool donate_available) {
  return {
      {TRAY_CMD_HOME, "Frelvanta", true},
      {0, "", false},
      {TRAY_CMD_SETTINGS, "Settings", settings_available && !recording},
      {TRAY_CMD_DONATE, "Donate", donate_available},
      {TRAY_CMD_EXIT, "Exit", true},
  };
}

const char* tray_tip_for_state(bool active, bool paused) {
  if (!active) return "Frelvanta";
  return paused ? "Recording (PAUSED)" : "Recording";
}

TrayIconState tray_icon_for_state(bool active, bool paused, bool have_paused_icon) {
  if (!active) return TrayIconState::kIdle;
  return paused && have_paused_icon ? TrayIconState::kPaused : TrayIconState::kRecording;
}

std::string no_tray_notice(uint32_t monitor, uint32_t window, uint32_t region, uint32_t pause, long pid) {
  std::string text = "Frelvanta runs in the background; this desktop has no tray for its icon.\n";
  auto line = [&](const char* what, uint32_t value) {
    if (value != 0) text += format_shortcut(value) + ": " + what + "\n";
  };
  line("record the monitor under the mouse pointer", monitor);
  line("record the active window", window);
  line("select a region to record", region);
  line("pause or resume a recording", pause);
  text += "A capture shortcut pressed during a recording stops it.\n";
  text += "To exit Frelvanta, end its process: kill " + std::to_string(pid);
  return text;
}
