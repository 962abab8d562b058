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
}  // namespace

void recording_stop() {
  Recording& rec = g_app.recording;
  Encoder& enc = g_app.encoder;
  const Config& cfg = g_app.config;

  // 1-2.
  trace_event("stop.begin");
  const bool was_paused = rec.paused.load() != 0;
  if (was_paused) rec.end_pause(qpc_now());

  // 3. From here on the workers no longer treat the recording as live. Frame
  // intake takes no picture after this moment, and the sound ends with it.
  const int64_t stopped_at = qpc_now();
  rec.mark_end(stopped_at > rec.paused_total_qpc.load() ? stopped_at - rec.paused_total_qpc.load() : 1);
  // On the capture clock (paused time included), where the sound stops.
  const int64_t sound_end = rec.end_time.load() + rec.paused_total_qpc.load();
  rec.active.store(0);
  rec.start_qpc.store(0);
  if (g_desktop_session) g_desktop_session->keep_awake(false);

  // 4-5. Timers first: no new audio or watchdog ticks.
  const bool audio_open = stream_open(g_app.system_capture) || stream_open(g_app.mic_capture);
  if (audio_open) {
    if (MessageLoop* loop = g_app.main_window.load()) loop->kill_timer(TIMER_AUDIO_TICK);
    g_app.audio_tick_pending.exchange(0);
  }
  if (MessageLoop* loop = g_app.main_window.load()) loop->kill_timer(TIMER_WATCHDOG_TICK);
  g_app.watchdog_tick_pending.exchange(0);
  trace_event("stop.video_timer_stopped");

  // 6. Capture: no new frames.
  capture_stop(&g_app.capture);
  trace_event("stop.capture_stopped");

  // 7. A frame being taken in finishes first.
  // Bounded like every other wait of the stop: a holder that never lets go
  // must not hold up the main thread.
  trace_event("stop.video_state_wait_begin");
  bool video_state_passed = false;
  {
    const int64_t tl = qpc_now();
    while (!(video_state_passed = g_app.video_lock.try_lock())) {
      if (elapsed_ms(static_cast<uint64_t>(tl)) >= kVideoSettleMs) break;
      sleep_ms(1);
    }
    if (video_state_passed) g_app.video_lock.unlock();
  }
  trace_event(video_state_passed ? "stop.video_state_wait_done" : "stop.video_state_wait_timeout");

  // 8-9. Submissions in flight.
  trace_event("stop.video_encoder_wait_begin");
  trace_event(format_cut(128, "%s total=%ld frame=%ld update=%ld", "stop.video_encoder_wait_counts",
                         static_cast<long>(rec.submits_in_flight.load()),
                         static_cast<long>(rec.frames_in_flight.load()),
                         static_cast<long>(rec.ticks_in_flight.load())));
  bool video_settled = false;
  const int64_t t0 = qpc_now();
  for (;video_state_passed;) {
    const uint32_t value = rec.submits_in_flight.load();
    if (value == 0) {
      video_settled = true;
      break;
    }
    if (elapsed_ms(static_cast<uint64_t>(t0)) >= kVideoSettleMs) break;
    address_wait(rec.submits_in_flight, value, kVideoSettlePollMs);
  }
  trace_event(video_settled ? "stop.video_encoder_wait_done" : "stop.video_encoder_wait_timeout");

  // 10. Audio drain.
  bool audio_drained = false;
  if (audio_open) {
    trace_event("stop.audio_drain_begin");
    const int64_t t1 = qpc_now();
    bool locked = false;
    while (!(locked = g_app.audio_lock.try_lock())) {
      if (elapsed_ms(static_cast<uint64_t>(t1)) >= kAudioLockMs) break;
      sleep_ms(1);
    }
    if (!locked) {
      trace_event("stop.audio_lock_timeout");  // the streams stay open under the stuck worker
    } else {
      trace_event("stop.audio_lock_acquired");
      audio_drained = true;
      audio_capture_stop(&g_app.system_capture, sound_end);
      audio_capture_stop(&g_app.mic_capture, sound_end);
      if (was_paused) {
        discard_audio();
      } else {
        mix_audio(true, static_cast<uint64_t>(qpc_now() + 2 * g_app.qpc_frequency));
      }
      release_pending(&g_app.mixer.system_pending);
      release_pending(&g_app.mixer.mic_pending);
      g_app.audio_lock.unlock();
      trace_event("stop.audio_drain_done");
    }
  }

  // Read before the records are closed and zeroed below.
  const uint32_t sound_breaks =
      g_app.system_capture.interruptions.load() + g_app.mic_capture.interruptions.load();
  if (sound_breaks != 0) trace_eventf("stop.audio_interrupted count=%u", sound_breaks);

  // 11.
  trace_event("stop.diag_begin");
  write_diag_report();
  trace_event("stop.diag_done");

  // 12.
  if (audio_drained) {
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

  // 13. The encoder worker.
  trace_event("stop.encoder_stop_begin");
  bool finalized = false;
  if (!video_settled || (audio_open && !audio_drained)) {
    g_app.skip_worker_join.store(1);
    enc.accepting.exchange(0);
    enc.abandoned.store(1);
    enc.stop_timed_out.store(1);
  } else if (enc.abandoned.load() == 0 && encoder_has_worker()) {
    encoder_request_stop();
    if (encoder_wait_worker(kWorkerWaitMs)) {
      finalized = enc.finalize_ok.load() != 0;
    } else {
      enc.stop_timed_out.store(1);
      enc.abandoned.store(1);
    }
  }
  const bool stop_timed_out = enc.stop_timed_out.load() != 0;
  if (stop_timed_out) g_app.skip_worker_join.store(1);

  // 14-15.
  bool has_video = enc.has_video_sample.load() != 0;
  if (stop_timed_out) {
    has_video = false;
    trace_event("stop.encoder_stop_timeout");
  } else {
    trace_event("stop.encoder_stop_done");
  }
  const bool write_failed = rec.write_failed_stop.load() != 0;

  // 16-17. The file's name and the outcome. The outcome box runs a nested
  // event loop in which a shortcut may start the next recording; so this
  // recording's paths are taken out of the record and settled before the box
  // is shown, and only the local copies are used afterwards.
  std::string output = rec.output_path;
  if (!rec.temp_path.empty()) {
    const std::string temp = std::move(rec.temp_path);
    rec.temp_path.clear();
    // An abandoned worker may still be writing; the lock stays with the file
    // until the process ends so recovery never takes it for a dead one.
    if (!stop_timed_out) rec.temp_lock.unlock();
    StopResults r;
    r.stop_timed_out = stop_timed_out;
    r.finalized = finalized;
    r.moved = finalized && move_file(temp, output, true);
    r.has_video = has_video;
    r.write_failed = write_failed;
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
    if (sound_breaks != 0 && !output.empty()) show_outcome(sound_interrupted_notice(output));
  }
  trace_event("stop.rename_done");

  // 19-21.
  if (cfg.OpenFolder != 0 && !output.empty() && g_desktop_session) {
    g_desktop_session->show_in_folder(output);
  }
  // 22. An abandoned worker cannot be reused: the application closes.
  if (stop_timed_out || g_app.cli_mode) post_main_window_message(WM_CLOSE, 0, 0);
}
