#include <mutex>
#include <string>

#include "core/app_state.h"
#include "core/message_loop.h"
#include "core/ui_service.h"
#include "audio/audio_capture.h"
#include "audio/mixer.h"
#include "capture/capture.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "core/desktop_session.h"
#include "recording/diagnostics_report.h"
#include "recording/recording.h"
#include "recording/stop_outcome.h"
#include "core/trace.h"
#include "video/encode/encoder.h"

namespace {
constexpr uint32_t kVideoSettleMs = 2000;
constexpr uint32_t kVideoSettlePollMs = 50;
constexpr uint32_t kAudioLockMs = 1000;
constexpr uint32_t kWorkerWaitMs = 4000;

bool stream_open(const AudioCapture& c) { return c.audio_client != nullptr; }

void show_outcome(const StopOutcome& o) {
  switch (o.channel) {
    case OutcomeChannel::kNone:
      break;
    case OutcomeChannel::kBoxInteractive:
      if (!g_app.cli_mode && g_ui_service) g_ui_service->message_box(o.text, o.caption, o.icon);
      break;
    case OutcomeChannel::kBoxAlways:
      // A command-line run without a desktop still gets the text, on the console.
      if (g_ui_service) {
        g_ui_service->message_box(o.text, o.caption, o.icon);
      } else {
        show_message(o.text, o.caption, o.icon);
      }
      break;
    case OutcomeChannel::kMessage:
      show_message(o.text, o.caption, o.icon);
      break;
  }
}

// Takes `lock` within `ms` milliseconds. Every wait of the stop is bounded:
// a holder that never lets go must not hold up the main thread.
bool lock_within(std::mutex& lock, uint32_t ms) {
  const int64_t since = qpc_now();
  while (!lock.try_lock()) {
    if (elapsed_ms(since) >= ms) return false;
    sleep_ms(1);
  }
  return true;
}

// What the phases of a stop learn and hand on.
struct StopState {
  bool was_paused = false;
  int64_t sound_end = 0;  // on the capture clock (paused time included)
  bool audio_open = false;
  bool video_settled = false;
  bool audio_drained = false;
  uint32_t sound_breaks = 0;
  bool finalized = false;
  bool stop_timed_out = false;
  bool has_video = false;
  bool write_failed = false;
};

// From here on the workers no longer treat the recording as live. Frame
// intake takes no picture after this moment, and the sound ends with it.
void end_live_recording(StopState& s) {
  Recording& rec = g_app.recording;
  trace_event("stop.begin");
  s.was_paused = rec.paused.load() != 0;
  if (s.was_paused) rec.end_pause(qpc_now());
  const int64_t stopped_at = qpc_now();
  rec.mark_end(stopped_at > rec.paused_total_qpc.load() ? stopped_at - rec.paused_total_qpc.load() : 1);
  s.sound_end = rec.end_time.load() + rec.paused_total_qpc.load();
  rec.active.store(0);
  rec.start_qpc.store(0);
  if (g_desktop_session) g_desktop_session->keep_awake(false);
}

// Timers first: no new audio or watchdog ticks. Then no new frames.
void stop_timers_and_capture(StopState& s) {
  s.audio_open = stream_open(g_app.system_capture) || stream_open(g_app.mic_capture);
  if (s.audio_open) {
    if (MessageLoop* loop = g_app.main_window.load()) loop->kill_timer(TIMER_AUDIO_TICK);
    g_app.audio_tick_pending.exchange(0);
  }
  if (MessageLoop* loop = g_app.main_window.load()) loop->kill_timer(TIMER_WATCHDOG_TICK);
  g_app.watchdog_tick_pending.exchange(0);
  trace_event("stop.video_timer_stopped");
  capture_stop(&g_app.capture);
  trace_event("stop.capture_stopped");
}

// A frame being taken in finishes first, then the submissions in flight.
// True when both happened in time.
bool settle_video() {
  Recording& rec = g_app.recording;
  trace_event("stop.video_state_wait_begin");
  const bool video_state_passed = lock_within(g_app.video_lock, kVideoSettleMs);
  if (video_state_passed) g_app.video_lock.unlock();
  trace_event(video_state_passed ? "stop.video_state_wait_done" : "stop.video_state_wait_timeout");

  trace_event("stop.video_encoder_wait_begin");
  trace_event(format_cut(128, "%s total=%ld frame=%ld update=%ld", "stop.video_encoder_wait_counts",
                         static_cast<long>(rec.submits_in_flight.load()),
                         static_cast<long>(rec.frames_in_flight.load()),
                         static_cast<long>(rec.ticks_in_flight.load())));
  bool video_settled = false;
  const int64_t since = qpc_now();
  for (;video_state_passed;) {
    const uint32_t value = rec.submits_in_flight.load();
    if (value == 0) {
      video_settled = true;
      break;
    }
    if (elapsed_ms(since) >= kVideoSettleMs) break;
    address_wait(rec.submits_in_flight, value, kVideoSettlePollMs);
  }
  trace_event(video_settled ? "stop.video_encoder_wait_done" : "stop.video_encoder_wait_timeout");
  return video_settled;
}

// The sound up to the end of the recording goes to the encoder (nothing of
// it when stopped while paused). True when the audio worker let go in time;
// otherwise the streams stay open under the stuck worker.
bool drain_audio(const StopState& s) {
  trace_event("stop.audio_drain_begin");
  if (!lock_within(g_app.audio_lock, kAudioLockMs)) {
    trace_event("stop.audio_lock_timeout");
    return false;
  }
  trace_event("stop.audio_lock_acquired");
  audio_capture_stop(&g_app.system_capture, s.sound_end);
  audio_capture_stop(&g_app.mic_capture, s.sound_end);
  if (s.was_paused) {
    discard_audio();
  } else {
    mix_audio(true, static_cast<uint64_t>(qpc_now() + 2 * g_app.qpc_frequency));
    // A stream that went away may not have come back: the sound ended
    // there, and the track is made up to the recording's length. The
    // encoder takes that block before the stop request, which drops what is
    // still queued (at most a second's wait).
    if (g_app.system_capture.interruptions.load() + g_app.mic_capture.interruptions.load() != 0) {
      pad_silence_to_end();
      for (int waited = 0; waited < 1000 && encoder_pending_count() != 0; ++waited) sleep_ms(1);
    }
  }
  release_pending(&g_app.mixer.system_pending);
  release_pending(&g_app.mixer.mic_pending);
  g_app.audio_lock.unlock();
  trace_event("stop.audio_drain_done");
  return true;
}

// Breaks in the sound, read before the records are closed and zeroed.
uint32_t count_sound_breaks() {
  const uint32_t breaks = g_app.system_capture.interruptions.load() + g_app.mic_capture.interruptions.load();
  if (breaks != 0) trace_eventf("stop.audio_interrupted count=%u", breaks);
  return breaks;
}

void close_drained_streams() {
  if (stream_open(g_app.mic_capture)) {
    close_capture(&g_app.mic_capture);
    audio_capture_zero(&g_app.mic_capture);
  }
  if (stream_open(g_app.system_capture)) {
    close_capture(&g_app.system_capture);
    audio_capture_zero(&g_app.system_capture);
  }
  trace_event("stop.audio_capture_stopped");
}

// The encoder worker finalises the file, or is abandoned when the video or
// the sound did not settle or it does not end in time.
void stop_encoder(StopState& s) {
  Encoder& enc = g_app.encoder;
  trace_event("stop.encoder_stop_begin");
  if (!s.video_settled || (s.audio_open && !s.audio_drained)) {
    g_app.skip_worker_join.store(1);
    enc.accepting.exchange(0);
    enc.abandoned.store(1);
    enc.stop_timed_out.store(1);
  } else if (enc.abandoned.load() == 0 && encoder_has_worker()) {
    encoder_request_stop();
    if (encoder_wait_worker(kWorkerWaitMs)) {
      s.finalized = enc.finalize_ok.load() != 0;
    } else {
      enc.stop_timed_out.store(1);
      enc.abandoned.store(1);
    }
  }
  s.stop_timed_out = enc.stop_timed_out.load() != 0;
  if (s.stop_timed_out) g_app.skip_worker_join.store(1);
  s.has_video = enc.has_video_sample.load() != 0;
  if (s.stop_timed_out) {
    s.has_video = false;
    trace_event("stop.encoder_stop_timeout");
  } else {
    trace_event("stop.encoder_stop_done");
  }
  s.write_failed = g_app.recording.write_failed_stop.load() != 0;
}

// The file's name and the outcome; returns the file the user is left with
// (empty: none). The outcome box runs a nested event loop in which a
// shortcut may start the next recording; so this recording's paths are
// taken out of the record and settled before the box is shown, and only the
// local copies are used afterwards.
std::string settle_file(const StopState& s) {
  Recording& rec = g_app.recording;
  const Config& cfg = g_app.config;
  std::string output = rec.output_path;
  if (!rec.temp_path.empty()) {
    const std::string temp = std::move(rec.temp_path);
    rec.temp_path.clear();
    // An abandoned worker may still be writing; the lock stays with the file
    // until the process ends so recovery never takes it for a dead one.
    if (!s.stop_timed_out) rec.temp_lock.unlock();
    StopResults r;
    r.stop_timed_out = s.stop_timed_out;
    r.finalized = s.finalized;
    r.moved = s.finalized && move_file(temp, output, true);
    r.has_video = s.has_video;
    r.write_failed = s.write_failed;
    r.stalled = rec.stall_stop.load() != 0;
    r.crash_safe = cfg.FragmentedOutput != 0 && cfg.VideoCodec == VIDEO_CODEC_H264;
    const std::string folder = path_directory(output);
    if (!r.moved && !regular_file_info(temp, nullptr, nullptr)) {
      r.file_gone = true;
      r.folder_gone = !directory_exists(folder);
    }
    const StopOutcome o = decide_stop_outcome(r, temp, output, folder);
    if (o.file == OutcomeFile::kDeleted) {
      if (!r.file_gone) delete_file(r.moved ? output : temp);
      output.clear();
    } else if (o.file == OutcomeFile::kKept) {
      output = temp;
    }
    rec.output_path = output;  // the last recording, for a click on a balloon
    if (g_app.cli_mode && (o.row != kRowSaved || g_app.display_lost.load() != 0) && g_app.exit_code == 0) {
      g_app.exit_code = 3;
    }
    show_outcome(o);
    if (s.sound_breaks != 0 && !output.empty()) show_outcome(sound_interrupted_notice(output));
  }
  trace_event("stop.rename_done");
  return output;
}
}  // namespace

void recording_stop() {
  StopState s;
  end_live_recording(s);
  stop_timers_and_capture(s);
  s.video_settled = settle_video();
  s.audio_drained = s.audio_open && drain_audio(s);
  s.sound_breaks = count_sound_breaks();

  trace_event("stop.diag_begin");
  write_diag_report();
  trace_event("stop.diag_done");

  if (s.audio_drained) close_drained_streams();
  stop_encoder(s);
  const std::string output = settle_file(s);

  if (g_app.config.OpenFolder != 0 && !output.empty() && g_desktop_session) {
    g_desktop_session->show_in_folder(output);
  }
  // An abandoned worker cannot be reused: the application closes.
  if (s.stop_timed_out || g_app.cli_mode) post_main_window_message(WM_CLOSE, 0, 0);
}
