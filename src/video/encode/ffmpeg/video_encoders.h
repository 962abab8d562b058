#pragma once
// Which FFmpeg encoder writes each codec, and how it is tuned for live
// screen recording.
#include <string>

#include "video/encode/media_writer.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct EncoderChoice {
  const char* name = nullptr;    // FFmpeg encoder name
  const char* preset = nullptr;  // speed preset (software only)
  bool hardware = false;
};

EncoderChoice video_encoder_choice(VideoCodecKind codec, bool hardware);
// Pixel format of the pictures handed to the encoder for an input subtype.
AVPixelFormat encoder_pixel_format(const EncoderChoice& choice, PixelLayout input);
PixelLayout layout_of(AVPixelFormat format);
AVPixelFormat pixel_format_of(PixelLayout layout);

bool ffmpeg_find_video_encoder(VideoCodecKind codec, uint32_t profile, PixelLayout input, bool hardware,
                               const std::string& render_node);
