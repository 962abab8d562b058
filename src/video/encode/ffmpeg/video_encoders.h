#pragma once
// Which FFmpeg encoder writes each codec, how it is tuned for live screen
// recording, and how it is opened: the writer and the encoder check open it
// the same way, so a check that passes means the writer's open will too.
#include <string>

#include "video/encode/ffmpeg/av_ptr.h"
#include "video/encode/media_writer.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

enum HardwareApi { HW_NONE = 0, HW_VAAPI = 1, HW_NVENC = 2 };

struct EncoderChoice {
  const char* name = nullptr;    // FFmpeg encoder name
  const char* preset = nullptr;  // speed preset
  bool hardware = false;
  HardwareApi api = HW_NONE;
};

// NVIDIA's driver has no VA-API encoder; its GPUs encode through NVENC.
// Every other render node is driven through VA-API.
EncoderChoice video_encoder_choice(VideoCodecKind codec, bool hardware, const std::string& driver);
// Pixel format of the pictures handed to the encoder for an input subtype.
AVPixelFormat encoder_pixel_format(const EncoderChoice& choice, PixelLayout input);
PixelLayout layout_of(AVPixelFormat format);
AVPixelFormat pixel_format_of(PixelLayout layout);

// Everything the video encoder is opened with.
struct VideoEncoderSetup {
  EncoderChoice choice;
  VideoOutputType out;
  CodecSettings settings;
  PixelLayout input = PIXEL_NV12;
  std::string render_node;  // VA-API only
  bool global_header = false;
};

// An opened encoder with the device objects it needs.
struct OpenedVideoEncoder {
  AvCodecContextPtr ctx;
  AvBufferPtr hw_device, hw_frames;  // VA-API only
  AVPixelFormat sw_format = AV_PIX_FMT_NONE;
};

// The encoders' banners are not for users; once per process.
void ffmpeg_quiet_logs();

// Opens the encoder; a negative FFmpeg error code when it does not open.
int open_video_encoder(const VideoEncoderSetup& setup, OpenedVideoEncoder* opened);

// The encoder check: opens the encoder the writer would use for the request
// and closes it again. `encoder_name` receives the FFmpeg encoder's name.
bool ffmpeg_find_video_encoder(const VideoEncoderRequest& request, std::string* encoder_name);
