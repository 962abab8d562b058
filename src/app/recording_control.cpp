// The main window's handling of the recording: the two recording timers, the
// stop request, pause and resume, and power events.
#include "app/recording_control.h"

#include "core/app_state.h"
#include "core/message_loop.h"
#include "app/region_overlay.h"
#include "app/tray_menu.h"
#include "core/ui_service.h"
#include "platform/clock.h"
#include "recording/recording.h"
#include "video/intake/frame_intake.h"
#include "core/trace.h"

void on_audio_timer() {
  if (!g_app.recording.active.load()) return;
  g_app.audio_tick_pending.exchange(1);
  if (g_app.audio_wake_event) g_app.audio_wake_event->set();
}

void on_watchdog_timer() {
  Recording& rec = g_app.recording;
  if (!rec.active.load() || rec.paused.load()) return;  // a paused recording is neither watched nor limited
  const int64_t now = qpc_now();
  const int64_t paused = rec.paused_total_qpc.load();
  const uint64_t elapsed = now > paused ? static_cast<uint64_t>(now - paused) : 0;

  g_app.watchdog_tick_pending.exchange(1);
  if (g_app.watchdog_wake_event) g_app.watchdog_wake_event->set();

  // On the recording clock, which leaves out paused time.
  if (length_limit_reached(static_cast<int64_t>(elapsed))) {
    trace_event("timer.limit_stop");
    post_stop_request();
  }
}

void on_stop_request() {
  if (!g_app.recording.active.load()) return;  // several requests for one recording cause one stop
  trace_event("message.stop_capture");
  stop_recording();
}

void toggle_pause() {
  Recording& rec = g_app.recording;
  if (!rec.active.load()) return;
  const int64_t now = qpc_now();
  if (!rec.paused.load()) {
    rec.begin_pause(now);
  } else {
    rec.end_pause(now);
  }
  tray_update_state();
}

void on_forced_sleep() {
  if (g_app.recording.active.load()) stop_recording();
}

void stop_recording() {
  recording_stop();
  if (g_app.recording.active.load() == 0) {
    hide_region_frame();
    tray_update_state();
  }
}
