#pragma once
// The per-recording key=value report written beside the recording.
#include <cstdint>
#include <string>

// Raw values the report prints; the derived ones (gaps and averages) are
// computed from these when formatting.
struct DiagValues {
  uint32_t config_capture_audio = 0;
  uint32_t config_capture_microphone = 0;
  uint32_t config_application_local_audio = 0;
  uint32_t active_system_audio = 0;
  uint32_t active_microphone = 0;
  uint64_t qpc_frequency = 0;
  uint64_t callback_count = 0;
  uint64_t max_frame_gap = 0;  // ticks
  uint64_t callback_work_count = 0;
  uint64_t callback_work_total = 0;      // ticks
  uint64_t callback_interval_total = 0;  // ticks
  uint64_t video_duplicate_frames = 0;
  uint64_t video_stream_ticks = 0;
  uint64_t video_sample_wait_failures = 0;
  uint64_t audio_backpressure_events = 0;
  uint64_t encoder_audio_dropped = 0;
  uint64_t clock_jump_count = 0;
  uint64_t clock_jump_total_ms = 0;
  uint64_t audio_overflow_count = 0;
  uint64_t audio_near_overflow_count = 0;
  uint32_t audio_max_buffered_bytes = 0;
  uint64_t mic_overflow_count = 0;
  uint64_t mic_near_overflow_count = 0;
  uint32_t mic_max_buffered_bytes = 0;
};

// The report's text: 24 "key=value\r\n" lines.
std::string format_diag_report(const DiagValues& v);

// Reads the values from the stopped recording's state.
DiagValues collect_diag_values();

// Writes "<output_path>.diag.txt" when diagnostics are on and the recording
// has an output path; silent on every failure. Called by recording stop.
void write_diag_report();
