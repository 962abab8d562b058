// TEMPORARY: BGRA to YUV through libswscale until the real conversion stages
// land. Delete together with video/conversion_placeholder.h.
#include "video/conversion_placeholder.h"

#include <cstdlib>
#include <cstring>

#include "video/ffmpeg/av_ptr.h"
#include "video/ffmpeg/video_encoders.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
}

bool placeholder_converter_create(PlaceholderConverter* c, uint32_t in_width, uint32_t in_height,
                                  uint32_t out_width, uint32_t out_height, bool hd_color, PixelLayout layout) {
  placeholder_converter_release(c);
  c->in_width = in_width;
  c->in_height = in_height;
  c->out_width = out_width;
  c->out_height = out_height;
  c->input_stride = static_cast<int32_t>(in_width) * 4;
  c->input = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(c->input_stride) * in_height + 64));
  SwsContext* sws = sws_getContext(static_cast<int>(in_width), static_cast<int>(in_height), AV_PIX_FMT_BGRA,
                                   static_cast<int>(out_width), static_cast<int>(out_height), pixel_format_of(layout),
                                   SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws || !c->input) {
    sws_freeContext(sws);
    return false;
  }
  const int* src = sws_getCoefficients(SWS_CS_DEFAULT);
  const int* dst = sws_getCoefficients(hd_color ? SWS_CS_ITU709 : SWS_CS_ITU601);
  sws_setColorspaceDetails(sws, src, 1, dst, 0, 0, 1 << 16, 1 << 16);
  c->scaler = sws;
  return true;
}

void placeholder_converter_clear(PlaceholderConverter* c) {
  if (c->input) std::memset(c->input, 0, static_cast<size_t>(c->input_stride) * c->in_height);
}

void placeholder_converter_run(PlaceholderConverter* c, PlaceholderSurface* s) {
  if (!c->scaler || !s->memory) return;
  const uint8_t* src[1] = {c->input};
  const int src_stride[1] = {c->input_stride};
  sws_scale(static_cast<SwsContext*>(c->scaler), src, src_stride, 0, static_cast<int>(c->in_height), s->data,
            s->linesize);
}

void placeholder_converter_release(PlaceholderConverter* c) {
  sws_freeContext(static_cast<SwsContext*>(c->scaler));
  av_free(c->input);
  *c = PlaceholderConverter{};
}

bool placeholder_surface_create(PlaceholderSurface* s, uint32_t width, uint32_t height, PixelLayout layout) {
  placeholder_surface_release(s);
  const AVPixelFormat format = pixel_format_of(layout);
  const int size = av_image_get_buffer_size(format, static_cast<int>(width), static_cast<int>(height), 64);
  if (size <= 0) return false;
  s->memory = av_malloc(static_cast<size_t>(size));
  if (!s->memory) return false;
  av_image_fill_arrays(s->data, s->linesize, static_cast<uint8_t*>(s->memory), format, static_cast<int>(width),
                       static_cast<int>(height), 64);
  s->layout = layout;
  s->width = width;
  s->height = height;
  return true;
}

void placeholder_surface_release(PlaceholderSurface* s) {
  av_free(s->memory);
  *s = PlaceholderSurface{};
}
