// The media platform of the Windows build: the encoders and the sink writer
// come with the Media Foundation backend, which this build does not have
// yet. Every request fails, so nothing pretends to write a file.
#include "video/encode/media_writer.h"

namespace {
bool no_video_encoder(const VideoEncoderRequest&, std::string*) { return false; }
MediaResult no_writer(const std::string&, const WriterAttributes&, std::unique_ptr<MediaWriter>*) {
  return MEDIA_E_FAIL;
}
std::unique_ptr<AudioTransform> no_resampler() { return nullptr; }
}  // namespace

const MediaPlatform& default_media_platform() {
  static const MediaPlatform platform{no_video_encoder, no_writer, no_resampler};
  return platform;
}
