#include "recording/diagnostics_report.h"

#include "core/app_state.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/mul_div.h"

namespace {
// a * b / c with a 128-bit intermediate, truncated; 0 when c is 0.
}  // namespace

std::string format_diag_report(const DiagValues& v) {
  const uint64_t freq = v.qpc_frequency;
  const uint64_t max_gap_ms = mul_div(v.max_frame_gap, 1000, freq);
  const uint64_t work_avg_us =
      v.callback_work_count == 0 ? 0 : mul_div(v.callback_work_total, 1000000, freq * v.callback_work_count);
  const uint64_t interval_avg_us =
      v.callback_work_count < 2 ? 0
                                : mul_div(v.callback_interval_total, 1000000, (v.callback_work_count - 1) * freq);
  using ull = unsigned long long;
  return format_cut(2048,
                    "config_capture_audio=%u\r\n"
                    "config_capture_microphone=%u\r\n"
                    "config_application_local_audio=%u\r\n"
                    "active_system_audio=%u\r\n"
                    "active_microphone=%u\r\n"
                    "frame_callback_count=%llu\r\n"
                    "frame_callback_max_gap_ms=%llu\r\n"
                    "frame_callback_work_avg_us=%llu\r\n"
                    "frame_callback_interval_avg_us=%llu\r\n"
                    "video_duplicate_frames=%llu\r\n"
                    "video_stream_ticks=%llu\r\n"
                    "video_sample_wait_failures=%llu\r\n"
                    "audio_backpressure_events=%llu\r\n"
                    "mic_backpressure_events=%llu\r\n"
                    "encoder_audio_dropped=%llu\r\n"
                    "encoder_mic_dropped=%llu\r\n"
                    "audio_clock_jump_count=%llu\r\n"
                    "audio_clock_jump_total_ms=%llu\r\n"
                    "audio_overflow_count=%llu\r\n"
                    "audio_near_overflow_count=%llu\r\n"
                    "audio_max_buffered_bytes=%u\r\n"
                    "mic_overflow_count=%llu\r\n"
                    "mic_near_overflow_count=%llu\r\n"
                    "mic_max_buffered_bytes=%u\r\n",
                    v.config_capture_audio, v.config_capture_microphone, v.config_application_local_audio,
                    v.active_system_audio, v.active_microphone, (ull)v.callback_count, (ull)max_gap_ms,
                    (ull)work_avg_us, (ull)interval_avg_us, (ull)v.video_duplicate_frames,
                    (ull)v.video_stream_ticks, (ull)v.video_sample_wait_failures,
                    (ull)v.audio_backpressure_events, 0ull, (ull)v.encoder_audio_dropped, 0ull,
                    (ull)v.clock_jump_count, (ull)v.clock_jump_total_ms, (ull)v.audio_overflow_count,
                    (ull)v.audio_near_overflow_count, v.audio_max_buffered_bytes, (ull)v.mic_overflow_count,
                    (ull)v.mic_near_overflow_count, v.mic_max_buffered_bytes);
}

DiagValues collect_diag_values() {
  const Config& c = g_app.config;
  const Recording& rec = g_app.recording;
  const Encoder& enc = g_app.encoder;
  DiagValues v;
  v.config_capture_audio = c.CaptureAudio != 0;
  v.config_capture_microphone = c.CaptureMicrophone != 0;
  v.config_application_local_audio = c.ApplicationLocalAudio != 0;
  const AudioCapture& sys = g_app.system_capture;
  const AudioCapture& mic = g_app.mic_capture;
  v.active_system_audio = sys.audio_client != nullptr;
  v.active_microphone = mic.audio_client != nullptr;
  v.qpc_frequency = static_cast<uint64_t>(g_app.qpc_frequency);
  v.callback_count = rec.callback_count;
  v.max_frame_gap = static_cast<uint64_t>(rec.max_frame_gap);
  v.callback_work_count = rec.callback_work_count;
  v.callback_work_total = static_cast<uint64_t>(rec.callback_work_total);
  v.callback_interval_total = static_cast<uint64_t>(rec.callback_interval_total);
  v.video_duplicate_frames = enc.video_duplicate_frames.load();
  v.video_stream_ticks = enc.video_stream_ticks.load();
  v.video_sample_wait_failures = enc.video_sample_wait_failures.load();
  v.audio_backpressure_events = enc.audio_backpressure_events.load();
  v.encoder_audio_dropped = enc.encoder_audio_dropped.load();
  v.clock_jump_count = g_app.mixer.clock_jump_count;
  v.clock_jump_total_ms = g_app.mixer.clock_jump_total_ms;
  // Stream counters only for streams that are open.
  if (v.active_system_audio) {
    v.audio_overflow_count = sys.overflow_count.load();
    v.audio_near_overflow_count = sys.near_overflow_count.load();
    v.audio_max_buffered_bytes = sys.max_buffered_bytes.load();
  }
  if (v.active_microphone) {
    v.mic_overflow_count = mic.overflow_count.load();
    v.mic_near_overflow_count = mic.near_overflow_count.load();
    v.mic_max_buffered_bytes = mic.max_buffered_bytes.load();
  }
  return v;
}

void write_diag_report() {
  const Recording& rec = g_app.recording;
  if (g_app.config.WriteDiagnostics == 0 || rec.output_path.empty()) return;
  const std::string path = format_cut(260, "%s.diag.txt", rec.output_path.c_str());
  const std::string text = format_diag_report(collect_diag_values());
  // An older report of the same name is replaced, never appended to; the
  // name is removed and created anew, so a link planted there is dropped
  // rather than written through.
  write_new_file(path, text);
}
