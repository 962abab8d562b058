#include "video/encode/ffmpeg/ffmpeg_writer.h"
#include "video/encode/ffmpeg/video_encoders.h"

const MediaPlatform& default_media_platform() {
  static const MediaPlatform platform = {ffmpeg_find_video_encoder, ffmpeg_create_writer, ffmpeg_create_resampler};
  return platform;
}

void media_platform_start() {}

bool media_platform_can_write() { return true; }
