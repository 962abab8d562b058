#include "app/main_window.h"

#include <atomic>

#include "core/app_state.h"
#include "app/capture_request.h"
#include "app/countdown.h"
#include "app/region_overlay.h"
#include "app/shell_dialogs.h"
#include "app/shortcuts.h"
#include "app/startup.h"
#include "app/tray_menu.h"
#include "core/ui_service.h"
#include "platform/system.h"
#include "core/desktop_session.h"
#include "settings/config_store.h"
#include "recording/recording.h"
#include "app/recording_control.h"
#include "core/trace.h"

namespace {
bool g_destroyed = false;
// The shutdown has stopped any recording; what is left may wait without limit.
std::atomic<bool> g_shutdown_past_bounded_waits{false};

// WM_DESTROY: the application's shutdown, in this order.
void on_destroy() {
  end_countdown();
  // A shutdown that comes while the selection is open (a termination
  // request) drops it; a command-line run then ends with its code 2.
  if (region_overlay_open()) cancel_region_overlay();
  if (g_app.recording.active.load()) stop_recording();
  g_shutdown_past_bounded_waits = true;
  if (g_app.skip_worker_join.load() == 0) stop_worker_threads();
  if (g_ui_service) g_ui_service->tray_delete();
  if (MessageLoop* loop = g_app.main_window.load()) loop->quit();
}

bool recording_active() { return g_app.recording.active.load() != 0; }

// Adds the icon with the state's picture and the plain tooltip; the state's
// tooltip comes back with the next change of state.
void tray_add() {
  if (g_app.cli_mode || !g_ui_service) return;
  const Recording& rec = g_app.recording;
  g_ui_service->tray_add();
  g_ui_service->tray_set_icon(tray_icon_for_state(rec.active.load() != 0, rec.paused.load() != 0));
  g_ui_service->tray_set_tip("Frelvanta");
}

// Settings (menu, or a double click while idle). The shortcuts are taken
// again only after OK, so a cancelled dialog changes nothing.
void open_settings() {
  if (!g_show_settings_dialog) return;
  if (g_show_settings_dialog(&g_app.config) == 0) return;
  config_save(g_app.config);
  unregister_shortcuts();
  if (!register_shortcuts()) report_shortcut_conflicts();
}

void on_hotkey(uintptr_t id);

// A tray menu command, chosen in our popup menu or in the one a desktop
// draws itself.
void tray_command(int id) {
  if (!g_ui_service) return;
  if (const int hotkey = tray_command_hotkey(id)) {
    on_hotkey(static_cast<uintptr_t>(hotkey));  // the item stands in for its shortcut
    return;
  }
  switch (id) {
    case TRAY_CMD_HOME:
      if (kHomePageUrl[0]) {
        g_ui_service->open_url(kHomePageUrl);
      } else {
        show_tray_notification("This build has no project web page.", "", NOTIFY_INFO);
      }
      break;
    case TRAY_CMD_EXIT:
      destroy_main_window();  // stops a running recording first
      break;
    case TRAY_CMD_SETTINGS:
      // The item is disabled while recording, but a recording may have
      // started while the menu was open.
      if (!recording_active()) open_settings();
      break;
    case TRAY_CMD_DONATE:
      if (g_show_donate_dialog) g_show_donate_dialog();
      break;
    default:
      break;
  }
}

void tray_menu() {
  if (g_ui_service) tray_command(g_ui_service->tray_popup_menu(tray_menu_now()));
}

void on_tray_callback(intptr_t lparam) {
  switch (static_cast<uint32_t>(lparam) & 0xFFFFu) {
    case TRAY_EVENT_RBUTTONUP:
      tray_menu();
      break;
    case TRAY_EVENT_LBUTTONDBLCLK:
      if (!recording_active()) open_settings();
      break;
    case TRAY_EVENT_BALLOON_CLICK:
      open_output_folder();
      break;
    default:
      break;
  }
}

void on_hotkey(uintptr_t id) {
  if (recording_active()) {
    if (id == kHotkeyPause) {
      toggle_pause();
    } else {
      // A capture shortcut pressed while recording stops the recording.
      trace_event("message.hotkey_stop");
      post_stop_request();
    }
    return;
  }
  if (g_app.capture_request_active != 0) return;
  if (countdown_pending()) {
    end_countdown();  // any shortcut cancels the countdown, and does nothing else
    release_unused_capture();
    return;
  }
  if (region_overlay_open()) return;
  if (id >= CAPTURE_WINDOW && id <= CAPTURE_REGION) start_with_delay(static_cast<CaptureMode>(id));
}
}  // namespace

std::vector<TrayMenuItem> tray_menu_now() {
  return tray_menu_items(recording_active(), g_show_settings_dialog != nullptr, g_show_donate_dialog != nullptr,
                         g_app.shortcuts_unavailable);
}

void main_window_created() {
  if (g_app.cli_mode || !g_ui_service) return;
  tray_add();
  if (!g_ui_service->tray_available()) {
    // Without a tray the instance would run unseen: say once how to use it
    // and how to end it.
    const Config& c = g_app.config;
    g_ui_service->desktop_notice(
        no_tray_notice(c.ShortcutMonitor, c.ShortcutWindow, c.ShortcutRect, c.ShortcutPause, current_process_id()),
        "Frelvanta");
  }
}

void shortcuts_unavailable() {
  if (g_app.shortcuts_unavailable) return;
  g_app.shortcuts_unavailable = true;
  trace_event("shortcuts.unavailable");
  if (g_ui_service) g_ui_service->tray_menu_changed();
  if (!g_app.cli_mode && g_ui_service) g_ui_service->desktop_notice(no_shortcuts_notice(), "Frelvanta");
}

void open_output_folder() {
  const std::string& path = g_app.recording.output_path;
  if (!path.empty() && g_desktop_session) g_desktop_session->show_in_folder(path);
}

void destroy_main_window() {
  if (g_destroyed) return;
  g_destroyed = true;
  main_window_proc(WM_DESTROY, 0, 0);
}

bool request_termination() {
  if (g_shutdown_past_bounded_waits) return true;
  post_main_window_message(MSG_TERMINATION_REQUEST, 0, 0);
  return false;
}

bool region_selection_pending() { return region_overlay_open(); }

void main_window_reset() {
  g_destroyed = false;
  g_shutdown_past_bounded_waits = false;
}

intptr_t main_window_proc(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case WM_DESTROY:
      on_destroy();
      return 0;
    case WM_CLOSE:
      // Closing the region overlay cancels the selection, not the application.
      if (region_overlay_open()) {
        cancel_region_overlay();
      } else {
        destroy_main_window();
      }
      return 0;
    case MSG_TERMINATION_REQUEST:
      destroy_main_window();
      return 0;
    case WM_ACTIVATEAPP:
      if (region_overlay_open() && wparam == 0) cancel_region_overlay();
      return 0;
    case WM_KEYDOWN:
      if (region_overlay_open()) {
        if (wparam == VK_ESCAPE) cancel_region_overlay();
        if (wparam == VK_RETURN) region_overlay_enter();
      }
      return 0;
    case WM_LBUTTONDOWN:
      if (region_overlay_open()) region_mouse_down(mouse_x(lparam), mouse_y(lparam));
      return 0;
    case WM_MOUSEMOVE:
      if (region_overlay_open()) region_mouse_move(mouse_x(lparam), mouse_y(lparam), (wparam & MK_LBUTTON) != 0);
      return 0;
    case WM_LBUTTONUP:
      if (region_overlay_open()) region_mouse_up();
      return 0;
    case MSG_ALREADY_RUNNING:
      show_tray_notification("Frelvanta is already running!", "", NOTIFY_INFO);
      return 0;
    case WM_TIMER:
      if (wparam == TIMER_COUNTDOWN) countdown_timer_step();
      if (wparam == TIMER_AUDIO_TICK) on_audio_timer();
      if (wparam == TIMER_WATCHDOG_TICK) on_watchdog_timer();
      return 0;
    case MSG_STOP_REQUEST:
      on_stop_request();
      return 0;
    case WM_HOTKEY:
      on_hotkey(wparam);
      return 0;
    case MSG_TRAY_CALLBACK:
      on_tray_callback(lparam);
      return 0;
    case MSG_TASKBAR_CREATED:
      tray_add();
      return 0;
    case MSG_TRAY_COMMAND:
      tray_command(static_cast<int>(wparam));
      return 0;
    case MSG_FORCED_SLEEP:
      on_forced_sleep();
      return 1;
    default:
      return 0;
  }
}
