#include "video/encode/mf/mf_media_types.h"

#include <mfidl.h>
#include <mfreadwrite.h>

namespace {
UINT64 pack(uint32_t high, uint32_t low) { return static_cast<UINT64>(high) << 32 | low; }

GUID video_subtype(VideoCodecKind codec) {
  switch (codec) {
    case VIDEO_HEVC: return MFVideoFormat_HEVC;
    case VIDEO_AV1: return MFVideoFormat_AV1;
    default: return MFVideoFormat_H264;
  }
}

// Runs the setters in order until one fails.
template <typename... Steps>
HRESULT in_order(IMFMediaType* t, Steps... steps) {
  HRESULT hr = S_OK;
  ((hr = SUCCEEDED(hr) ? steps(t) : hr), ...);
  return hr;
}

HRESULT made(HRESULT hr, ComPtr<IMFMediaType>& t, ComPtr<IMFMediaType>* out) {
  if (SUCCEEDED(hr)) *out = std::move(t);
  return hr;
}
}  // namespace

HRESULT mf_video_output_type(const VideoOutputType& v, ComPtr<IMFMediaType>* out) {
  ComPtr<IMFMediaType> t;
  HRESULT hr = MFCreateMediaType(t.put());
  if (SUCCEEDED(hr)) {
    // The colour description travels with the stream: limited range, MPEG-2
    // chroma siting, BT.709 or BT.601 primaries and matrix.
    hr = in_order(
        t.get(), [](IMFMediaType* m) { return m->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video); },
        [&](IMFMediaType* m) { return m->SetGUID(MF_MT_SUBTYPE, video_subtype(v.codec)); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_MPEG2_PROFILE, v.profile); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_VIDEO_CHROMA_SITING, v.chroma_siting); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, v.nominal_range); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_VIDEO_PRIMARIES, v.primaries); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_YUV_MATRIX, v.matrix); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_TRANSFER_FUNCTION, v.transfer); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_INTERLACE_MODE, v.interlace); },
        [&](IMFMediaType* m) { return m->SetUINT64(MF_MT_FRAME_RATE, pack(v.frame_rate_num, v.frame_rate_den)); },
        [&](IMFMediaType* m) { return m->SetUINT64(MF_MT_FRAME_SIZE, pack(v.width, v.height)); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AVG_BITRATE, v.avg_bitrate); });
  }
  return made(hr, t, out);
}

HRESULT mf_video_input_type(const VideoInputType& v, ComPtr<IMFMediaType>* out) {
  ComPtr<IMFMediaType> t;
  HRESULT hr = MFCreateMediaType(t.put());
  if (SUCCEEDED(hr)) {
    hr = in_order(
        t.get(), [](IMFMediaType* m) { return m->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video); },
        [&](IMFMediaType* m) {
          return m->SetGUID(MF_MT_SUBTYPE, v.subtype == PIXEL_P010 ? MFVideoFormat_P010 : MFVideoFormat_NV12);
        },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_INTERLACE_MODE, v.interlace); },
        [&](IMFMediaType* m) { return m->SetUINT64(MF_MT_FRAME_RATE, pack(v.frame_rate_num, v.frame_rate_den)); },
        [&](IMFMediaType* m) { return m->SetUINT64(MF_MT_FRAME_SIZE, pack(v.width, v.height)); });
  }
  return made(hr, t, out);
}

HRESULT mf_audio_output_type(const AudioOutputType& a, ComPtr<IMFMediaType>* out) {
  ComPtr<IMFMediaType> t;
  HRESULT hr = MFCreateMediaType(t.put());
  if (SUCCEEDED(hr)) {
    hr = in_order(
        t.get(), [](IMFMediaType* m) { return m->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio); },
        [&](IMFMediaType* m) {
          return m->SetGUID(MF_MT_SUBTYPE, a.codec == AUDIO_FLAC ? MFAudioFormat_FLAC : MFAudioFormat_AAC);
        },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, a.bits_per_sample); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, a.samples_per_second); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, a.num_channels); });
  }
  // FLAC gets no bit rate.
  if (SUCCEEDED(hr) && a.codec == AUDIO_AAC && a.avg_bytes_per_second)
    hr = t->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, a.avg_bytes_per_second);
  return made(hr, t, out);
}

HRESULT mf_audio_input_type(const AudioInputType& a, ComPtr<IMFMediaType>* out) {
  ComPtr<IMFMediaType> t;
  HRESULT hr = MFCreateMediaType(t.put());
  if (SUCCEEDED(hr)) {
    hr = in_order(
        t.get(), [](IMFMediaType* m) { return m->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio); },
        [](IMFMediaType* m) { return m->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, a.bits_per_sample); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, a.samples_per_second); },
        [&](IMFMediaType* m) { return m->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, a.num_channels); });
  }
  return made(hr, t, out);
}

HRESULT mf_writer_attributes(const WriterAttributes& a, IMFDXGIDeviceManager* manager, ComPtr<IMFAttributes>* out) {
  ComPtr<IMFAttributes> store;
  HRESULT hr = MFCreateAttributes(store.put(), 4);
  if (SUCCEEDED(hr) && a.hardware_transforms) {
    hr = store->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1);
    if (SUCCEEDED(hr) && manager) hr = store->SetUnknown(MF_SINK_WRITER_D3D_MANAGER, manager);
  }
  if (SUCCEEDED(hr)) hr = store->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, a.disable_throttling ? 1 : 0);
  if (SUCCEEDED(hr))
    hr = store->SetGUID(MF_TRANSCODE_CONTAINERTYPE, a.container == CONTAINER_FMPEG4
                                                        ? MFTranscodeContainerType_FMPEG4
                                                        : MFTranscodeContainerType_MPEG4);
  if (SUCCEEDED(hr)) *out = std::move(store);
  return hr;
}
