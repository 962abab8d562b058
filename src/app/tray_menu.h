#pragma once
// What the tray shows: the popup menu, the tooltips of the recording states
// and the notice for a desktop without a tray. The backend only draws it.
#include <cstdint>
#include <string>
#include <vector>

#include "core/ui_service.h"

// Menu command ids.
constexpr int TRAY_CMD_HOME = 1;
constexpr int TRAY_CMD_EXIT = 2;
constexpr int TRAY_CMD_SETTINGS = 3;
constexpr int TRAY_CMD_DONATE = 4;
// Only where the desktop offers no global shortcuts: the shortcuts' actions.
constexpr int TRAY_CMD_CAPTURE_MONITOR = 5;
constexpr int TRAY_CMD_CAPTURE_WINDOW = 6;
constexpr int TRAY_CMD_CAPTURE_REGION = 7;
constexpr int TRAY_CMD_PAUSE = 8;

// Tray callback events (low word of the callback's lparam).
constexpr uint32_t TRAY_EVENT_RBUTTONUP = 0x205;
constexpr uint32_t TRAY_EVENT_LBUTTONDBLCLK = 0x203;
constexpr uint32_t TRAY_EVENT_BALLOON_CLICK = 0x405;

// The menu in its order: "Frelvanta", a separator, "Settings" (not while
// recording, nor when this build has no settings dialog), "Donate" (only
// when this build has the dialog), "Exit". With `shortcut_items` (the
// desktop has no global shortcuts) a separator and "Capture Monitor",
// "Capture Window", "Capture Region" and "Pause" (only while recording)
// follow.
std::vector<TrayMenuItem> tray_menu_items(bool recording, bool settings_available, bool donate_available,
                                          bool shortcut_items = false);
// The shortcut id a menu command stands for (the shortcut's WM_HOTKEY id);
// 0 for the other commands.
int tray_command_hotkey(int command);

// "Frelvanta" when idle, "Recording" or "Recording (PAUSED)".
const char* tray_tip_for_state(bool active, bool paused);
// The icon of the state; paused falls back to the recording icon when there
// is no paused icon.
TrayIconState tray_icon_for_state(bool active, bool paused, bool have_paused_icon = true);
// Shows the icon and tooltip of the current recording state on the tray.
void tray_update_state();

// Said once at start when the desktop has no tray: how to use and how to end
// the instance that would otherwise run unseen.
std::string no_tray_notice(uint32_t monitor, uint32_t window, uint32_t region, uint32_t pause, long pid);
// Said once at start when the desktop session has no global shortcuts.
std::string no_shortcuts_notice();

// The page the first menu item opens.
extern const char kHomePageUrl[];
