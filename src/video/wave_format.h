#pragma once
// Layout of a block of interleaved audio frames, as the sound server hands it
// over and the encoder's resampler takes it in.
#include <cstdint>

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

struct WaveFormat {
  uint16_t wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;  // 22 with the extensible part below, else 0
  // Extensible part: meaningful when wFormatTag is WAVE_FORMAT_EXTENSIBLE.
  uint16_t wValidBitsPerSample = 0;
  uint32_t dwChannelMask = 0;
  uint16_t sub_format = 0;  // WAVE_FORMAT_PCM or WAVE_FORMAT_IEEE_FLOAT
};

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
