#include "video/intake/frame_intake.h"

#include <mutex>

#include "core/app_state.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "core/trace.h"
#include "video/intake/governor.h"
#include "video/intake/intake_links.h"

int64_t intake_qpc_frequency() { return g_app.qpc_frequency > 0 ? g_app.qpc_frequency : kQpcFrequency; }

void intake_reset() {
  Governor& gov = g_app.governor;
  gov.gate_rate = 0;
  gov.gate_deadline = 0;
  gov.clamp_call = 0;
  gov.clamp_hold_until = 0;
  governor_window_reset();
  Recording& rec = g_app.recording;
  rec.last_frame_time = 0;
  rec.first_encoded_time = 0;
  rec.max_frame_gap = 0;
  rec.callback_count = 0;
  rec.callback_work_count = 0;
  rec.callback_work_total = 0;
  rec.callback_interval_total = 0;
  rec.last_callback_enter = 0;
  rec.frames_in_flight = 0;
  rec.submits_in_flight = 0;
}

bool length_limit_reached(int64_t t) {
  const Config& cfg = g_app.config;
  if (cfg.EnableLimitLength == 0 || cfg.LimitLength == 0) return false;
  // The length counts from the first encoded frame (else the start).
  int64_t start = g_app.recording.first_encoded_time.load(std::memory_order_relaxed);
  if (start == 0) start = g_app.recording.start_qpc.load(std::memory_order_relaxed);
  const uint64_t length = uint64_t{cfg.LimitLength} * static_cast<uint64_t>(intake_qpc_frequency());
  if (start == 0 || t < start || static_cast<uint64_t>(t - start) < length) return false;
  // The file ends at the limit itself, not when the stop gets to run.
  g_app.recording.mark_end(start + static_cast<int64_t>(length));
  return true;
}

bool intake_limit_reached(int64_t t) {
  const Config& cfg = g_app.config;
  if (length_limit_reached(t)) return true;
  if (cfg.EnableLimitSize != 0 && cfg.LimitSize != 0) {
    uint64_t bytes = 0;
    if (!encoder_written_bytes(&bytes)) bytes = 0;
    // 99.5 % of LimitSize MiB, so the file stays under the limit after finalisation.
    if (bytes * 1000 >= uint64_t{cfg.LimitSize} * 1043333120ull) return true;
  }
  return false;
}

namespace {
// Pacing gate: lets through the first frame at or after each multiple of
// 1/rate seconds, counted from the frame at which the rate last changed.
// Returns false when the frame is to be dropped.
bool gate_pass(uint32_t rate, int64_t t) {
  Governor& gov = g_app.governor;
  uint64_t m = uint64_t{rate} * static_cast<uint64_t>(t);
  if (rate != gov.gate_rate) {
    gov.gate_deadline = m;
    if (gov.gate_rate != 0) {
      trace_eventf("encoder.rate_change %u->%u", gov.gate_rate, rate);
    } else {
      trace_eventf("encoder.rate_start %u", rate);
    }
    gov.gate_rate = rate;
    governor_window_reset();
  }
  if (m < gov.gate_deadline) return false;
  gov.gate_deadline += static_cast<uint64_t>(intake_qpc_frequency());
  return true;
}
}  // namespace

// The capture can hand over its first picture while recording start is
// still between starting the capture and going active. On a still screen
// that picture is the only one for a long time, so it must not be lost:
// wait (bounded) for the start to finish.
static bool wait_for_recording_start(const Recording& rec) {
  for (int waited = 0; rec.starting.load() != 0 && rec.active.load() == 0 && waited < 1000; ++waited) sleep_ms(1);
  return rec.active.load() != 0;
}

bool on_frame_arrived(Capture* capture, const CapturedFrame* frame) {
  (void)capture;
  Recording& rec = g_app.recording;
  if (frame == nullptr) {
    trace_event("frame.null");
    post_stop_request();
    return true;
  }
  if (rec.active.load() == 0 && !wait_for_recording_start(rec)) return true;
  int64_t enter = qpc_now();

  const Config& cfg = g_app.config;
  Governor& gov = g_app.governor;
  int64_t t = 0;
  int64_t prev = 0;
  bool submit = false, gate_drop = false, measured = false;
  {
    std::lock_guard<std::mutex> lock(g_app.video_lock);
    if (rec.active.load() == 0 || rec.paused.load() != 0) return true;
    int64_t paused_total = rec.paused_total_qpc.load(std::memory_order_relaxed);
    t = frame->time > paused_total ? frame->time - paused_total : 0;
    prev = rec.last_frame_time.load(std::memory_order_relaxed);
    rec.last_frame_time.store(t, std::memory_order_relaxed);
    if (prev != 0 && t > prev && t - prev > rec.max_frame_gap) rec.max_frame_gap = t - prev;
    rec.callback_count += 1;

    audio_clamp();

    uint32_t rate = (cfg.EnableAdaptiveGovernor != 0 && gov.governor_rate != 0) ? gov.governor_rate
                                                                                 : gov.frame_limit_rate;
    bool pass = true;
    if (rate != 0 && !gate_pass(rate, t)) {
      pass = false;
      gate_drop = true;
    }
    if (audio_streams_open() && audio_pressure() >= 75 && !audio_clamp_held()) pass = false;
    submit = pass && static_cast<uint64_t>(prev) < static_cast<uint64_t>(t);
    // Frames that arrive between the length limit and the stop are past the end.
    const int64_t end = rec.end_time.load(std::memory_order_relaxed);
    if (end != 0 && t > end) submit = false;
    measured = cfg.EnableAdaptiveGovernor != 0 && gov.governor_rate != 0;
  }

  bool encode_drop = false;
  if (submit) {
    rec.frames_in_flight.fetch_add(1);
    rec.submits_in_flight.fetch_add(1);
    bool ok = encoder_submit_video(frame->texture, frame->gpu, frame->content_rect, t, intake_qpc_frequency());
    if (ok) {
      int64_t none = 0;
      rec.first_encoded_time.compare_exchange_strong(none, t, std::memory_order_relaxed);
    } else {
      encode_drop = true;
    }
    bool failed = encoder_write_failed();
    if (failed) rec.write_failed_stop.exchange(1);
    rec.frames_in_flight.fetch_sub(1);
    if (rec.submits_in_flight.fetch_sub(1) == 1) address_wake_all(rec.submits_in_flight);
    if (failed) {
      trace_event("encoder.write_failed");
      post_stop_request();
    }
  }

  if (measured) {
    std::lock_guard<std::mutex> lock(g_app.video_lock);
    uint32_t r = gov.governor_rate;
    if (cfg.EnableAdaptiveGovernor != 0 && r != 0) {
      if (gov.window_start == 0) gov.window_start = t;
      gov.window_callbacks += 1;
      if (submit) gov.window_encoded += 1;
      if (gate_drop) gov.window_gate_drops += 1;
      if (encode_drop) gov.window_encode_drops += 1;
      if (static_cast<uint64_t>(t - gov.window_start) >= 5 * static_cast<uint64_t>(intake_qpc_frequency())) {
        governor_evaluate_window(t, r);
      }
    }
  }

  if (intake_limit_reached(t)) {
    trace_event("frame.limit_stop");
    post_stop_request();
    return true;
  }

  int64_t leave = qpc_now();
  rec.callback_work_count += 1;
  rec.callback_work_total += leave - enter;
  if (rec.last_callback_enter != 0 && enter > rec.last_callback_enter) {
    rec.callback_interval_total += enter - rec.last_callback_enter;
  }
  rec.last_callback_enter = enter;
  return true;
}
