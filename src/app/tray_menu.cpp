#include "app/tray_menu.h"

#include "app/shortcut_value.h"
#include "app/shortcuts.h"
#include "core/app_state.h"

#ifndef FRELVANTA_PROJECT_URL
#define FRELVANTA_PROJECT_URL ""
#endif

// The project's web page comes from the build; a build without one says so.
const char kHomePageUrl[] = FRELVANTA_PROJECT_URL;

std::vector<TrayMenuItem> tray_menu_items(bool recording, bool settings_available, bool donate_available,
                                          bool shortcut_items) {
  std::vector<TrayMenuItem> items = {
      {TRAY_CMD_HOME, "Frelvanta", true},
      {0, "", false},
      {TRAY_CMD_SETTINGS, "Settings", settings_available && !recording},
      {TRAY_CMD_DONATE, "Donate", donate_available},
      {TRAY_CMD_EXIT, "Exit", true},
  };
  if (shortcut_items) {
    // They do what their shortcuts do: a capture item chosen during a
    // recording stops it, so they stay enabled then.
    items.push_back({0, "", false});
    items.push_back({TRAY_CMD_CAPTURE_MONITOR, "Capture Monitor", true});
    items.push_back({TRAY_CMD_CAPTURE_WINDOW, "Capture Window", true});
    items.push_back({TRAY_CMD_CAPTURE_REGION, "Capture Region", true});
    items.push_back({TRAY_CMD_PAUSE, "Pause", recording});
  }
  return items;
}

int tray_command_hotkey(int command) {
  switch (command) {
    case TRAY_CMD_CAPTURE_MONITOR:
      return CAPTURE_MONITOR;
    case TRAY_CMD_CAPTURE_WINDOW:
      return CAPTURE_WINDOW;
    case TRAY_CMD_CAPTURE_REGION:
      return CAPTURE_REGION;
    case TRAY_CMD_PAUSE:
      return kHotkeyPause;
    default:
      return 0;
  }
}

const char* tray_tip_for_state(bool active, bool paused) {
  if (!active) return "Frelvanta";
  return paused ? "Recording (PAUSED)" : "Recording";
}

TrayIconState tray_icon_for_state(bool active, bool paused, bool have_paused_icon) {
  if (!active) return TrayIconState::kIdle;
  return paused && have_paused_icon ? TrayIconState::kPaused : TrayIconState::kRecording;
}

void tray_update_state() {
  if (!g_ui_service) return;
  const Recording& rec = g_app.recording;
  const bool active = rec.active.load() != 0, paused = rec.paused.load() != 0;
  g_ui_service->tray_set_icon(tray_icon_for_state(active, paused));
  g_ui_service->tray_set_tip(tray_tip_for_state(active, paused));
  g_ui_service->tray_menu_changed();
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

std::string no_shortcuts_notice() {
  return "Keyboard shortcuts are not available in this desktop session.\n"
         "Start a recording from the tray menu: Capture Monitor, Capture Window or Capture Region. "
         "Choose any of them again to stop the recording, and Pause to pause or resume it.";
}
