#include "app/main_window.h"

#include "app/app_state.h"
#include "app/countdown.h"
#include "app/region_overlay.h"
#include "app/startup.h"
#include "app/ui_service.h"
#include "recording/recording.h"
#include "recording/recording_control.h"
#include "recording/trace.h"

namespace {
bool g_destroyed = false;

// WM_DESTROY: the application's shutdown, in this order.
void on_destroy() {
  end_countdown();
  if (g_app.recording.active.load()) recording_stop();
  if (g_app.skip_worker_join.load() == 0) stop_worker_threads();
  if (g_ui_service) g_ui_service->tray_delete();
  if (MessageLoop* loop = g_app.main_window.load()) loop->quit();
}
}  // namespace

void post_main_window_message(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (MessageLoop* loop = g_app.main_window) loop->post(msg, wparam, lparam);
}

void post_stop_request() { post_main_window_message(MSG_STOP_REQUEST, 0, 0); }

void main_window_created() {
  if (!g_app.cli_mode && g_ui_service) g_ui_service->tray_add();
}

void destroy_main_window() {
  if (g_destroyed) return;
  g_destroyed = true;
  main_window_proc(WM_DESTROY, 0, 0);
}

bool region_selection_pending() { return region_overlay_open(); }

void main_window_reset() { g_destroyed = false; }

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
      // While recording: 4 pauses or resumes, any capture shortcut stops.
      // Starting a capture by shortcut is the shortcut helper's part.
      if (g_app.recording.active.load()) {
        if (wparam == 4) {
          toggle_pause();
        } else {
          trace_event("message.hotkey_stop");
          post_stop_request();
        }
      }
      return 0;
    case MSG_FORCED_SLEEP:
      on_forced_sleep();
      return 1;
    default:
      return 0;
  }
}
