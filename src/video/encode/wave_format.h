#pragma once
// Audio block layouts for the encoder: the record itself belongs to the audio
// capture streams; these make the two formats the encoder deals with.
#include <cstdint>

#include "audio/audio_state.h"

// Interleaved samples of one layout.
inline WaveFormat wave_format_interleaved(uint16_t tag, uint32_t rate, uint16_t channels, uint16_t bits) {
  WaveFormat f;
  f.wFormatTag = tag;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<uint16_t>(channels * (bits / 8));
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

// Interleaved 32-bit float, the usual format of a desktop sound server.
inline WaveFormat wave_format_float(uint32_t rate, uint16_t channels) {
  return wave_format_interleaved(WAVE_FORMAT_IEEE_FLOAT, rate, channels, 32);
}

// Interleaved 16-bit PCM, the encoder's track input.
inline WaveFormat wave_format_pcm16(uint32_t rate, uint16_t channels) {
  return wave_format_interleaved(WAVE_FORMAT_PCM, rate, channels, 16);
}
