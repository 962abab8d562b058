#include "recording/watchdog.h"

#include "core/app_state.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "core/message_loop.h"
#include "core/trace.h"
#include "video/encode/encoder.h"
#include "video/intake/governor.h"

namespace {
// Seconds without a finished work item, while work waits, that count as a stall.
constexpr uint64_t kStallMs = 8000;

// The recording clock: the counter minus paused time, never negative.
int64_t recording_clock(int64_t now) {
  const int64_t paused = g_app.recording.paused_total_qpc.load();
  return now > paused ? now - paused : 0;
}

void check_stall() {
  Recording& rec = g_app.recording;
  Encoder& enc = g_app.encoder;
  if (!rec.active.load() || rec.stall_stop.load() != 0) return;
  if (!encoder_has_worker() || enc.worker_done.load() != 0 || enc.abandoned.load() != 0) return;
  const uint64_t time_base = static_cast<uint64_t>(enc.time_base.load());
  if (time_base == 0 || encoder_pending_count() == 0) return;

  // Measured from the later of the last finished item and the moment work
  // was last queued for an idle worker: after a long pause the worker has
  // had nothing to do, which is not a stall.
  uint64_t last = static_cast<uint64_t>(enc.last_activity.load());
  const uint64_t queued = static_cast<uint64_t>(enc.queue_busy_since.load());
  if (queued > last) last = queued;
  const uint64_t t = static_cast<uint64_t>(qpc_now());
  if (!(t > last && (t - last) * 1000 / time_base >= kStallMs)) return;

  rec.stall_stop.exchange(1);
  const char* stage = encoder_stage_name(enc.stage.load());
  const uint32_t queue = encoder_pending_count();
  trace_event(format_cut(128, "encoder.stalled stage=%s queue=%d", stage, static_cast<int>(queue)));
  post_stop_request();
}
}  // namespace

void watchdog_tick() {
  Recording& rec = g_app.recording;
  const int64_t freq = g_app.qpc_frequency;
  const int64_t now = qpc_now();
  const int64_t quarter = freq / 4 > 0 ? freq / 4 : 1;

  bool post = false;
  int64_t elapsed = 0;
  {
    std::lock_guard<std::mutex> lock(g_app.video_lock);
    if (rec.active.load() && !rec.paused.load()) {
      if (freq != 0 && now >= rec.next_heartbeat.load()) {
        trace_event("heartbeat.video_update");
        rec.next_heartbeat.store(now + freq);
      }
      audio_clamp();
      elapsed = recording_clock(now);
      // The picture's timeline stops where the recording ends.
      const int64_t end = rec.end_time.load();
      if (end != 0 && elapsed > end) elapsed = end;
      if (audio_pressure() < 50) {
        const int64_t last_frame = rec.last_frame_time.load();
        if (last_frame == 0 || elapsed - last_frame >= quarter) {
          rec.ticks_in_flight.fetch_add(1);
          g_app.recording.submits_in_flight.fetch_add(1);
          post = true;
        }
      }
    }
  }

  if (post) {
    g_app.encoder.time_base.store(freq);
    EncoderItem item{};
    item.type = ENCODER_ITEM_TICK;
    item.time = elapsed;
    item.time_base = static_cast<uint64_t>(freq);
    (void)encoder_enqueue(item);  // a full or closed queue loses this tick; the next comes 100 ms later
    const bool failed = g_app.encoder.write_failed.load() != 0;
    if (failed) rec.write_failed_stop.exchange(1);
    rec.ticks_in_flight.fetch_sub(1);
    if (g_app.recording.submits_in_flight.fetch_sub(1) == 1) address_wake_all(g_app.recording.submits_in_flight);
    if (failed) {
      trace_event("encoder.write_failed");
      post_stop_request();
    }
  }

  check_stall();
}

uint32_t watchdog_worker() {
  for (;;) {
    if (!g_app.watchdog_wake_event || !g_app.watchdog_wake_event->wait()) return 0;
    if (g_app.watchdog_quit.load()) return 0;
    if (g_app.watchdog_tick_pending.exchange(0) == 0) continue;
    watchdog_tick();
  }
}
