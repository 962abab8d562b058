#pragma once
// The adaptive governor: rate set-up at recording start, the five-second
// measuring windows, and the audio clamp.
#include <cstdint>

struct FrameRate {
  uint32_t num = 60;
  uint32_t den = 1;
};

// Fixes the recording's frame rate from the display rate (timing_ok false
// when it could not be read) and VideoMaxFramerate, and sets the governor's
// bounds. Recording start calls it before encoder set-up.
FrameRate governor_rate_setup(bool timing_ok, uint32_t display_num, uint32_t display_den);

// Percent fill of the fuller audio capture ring.
uint32_t audio_pressure();
// Whether the system or the microphone stream is open.
bool audio_streams_open();
// Lowers governor_rate under audio pressure. Caller holds App.video_lock.
void audio_clamp();
// True for a second after a call of audio_clamp that came a second or more
// after the one before: the process stood still, and the sound the server
// kept for it meanwhile fills the rings at once. That fill is no sign of a
// slow encoder, so neither the clamp nor the audio yield of frame intake
// acts on it. Caller holds App.video_lock.
bool audio_clamp_held();
// Closes the current measuring window at intake time t and decides the next
// rate. Caller holds App.video_lock.
void governor_evaluate_window(int64_t t, uint32_t rate);
// Resets the measuring window. Caller holds App.video_lock.
void governor_window_reset();
