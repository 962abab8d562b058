#pragma once
// The media writer over libavformat/libavcodec: one MP4 file, a video track
// and at most one audio track.
#include <memory>
#include <string>

#include "video/encode/media_writer.h"

MediaResult ffmpeg_create_writer(const std::string& path, const WriterAttributes& attributes,
                                 std::unique_ptr<MediaWriter>* writer);
std::unique_ptr<AudioTransform> ffmpeg_create_resampler();
