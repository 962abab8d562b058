#pragma once
// One audio capture stream with its ring of timed packets, and the mixer.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio/audio_client.h"
#include "platform/event.h"

// The Windows headers define the same tags as macros with these values.
#ifndef WAVE_FORMAT_PCM
constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
#endif
#ifndef WAVE_FORMAT_IEEE_FLOAT
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
#endif
#ifndef WAVE_FORMAT_EXTENSIBLE
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
#endif

// The layout of every byte in a ring, in the terms the encoder's audio input
// uses. `is_float` stands for the float sub-format of an extensible format.
struct WaveFormat {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
  uint16_t wValidBitsPerSample = 0;
  uint32_t dwChannelMask = 0;
  uint8_t is_float = 0;
};

// 48,000 Hz stereo 32-bit float, the format of application audio and of a
// microphone opened without an imposed format.
WaveFormat default_capture_format();

// Size of the header in front of every packet's audio bytes in a ring:
// frame count (4), device position (8), counter position in 100 ns (8).
constexpr uint32_t kPacketHeaderBytes = 20;

// A stream is open exactly while `audio_client` is set. Recording start and
// stop zero the record (audio_capture_zero) before opening and after closing.
struct AudioCapture {
  std::unique_ptr<AudioClient> render_client;  // silent stream beside a system loopback
  std::unique_ptr<AudioClient> audio_client;   // the capturing stream (also hands out packets)
  std::unique_ptr<WaveFormat> stream_format;
  uint64_t start_qpc = 0;
  uint64_t first_device_position = 0;
  uint64_t counter_frequency = 0;
  uint8_t use_qpc_time = 0;
  uint8_t first_packet_pending = 0;
  std::atomic<uint8_t> stop_requested{0};
  std::unique_ptr<AutoResetEvent> data_event;
  std::thread capture_thread;
  uint8_t* ring = nullptr;  // two consecutive views of the same ring_size bytes
  uint32_t ring_size = 0;
  std::atomic<uint32_t> read_pos{0};
  std::atomic<uint32_t> write_pos{0};
  std::atomic<uint64_t> overflow_count{0};
  std::atomic<uint64_t> near_overflow_count{0};
  std::atomic<uint32_t> max_buffered_bytes{0};
  // What the trace calls the stream ("system", "application", "mic").
  const char* name = "";
  // Times the stream failed or lost its server during this recording; the
  // capture thread reopens it and the mixer bridges the gap with silence.
  std::atomic<uint32_t> interruptions{0};
  // audio_capture_stop asks the capture thread to move everything the
  // stopped stream still holds into the ring and waits for the answer.
  // Packets captured from `stop_time` (counter ticks) on are not stored.
  std::atomic<uint32_t> settle_request{0};
  std::atomic<uint32_t> settle_done{0};
  std::atomic<int64_t> stop_time{0};
};

// The packet of a stream the mixer is consuming; all zero = none held.
struct PendingPacket {
  uint32_t valid = 0;
  AudioCapture* source = nullptr;
  uint32_t packet_frames = 0;
  const uint8_t* cursor = nullptr;
  uint32_t frames_left = 0;
  uint64_t cursor_time = 0;
  uint32_t sample_rate = 0;
  uint32_t block_align = 0;
};

struct AudioMixer {
  PendingPacket system_pending;
  PendingPacket mic_pending;
  uint8_t* mix_buffer = nullptr;  // grows, never shrinks, kept for the process
  uint32_t mix_buffer_size = 0;
  uint64_t mix_dropped_frames = 0;  // frames lost because the mix buffer could not grow
  uint64_t next_audio_time = 0;
  uint64_t audio_time_remainder = 0;
  uint64_t clock_jump_count = 0;
  uint64_t clock_jump_total_ms = 0;
  // Blocks whose head lay more than 20 ms behind the running clock and was left out.
  uint64_t clock_overlap_count = 0;
  // Frames repeated (positive) or left out (negative) to keep the counted
  // clock on the captured times, and the smoothed difference between the
  // two (captured minus counted, ticks).
  int64_t clock_slip_frames = 0;
  int64_t lag_avg = 0;
};
