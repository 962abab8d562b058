#include "video/intake/governor.h"

#include <algorithm>

#include "core/app_state.h"
#include "core/trace.h"
#include "platform/clock.h"
#include "video/intake/frame_intake.h"
#include "video/intake/intake_links.h"

FrameRate governor_rate_setup(bool timing_ok, uint32_t display_num, uint32_t display_den) {
  const Config& cfg = g_app.config;
  Governor& gov = g_app.governor;
  uint32_t read_num = timing_ok ? display_num : 0;
  uint32_t read_den = timing_ok ? display_den : 0;
  FrameRate rate;
  if (read_num != 0 && read_den != 0) rate = {read_num, read_den};

  // 32-bit product on purpose: the comparison is defined on the stored widths.
  if (cfg.VideoMaxFramerate != 0 && static_cast<uint32_t>(rate.den * cfg.VideoMaxFramerate) < rate.num) {
    gov.frame_limit_rate = cfg.VideoMaxFramerate;
    rate = {cfg.VideoMaxFramerate, 1};
  } else {
    gov.frame_limit_rate = 0;
  }
  trace_eventf("capture.compositor %u/%u effective=%u/%u", read_num, read_den, rate.num, rate.den);

  uint32_t full = std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t{rate.num} + rate.den - 1) / rate.den));
  if (cfg.EnableAdaptiveGovernor != 0) {
    uint64_t m = 1;
    if (cfg.VideoBitrate != 0) {
      uint64_t product = uint64_t{full} * cfg.MinAdaptiveBitrateKbps;
      m = std::max<uint64_t>(1, (product + cfg.VideoBitrate - 1) / cfg.VideoBitrate);
    }
    m = std::max<uint64_t>({m, cfg.MinAdaptiveFps, 1});
    gov.governor_min_rate = static_cast<uint32_t>(std::min<uint64_t>(m, full));
    gov.governor_max_rate = full;
    gov.governor_rate = full;
  } else {
    gov.governor_min_rate = 0;
    gov.governor_max_rate = 0;
    gov.governor_rate = 0;
  }
  return rate;
}

namespace {
void ring_level(const AudioCapture& capture, uint32_t* fill, uint32_t* cap) {
  uint32_t f = 0, size = 0;
  if (audio_capture_level(capture, &f, &size) && size != 0) {
    *fill = f;
    *cap = size;
  } else {
    *fill = 0;
    *cap = 0;
  }
}
}  // namespace

bool audio_streams_open() {
  uint32_t fill = 0, size = 0;
  return audio_capture_level(g_app.system_capture, &fill, &size) ||
         audio_capture_level(g_app.mic_capture, &fill, &size);
}

uint32_t audio_pressure() {
  uint32_t fill_s, cap_s, fill_m, cap_m;
  ring_level(g_app.system_capture, &fill_s, &cap_s);
  ring_level(g_app.mic_capture, &fill_m, &cap_m);
  uint64_t fill = std::max(fill_s, fill_m);
  uint64_t cap = std::max(cap_s, cap_m);
  if (cap == 0) return 0;
  return static_cast<uint32_t>(fill * 100 / cap);
}

void governor_window_reset() {
  Governor& gov = g_app.governor;
  gov.window_start = 0;
  gov.window_callbacks = 0;
  gov.window_encoded = 0;
  gov.window_gate_drops = 0;
  gov.window_encode_drops = 0;
}

bool audio_clamp_held() { return qpc_now() < g_app.governor.clamp_hold_until; }

void audio_clamp() {
  Governor& gov = g_app.governor;
  // Frame intake calls this for every frame and the watchdog ten times a
  // second; a second without a call means neither thread ran.
  const int64_t now = qpc_now();
  const int64_t freq = intake_qpc_frequency();
  if (gov.clamp_call != 0 && now - gov.clamp_call >= freq) gov.clamp_hold_until = now + freq;
  gov.clamp_call = now;
  uint32_t old = gov.governor_rate;
  if (g_app.config.EnableAdaptiveGovernor == 0 || old == 0 || !audio_streams_open()) return;
  if (audio_clamp_held()) return;
  uint32_t p = audio_pressure();
  if (p >= 75) {
    // Audio about to overflow outranks the governor's floor.
    gov.governor_rate = std::min(old, std::max<uint32_t>(1, std::min<uint32_t>(gov.governor_max_rate, 5)));
  } else if (p >= 50 && old > gov.governor_min_rate) {
    uint32_t step = std::max<uint32_t>(1, old / 4);
    uint32_t next = old > step ? old - step : gov.governor_min_rate;
    gov.governor_rate = std::max(next, gov.governor_min_rate);
  }
  if (gov.governor_rate != old) {
    governor_window_reset();
    trace_eventf("encoder.audio_clamp %u->%u pressure=%u", old, gov.governor_rate, p);
  }
}

void governor_evaluate_window(int64_t t, uint32_t r) {
  Governor& gov = g_app.governor;
  uint32_t c = gov.window_callbacks;
  if (c == 0) {
    gov.window_start = t;
    return;
  }
  uint32_t e = gov.window_encoded, g = gov.window_gate_drops, x = gov.window_encode_drops;
  uint64_t elapsed = static_cast<uint64_t>(t - gov.window_start);
  uint32_t expected = static_cast<uint32_t>(uint64_t{r} * elapsed / static_cast<uint64_t>(intake_qpc_frequency()));
  uint32_t surplus = c - std::min(c, expected);
  uint32_t unexpected = g > surplus ? g - surplus : 0;
  uint32_t drops = x + unexpected;
  float ratio = static_cast<float>(drops) / static_cast<float>(c);
  uint32_t audio = (audio_streams_open() && audio_pressure() >= 50) ? 1 : 0;

  uint32_t lo = gov.governor_min_rate, hi = gov.governor_max_rate;
  const char* action = "hold";
  if (ratio > 0.05f && r > lo) {
    action = "down";
    uint32_t step = std::max<uint32_t>(1, r / 10);
    uint32_t next = r > step ? r - step : lo;
    gov.governor_rate = std::max(next, lo);
  } else if (ratio < 0.01f && r < hi && audio == 0) {
    action = "up";
    uint32_t step = std::max<uint32_t>(1, (hi - r) / 4);
    gov.governor_rate = std::min(r + step, hi);
  }
  uint32_t percent = static_cast<uint32_t>(ratio * 100.0f + 0.5f);
  trace_eventf("encoder.governor rate=%u callbacks=%u encoded=%u gate=%u unexpected=%u drops=%u ratio=%u%% audio=%u action=%s",
               r, c, e, g, unexpected, drops, percent, audio, action);
  governor_window_reset();
}
