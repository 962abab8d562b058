#include "video/encode/ffmpeg/video_encoders.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/hwcontext.h>
}

// Presets are the fastest that still look good on desktop content; the
// encoder benchmark (bench/encoder_bench.cpp) measures what each sustains.
EncoderChoice video_encoder_choice(VideoCodecKind codec, bool hardware, const std::string& driver) {
  if (hardware && driver == "nvidia") {
    switch (codec) {
      case VIDEO_H264: return {"h264_nvenc", "p2", true, HW_NVENC};
      case VIDEO_HEVC: return {"hevc_nvenc", "p2", true, HW_NVENC};
      default: return {"av1_nvenc", "p2", true, HW_NVENC};
    }
  }
  if (hardware) {
    switch (codec) {
      case VIDEO_H264: return {"h264_vaapi", nullptr, true, HW_VAAPI};
      case VIDEO_HEVC: return {"hevc_vaapi", nullptr, true, HW_VAAPI};
      default: return {"av1_vaapi", nullptr, true, HW_VAAPI};
    }
  }
  switch (codec) {
    case VIDEO_H264: return {"libx264", "superfast", false, HW_NONE};
    case VIDEO_HEVC: return {"libx265", "ultrafast", false, HW_NONE};
    default: return {"libsvtav1", "12", false, HW_NONE};
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

// Colour description. The capture is sRGB-encoded screen content. The codecs
// have no code for the platform's "gamma 1.8" transfer value, and the sRGB
// code is honoured by few decoders; BT.709 (and its twin for SD, SMPTE 170M)
// is what every player knows and displays as-is on an sRGB screen, so that
// is the tag written.
AVColorPrimaries primaries_of(uint32_t v) { return v == PRIMARIES_BT709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M; }
AVColorSpace matrix_of(uint32_t v) { return v == MATRIX_BT709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M; }
AVColorTransferCharacteristic transfer_for(uint32_t primaries) {
  return primaries == PRIMARIES_BT709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
}

const char* profile_name(VideoCodecKind codec, uint32_t profile, HardwareApi api) {
  // VA-API knows Baseline only in its constrained form, which is also what
  // the software encoder writes for it.
  if (codec == VIDEO_H264 && profile == 66) return api == HW_VAAPI ? "constrained_baseline" : "baseline";
  if (codec == VIDEO_H264) return profile == 77 ? "main" : "high";
  if (codec == VIDEO_HEVC) return profile == 2 ? "main10" : "main";
  return nullptr;
}

// Track time base: 90 kHz when the frame rate divides it, else a multiple of
// the frame rate, so nominal frame durations are whole units.
AVRational video_time_base(uint32_t num, uint32_t den) {
  if (num == 0 || den == 0) return {1, 90000};
  if ((90000ull * den) % num == 0) return {1, 90000};
  const uint64_t k = std::max<uint64_t>(1, 90000 / num);
  return {1, static_cast<int>(std::min<uint64_t>(num * k, 0x7fffffff))};
}

bool encoder_takes(const AVCodec* codec, AVPixelFormat format) {
  if (!codec->pix_fmts) return true;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
    if (*p == format) return true;
  }
  return false;
}

}  // namespace

void ffmpeg_quiet_logs() {
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_ERROR);
#ifndef _WIN32
    setenv("SVT_LOG", "1", 0);
#endif
    return true;
  }();
  (void)quiet;
}

int open_video_encoder(const VideoEncoderSetup& s, OpenedVideoEncoder* opened) {
  ffmpeg_quiet_logs();
  const AVCodec* codec = avcodec_find_encoder_by_name(s.choice.name);
  if (!codec) return AVERROR_ENCODER_NOT_FOUND;
  const AVPixelFormat sw_format = encoder_pixel_format(s.choice, s.input);
  if (s.choice.api != HW_VAAPI && !encoder_takes(codec, sw_format)) return AVERROR(EINVAL);
  AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return AVERROR(ENOMEM);
  AVCodecContext* c = ctx.get();
  c->width = static_cast<int>(s.out.width);
  c->height = static_cast<int>(s.out.height);
  c->time_base = video_time_base(s.out.frame_rate_num, s.out.frame_rate_den);
  c->framerate = {static_cast<int>(s.out.frame_rate_num), static_cast<int>(s.out.frame_rate_den)};
  c->sample_aspect_ratio = {1, 1};
  c->pix_fmt = sw_format;
  c->bit_rate = s.settings.mean_bitrate ? s.settings.mean_bitrate : s.out.avg_bitrate;
  c->gop_size = s.settings.gop_size ? static_cast<int>(s.settings.gop_size) : 250;
  c->max_b_frames = static_cast<int>(s.settings.b_picture_count);
  c->color_range = s.out.nominal_range == NOMINAL_RANGE_16_235 ? AVCOL_RANGE_MPEG : AVCOL_RANGE_JPEG;
  c->color_primaries = primaries_of(s.out.primaries);
  c->colorspace = matrix_of(s.out.matrix);
  c->color_trc = transfer_for(s.out.primaries);
  c->chroma_sample_location = s.out.chroma_siting == CHROMA_SITING_MPEG2 ? AVCHROMA_LOC_LEFT : AVCHROMA_LOC_UNSPECIFIED;
  c->thread_count = 0;
  if (s.global_header) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  AvBufferPtr hw_device, hw_frames;
  if (s.choice.api == HW_VAAPI) {
    // Only a node this process may open is tried: a refused open of a
    // device file costs nothing, a driver probe on a foreign node can.
    if (s.render_node.empty() || access(s.render_node.c_str(), R_OK | W_OK) != 0) return AVERROR(ENODEV);
    AVBufferRef* device = nullptr;
    int r = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, s.render_node.c_str(), nullptr, 0);
    if (r < 0) return r;
    hw_device.reset(device);
    hw_frames.reset(av_hwframe_ctx_alloc(device));
    if (!hw_frames) return AVERROR(ENOMEM);
    auto* frames = reinterpret_cast<AVHWFramesContext*>(hw_frames->data);
    frames->format = AV_PIX_FMT_VAAPI;
    frames->sw_format = sw_format;
    frames->width = c->width;
    frames->height = c->height;
    frames->initial_pool_size = 16;
    if ((r = av_hwframe_ctx_init(hw_frames.get())) < 0) return r;
    c->pix_fmt = AV_PIX_FMT_VAAPI;
    c->hw_frames_ctx = av_buffer_ref(hw_frames.get());
    if (!c->hw_frames_ctx) return AVERROR(ENOMEM);
  }

  AVDictionary* options = nullptr;
  if (s.choice.preset) av_dict_set(&options, "preset", s.choice.preset, 0);
  if (const char* p = profile_name(s.out.codec, s.out.profile, s.choice.api)) av_dict_set(&options, "profile", p, 0);
  if (std::strcmp(s.choice.name, "libx265") == 0) av_dict_set(&options, "x265-params", "log-level=error", 0);
  // x264 parallelises over slices of one picture instead of over pictures:
  // every frame thread keeps a whole picture with its half-pixel and
  // look-ahead planes, and the frames waiting for the look-ahead thread come
  // on top. At 1920x1080 on two cores that is 65 MB less (about 150 MB of
  // encoder down to 85), for the same CPU time and the same quality at the
  // same bit rate, and the first packet no longer waits behind the frame
  // threads.
  if (std::strcmp(s.choice.name, "libx264") == 0) av_dict_set(&options, "x264-params", "sliced-threads=1", 0);
  int r = avcodec_open2(c, codec, &options);
  av_dict_free(&options);
  if (r < 0) return r;
  opened->ctx = std::move(ctx);
  opened->hw_device = std::move(hw_device);
  opened->hw_frames = std::move(hw_frames);
  opened->sw_format = sw_format;
  return 0;
}

bool ffmpeg_find_video_encoder(const VideoEncoderRequest& request, std::string* encoder_name) {
  VideoEncoderSetup setup;
  setup.choice = video_encoder_choice(request.codec, request.hardware, request.driver);
  if (encoder_name) *encoder_name = setup.choice.name;
  const AVCodec* codec = avcodec_find_encoder_by_name(setup.choice.name);
  if (!codec) return false;
  // A software encoder of this build takes every profile and bit depth of
  // the codec table once it takes the pixel format; opening one only to
  // close it again is not free (SVT-AV1 waits forever in the close of an
  // encoder that never saw the end of a stream).
  if (!request.hardware) return encoder_takes(codec, encoder_pixel_format(setup.choice, request.input));
  // A hardware encoder is opened for real, at the recording's size: devices
  // differ in profiles, bit depths and size limits.
  setup.out.codec = request.codec;
  setup.out.profile = request.profile;
  setup.input = request.input;
  setup.render_node = request.render_node;
  setup.out.width = request.width > 0 ? request.width : 1280;
  setup.out.height = request.height > 0 ? request.height : 720;
  setup.out.frame_rate_num = request.frame_rate_num ? request.frame_rate_num : 60;
  setup.out.frame_rate_den = request.frame_rate_den ? request.frame_rate_den : 1;
  setup.out.avg_bitrate = 8'000'000;
  setup.settings.mean_bitrate = 8'000'000;
  setup.settings.gop_size = 240;
  setup.global_header = true;  // as in the MP4 writer
  OpenedVideoEncoder opened;
  return open_video_encoder(setup, &opened) >= 0;
}
