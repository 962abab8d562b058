#pragma once
// Audio block layouts for the encoder: the record itself belongs to the audio
// capture streams; these make the two formats the encoder deals with.
#include <cstdint>

#include "audio/audio_state.h"

// Interleaved 32-bit float, the usual format of a desktop sound server.
inline WaveFormat wave_format_float(uint32_t rate, uint16_t channels) {
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 32;
  f.nBlockAlign = static_cast<uint16_t>(channels * 4);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

// Interleaved 16-bit PCM, the encoder's track input.
inline WaveFormat wave_format_pcm16(uint32_t rate, uint16_t channels) {
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}
