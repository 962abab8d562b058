#include "audio/wasapi/wasapi_format.h"

#include <ks.h>
#include <ksmedia.h>

namespace {
uint32_t speaker_mask(uint16_t channels) {
  switch (channels) {
    case 1: return SPEAKER_FRONT_CENTER;
    case 2: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    case 4: return KSAUDIO_SPEAKER_QUAD;
    case 6: return KSAUDIO_SPEAKER_5POINT1;
    case 8: return KSAUDIO_SPEAKER_7POINT1_SURROUND;
    default: return 0;
  }
}
}  // namespace

bool wave_format_from_engine(const WAVEFORMATEX* in, WaveFormat* out) {
  if (!in || in->nChannels == 0 || in->nSamplesPerSec == 0 || in->nBlockAlign == 0) return false;
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.nChannels = in->nChannels;
  f.nSamplesPerSec = in->nSamplesPerSec;
  f.nAvgBytesPerSec = in->nAvgBytesPerSec;
  f.nBlockAlign = in->nBlockAlign;
  f.wBitsPerSample = in->wBitsPerSample;
  f.cbSize = 22;
  if (in->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (in->cbSize < 22) return false;
    const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(in);
    if (IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)) {
      f.is_float = 1;
    } else if (!IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
      return false;
    }
    f.wValidBitsPerSample = ext->Samples.wValidBitsPerSample ? ext->Samples.wValidBitsPerSample : in->wBitsPerSample;
    f.dwChannelMask = ext->dwChannelMask;
  } else if (in->wFormatTag == WAVE_FORMAT_IEEE_FLOAT || in->wFormatTag == WAVE_FORMAT_PCM) {
    f.is_float = in->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    f.wValidBitsPerSample = in->wBitsPerSample;
    f.dwChannelMask = speaker_mask(in->nChannels);
  } else {
    return false;
  }
  *out = f;
  return true;
}

WAVEFORMATEXTENSIBLE wave_format_to_engine(const WaveFormat& in) {
  WAVEFORMATEXTENSIBLE e{};
  e.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  e.Format.nChannels = in.nChannels;
  e.Format.nSamplesPerSec = in.nSamplesPerSec;
  e.Format.nAvgBytesPerSec = in.nAvgBytesPerSec;
  e.Format.nBlockAlign = in.nBlockAlign;
  e.Format.wBitsPerSample = in.wBitsPerSample;
  e.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  e.Samples.wValidBitsPerSample = in.wValidBitsPerSample ? in.wValidBitsPerSample : in.wBitsPerSample;
  e.dwChannelMask = in.dwChannelMask ? in.dwChannelMask : speaker_mask(in.nChannels);
  e.SubFormat = in.is_float ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return e;
}
