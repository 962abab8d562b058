#pragma once
// Frame intake and the adaptive governor. The per-recording intake counters
// live in `Recording`; this is the rate controller that paces frames to the
// encoder. Rates are frames per second, times are counter ticks.
#include <cstdint>

struct Governor {
  // Guarded by App.video_lock.
  uint32_t frame_limit_rate = 0;   // VideoMaxFramerate when below the display rate, else 0
  uint32_t governor_min_rate = 0;  // 0: governor off
  uint32_t governor_max_rate = 0;
  uint32_t governor_rate = 0;
  uint32_t gate_rate = 0;          // rate the gate used for the previous frame
  uint64_t gate_deadline = 0;      // rate * time the next frame must reach
  int64_t window_start = 0;        // 0: no measuring window open
  uint32_t window_callbacks = 0;
  uint32_t window_encoded = 0;
  uint32_t window_gate_drops = 0;
  uint32_t window_encode_drops = 0;
  // Counter values: the last audio_clamp call, and the end of the hold that
  // a long silence between two calls (the process stood still) starts.
  int64_t clamp_call = 0;
  int64_t clamp_hold_until = 0;
};

struct FrameIntake {};
