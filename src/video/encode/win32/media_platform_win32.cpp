// The media platform of the Windows build. The encoder check asks Media
// Foundation first (MFTEnum2: on the capture adapter for hardware, in
// software otherwise); where it has an encoder, Media Foundation's sink
// writer writes the file. Where it has none (N editions without the media
// pack, reduced installations, Wine), a software request goes to the FFmpeg
// writer the build carries (cross-built beside it,
// scripts/build-ffmpeg-windows.sh). The check says which writer it chose,
// and the writer and resampler of that choice are the ones created. A
// build without the bundled writer records only where Media Foundation
// has the encoder, and says "Cannot find video encoder!" elsewhere.
#include <atomic>

#include <d3d11.h>

#include "core/trace.h"
#include "video/encode/media_writer.h"
#include "video/encode/mf/mf_encoder_check.h"
#include "video/encode/mf/mf_resampler.h"
#include "video/encode/mf/mf_startup.h"
#include "video/encode/mf/mf_writer.h"
#ifdef FRELVANTA_BUNDLED_FFMPEG
#include "video/encode/ffmpeg/ffmpeg_writer.h"
#include "video/encode/ffmpeg/video_encoders.h"
#endif

namespace {
enum class Writer { none, media_foundation, bundled };

// The choice of the last check. Encoder set-up checks, then creates the
// writer and the resampler, all on the main thread.
std::atomic<Writer> g_writer{Writer::none};

const char* codec_name(VideoCodecKind codec) {
  switch (codec) {
    case VIDEO_H264: return "H264";
    case VIDEO_HEVC: return "HEVC";
    default: return "AV1";
  }
}

const char* writer_name(Writer w) {
  switch (w) {
    case Writer::media_foundation: return "mediafoundation";
    case Writer::bundled: return "ffmpeg";
    default: return "none";
  }
}

// The bundled writer encodes in software only: a hardware request has no
// writer there that could use the device.
bool bundled_encoder(const VideoEncoderRequest& request, std::string* name) {
#ifdef FRELVANTA_BUNDLED_FFMPEG
  return !request.hardware && ffmpeg_find_video_encoder(request, name);
#else
  (void)request;
  (void)name;
  return false;
#endif
}

bool find_video_encoder(const VideoEncoderRequest& request, std::string* encoder_name) {
  const MfEncoderCheck mf = mf_check_video_encoder(request);
  Writer chosen = Writer::none;
  std::string name = "none";
  std::string bundled;
  if (mf.count > 0) {
    chosen = Writer::media_foundation;
    name = "mediafoundation/" + (mf.name.empty() ? std::string("encoder") : mf.name);
  } else if (bundled_encoder(request, &bundled)) {
    chosen = Writer::bundled;
    name = "ffmpeg/" + bundled;
  }
  g_writer.store(chosen);
  if (encoder_name) *encoder_name = name;
  trace_eventf("encoder.writer codec=%s hardware=%d media_foundation_encoders=%u enumeration=0x%08X writer=%s",
               codec_name(request.codec), request.hardware ? 1 : 0, mf.count, static_cast<uint32_t>(mf.result),
               writer_name(chosen));
  return chosen != Writer::none;
}

MediaResult create_writer(const std::string& path, const WriterAttributes& attributes,
                          std::unique_ptr<MediaWriter>* writer) {
  switch (g_writer.load()) {
    case Writer::media_foundation:
      return mf_create_writer(path, attributes, static_cast<ID3D11Device*>(attributes.d3d11.get()), writer);
#ifdef FRELVANTA_BUNDLED_FFMPEG
    case Writer::bundled: return ffmpeg_create_writer(path, attributes, writer);
#endif
    default: return MEDIA_E_FAIL;
  }
}

std::unique_ptr<AudioTransform> create_resampler() {
  switch (g_writer.load()) {
    case Writer::media_foundation: return mf_create_resampler();
#ifdef FRELVANTA_BUNDLED_FFMPEG
    case Writer::bundled: return ffmpeg_create_resampler();
#endif
    default: return nullptr;
  }
}
}  // namespace

const MediaPlatform& default_media_platform() {
  static const MediaPlatform platform{find_video_encoder, create_writer, create_resampler};
  return platform;
}

// Media Foundation (MFStartup, lite: no sockets), once for the process.
void media_platform_start() { mf_started(); }

// Media Foundation's writer is always there; whether an encoder is, the
// check at each recording's set-up says.
bool media_platform_can_write() { return true; }
