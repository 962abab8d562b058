#include "video/encode/ffmpeg/video_encoders.h"

#include <unistd.h>

#include "video/encode/ffmpeg/av_ptr.h"

extern "C" {
#include <libavutil/hwcontext.h>
}

// Presets are the fastest that still look good on desktop content; the
// encoder benchmark (bench/encoder_bench.cpp) measures what each sustains.
EncoderChoice video_encoder_choice(VideoCodecKind codec, bool hardware) {
  if (hardware) {
    switch (codec) {
      case VIDEO_H264: return {"h264_vaapi", nullptr, true};
      case VIDEO_HEVC: return {"hevc_vaapi", nullptr, true};
      default: return {"av1_vaapi", nullptr, true};
    }
  }
  switch (codec) {
    case VIDEO_H264: return {"libx264", "superfast", false};
    case VIDEO_HEVC: return {"libx265", "ultrafast", false};
    default: return {"libsvtav1", "12", false};
  }
}

AVPixelFormat encoder_pixel_format(const EncoderChoice& choice, PixelLayout input) {
  const bool ten = input == PIXEL_P010;
  // libx264 and the hardware encoders read the semi-planar layouts; the other
  // software encoders only take planar pictures.
  if (choice.hardware || std::string(choice.name) == "libx264") return ten ? AV_PIX_FMT_P010LE : AV_PIX_FMT_NV12;
  return ten ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
}

PixelLayout layout_of(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_NV12: return PIXEL_NV12;
    case AV_PIX_FMT_P010LE: return PIXEL_P010;
    case AV_PIX_FMT_YUV420P: return PIXEL_YUV420P;
    case AV_PIX_FMT_YUV420P10LE: return PIXEL_YUV420P10;
    default: return PIXEL_NONE;
  }
}

AVPixelFormat pixel_format_of(PixelLayout layout) {
  switch (layout) {
    case PIXEL_NV12: return AV_PIX_FMT_NV12;
    case PIXEL_P010: return AV_PIX_FMT_P010LE;
    case PIXEL_YUV420P: return AV_PIX_FMT_YUV420P;
    case PIXEL_YUV420P10: return AV_PIX_FMT_YUV420P10LE;
    default: return AV_PIX_FMT_NONE;
  }
}

namespace {
bool encoder_takes(const AVCodec* codec, AVPixelFormat format) {
  if (!codec->pix_fmts) return true;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
    if (*p == format) return true;
  }
  return false;
}
}  // namespace

bool ffmpeg_find_video_encoder(VideoCodecKind codec, uint32_t profile, PixelLayout input, bool hardware,
                               const std::string& render_node) {
  const EncoderChoice choice = video_encoder_choice(codec, hardware);
  const AVCodec* found = avcodec_find_encoder_by_name(choice.name);
  if (!found) return false;
  if (!hardware) return encoder_takes(found, encoder_pixel_format(choice, input));
  // A hardware encoder counts only when the capture device's render node
  // opens as a VAAPI device.
  if (render_node.empty() || access(render_node.c_str(), R_OK | W_OK) != 0) return false;
  AVBufferRef* device = nullptr;
  if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, render_node.c_str(), nullptr, 0) < 0) return false;
  av_buffer_unref(&device);
  return true;
}
