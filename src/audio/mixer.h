#pragma once
// Turns the packets of the two capture streams into one timed audio stream
// for the encoder. Every call below runs under g_app.audio_lock.
#include <cstdint>

#include "audio/audio_state.h"

// Processes queued audio of both streams. flush: the final drain, which
// stops at `deadline` (counter ticks, 0 = none) and drops what it leaves.
void mix_audio(bool flush, uint64_t deadline);
// Throws away everything held and queued (while paused).
void discard_audio();
// After the final drain: silence from the sound's end up to the recording's
// end, for a stream that went away and did not come back, so the track
// keeps the recording's full length.
void pad_silence_to_end();
// Releases the held packet, if any, and zeroes the record.
void release_pending(PendingPacket* pending);

bool fill_pending(PendingPacket* pending, AudioCapture* capture);
void consume_pending(PendingPacket* pending, uint32_t frames);
// Writes `frames` mixed frames into mix_buffer; either input may be null.
void mix_samples(const uint8_t* system, const uint8_t* mic, uint32_t frames, uint32_t channels,
                 uint32_t bits, float mic_gain, float master_gain);
bool ensure_mix_buffer(uint32_t bytes);
// Hands one block to the encoder at the running sample clock.
bool submit_audio(const void* data, uint32_t frames, uint64_t time, uint32_t rate);

// Per-recording reset done by recording start once the encoder is set up.
void audio_mixer_begin_recording();
