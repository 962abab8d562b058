// The media platform of the Windows build. The encoder check asks Media
// Foundation for the codec's encoders first; this build writes files with
// the FFmpeg writer it carries (cross-built beside it,
// scripts/build-ffmpeg-windows.sh), so every recording goes through that
// writer, also where Media Foundation has no encoder at all (N editions
// without the media pack, reduced installations, Wine). The check says so
// in the trace. A build without the bundled writer refuses every request,
// so nothing pretends to write a file.
#include <windows.h>
#include <mfapi.h>
#include <mftransform.h>

#include "core/trace.h"
#include "video/encode/media_writer.h"
#include "video/encode/mf/mf_startup.h"
#ifdef FRELVANTA_BUNDLED_FFMPEG
#include "video/encode/ffmpeg/ffmpeg_writer.h"
#include "video/encode/ffmpeg/video_encoders.h"
#endif

namespace {
const char* codec_name(VideoCodecKind codec) {
  switch (codec) {
    case VIDEO_H264: return "H264";
    case VIDEO_HEVC: return "HEVC";
    default: return "AV1";
  }
}

// Encoders Media Foundation registers for the codec, on hardware or in
// software; started once per process.
uint32_t media_foundation_encoders(VideoCodecKind codec, bool hardware) {
  if (!mf_started()) return 0;
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
  if (codec == VIDEO_HEVC) output.guidSubtype = MFVideoFormat_HEVC;
  if (codec == VIDEO_AV1) output.guidSubtype = MFVideoFormat_AV1;
  const UINT32 flags = (hardware ? MFT_ENUM_FLAG_HARDWARE : MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT) |
                       MFT_ENUM_FLAG_SORTANDFILTER;
  IMFActivate** found = nullptr;
  UINT32 count = 0;
  if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, flags, nullptr, &output, &found, &count))) return 0;
  for (UINT32 i = 0; i < count; ++i) found[i]->Release();
  CoTaskMemFree(found);
  return count;
}

bool find_video_encoder(const VideoEncoderRequest& request, std::string* encoder_name) {
  const uint32_t mf = media_foundation_encoders(request.codec, request.hardware);
#ifdef FRELVANTA_BUNDLED_FFMPEG
  // The bundled writer encodes in software only: a hardware request has no
  // writer that could use the device.
  std::string name;
  const bool found = !request.hardware && ffmpeg_find_video_encoder(request, &name);
  if (encoder_name) *encoder_name = "ffmpeg/" + name;
  trace_eventf("encoder.writer codec=%s hardware=%d media_foundation_encoders=%u writer=%s", codec_name(request.codec),
               request.hardware ? 1 : 0, mf, found ? "ffmpeg" : "none");
  return found;
#else
  if (encoder_name) *encoder_name = "none";
  trace_eventf("encoder.writer codec=%s hardware=%d media_foundation_encoders=%u writer=none",
               codec_name(request.codec), request.hardware ? 1 : 0, mf);
  return false;
#endif
}

#ifndef FRELVANTA_BUNDLED_FFMPEG
MediaResult no_writer(const std::string&, const WriterAttributes&, std::unique_ptr<MediaWriter>*) {
  return MEDIA_E_FAIL;
}
std::unique_ptr<AudioTransform> no_resampler() { return nullptr; }
#endif
}  // namespace

const MediaPlatform& default_media_platform() {
#ifdef FRELVANTA_BUNDLED_FFMPEG
  static const MediaPlatform platform{find_video_encoder, ffmpeg_create_writer, ffmpeg_create_resampler};
#else
  static const MediaPlatform platform{find_video_encoder, no_writer, no_resampler};
#endif
  return platform;
}

bool media_platform_can_write() {
#ifdef FRELVANTA_BUNDLED_FFMPEG
  return true;
#else
  return false;
#endif
}
