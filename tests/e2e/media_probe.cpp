#include "e2e/media_probe.h"

#include <cmath>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {
struct Input {
  AVFormatContext* fmt = nullptr;
  explicit Input(const std::string& path) {
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) fmt = nullptr;
    if (fmt && avformat_find_stream_info(fmt, nullptr) < 0) avformat_close_input(&fmt);
  }
  ~Input() {
    if (fmt) avformat_close_input(&fmt);
  }
};

struct Decoder {
  AVCodecContext* ctx = nullptr;
  Decoder(AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return;
    ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, st->codecpar);
    ctx->pkt_timebase = st->time_base;
    if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
  }
  ~Decoder() { avcodec_free_context(&ctx); }
};

double seconds(int64_t ts, AVRational tb) { return ts == AV_NOPTS_VALUE ? 0 : ts * av_q2d(tb); }

template <typename OnFrame>
void decode_stream(const std::string& path, AVMediaType type, OnFrame on_frame) {
  Input in(path);
  if (!in.fmt) return;
  int index = av_find_best_stream(in.fmt, type, -1, -1, nullptr, 0);
  if (index < 0) return;
  AVStream* st = in.fmt->streams[index];
  Decoder dec(st);
  if (!dec.ctx) return;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(dec.ctx, frame) == 0) {
      on_frame(frame, st);
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(in.fmt, pkt) >= 0) {
    if (pkt->stream_index == index && avcodec_send_packet(dec.ctx, pkt) >= 0) drain();
    av_packet_unref(pkt);
  }
  avcodec_send_packet(dec.ctx, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&pkt);
}
}  // namespace

MediaSummary probe_media(const std::string& path) {
  MediaSummary m;
  Input in(path);
  if (!in.fmt) return m;
  m.opened = true;
  int vi = av_find_best_stream(in.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int ai = av_find_best_stream(in.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  double first[2] = {1e300, 1e300}, end[2] = {-1e300, -1e300};
  StreamSummary* s[2] = {&m.video, &m.audio};
  int idx[2] = {vi, ai};
  for (int k = 0; k < 2; ++k) {
    if (idx[k] < 0) continue;
    AVStream* st = in.fmt->streams[idx[k]];
    s[k]->present = true;
    s[k]->codec = avcodec_get_name(st->codecpar->codec_id);
    s[k]->width = st->codecpar->width;
    s[k]->height = st->codecpar->height;
    s[k]->frame_rate = st->avg_frame_rate.den ? av_q2d(st->avg_frame_rate) : 0;
    s[k]->sample_rate = st->codecpar->sample_rate;
    s[k]->channels = st->codecpar->ch_layout.nb_channels;
  }
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(in.fmt, pkt) >= 0) {
    for (int k = 0; k < 2; ++k) {
      if (pkt->stream_index != idx[k] || pkt->pts == AV_NOPTS_VALUE) continue;
      AVRational tb = in.fmt->streams[idx[k]]->time_base;
      double t = seconds(pkt->pts, tb);
      first[k] = std::min(first[k], t);
      end[k] = std::max(end[k], t + seconds(pkt->duration, tb));
      s[k]->packets++;
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  for (int k = 0; k < 2; ++k) {
    if (s[k]->packets == 0) continue;
    s[k]->start = first[k];
    s[k]->duration = end[k] - first[k];
  }
  return m;
}

std::vector<PictureInfo> decode_pictures(const std::string& path, int source_width) {
  std::vector<PictureInfo> out;
  SwsContext* sws = nullptr;
  std::vector<uint8_t> gray;
  decode_stream(path, AVMEDIA_TYPE_VIDEO, [&](AVFrame* f, AVStream* st) {
    const int w = f->width, h = f->height;
    sws = sws_getCachedContext(sws, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_GRAY8,
                               SWS_POINT, nullptr, nullptr, nullptr);
    gray.resize(static_cast<size_t>(w) * h);
    uint8_t* dst[4] = {gray.data(), nullptr, nullptr, nullptr};
    int stride[4] = {w, 0, 0, 0};
    sws_scale(sws, f->data, f->linesize, 0, h, dst, stride);
    PictureInfo p;
    p.time = seconds(f->best_effort_timestamp, st->time_base);
    const double scale = source_width > 0 ? static_cast<double>(w) / source_width : 1.0;
    // Mean over a sparse grid of the area below the strip.
    uint64_t sum = 0, n = 0;
    for (int y = static_cast<int>(72 * scale); y < h; y += 8)
      for (int x = 0; x < w; x += 8, ++n) sum += gray[static_cast<size_t>(y) * w + x];
    p.mean_luma = n ? static_cast<double>(sum) / n : 0;
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
      const int x = static_cast<int>((16 + 32 * bit) * scale), y = static_cast<int>(16 * scale);
      if (x >= w || y >= h) {
        number = -1;
        break;
      }
      const uint8_t v = gray[static_cast<size_t>(y) * w + x];
      if (v > 96 && v < 160) {  // neither clearly black nor clearly white
        number = -1;
        break;
      }
      number = (number << 1) | (v >= 160 ? 1 : 0);
    }
    p.number = number;
    out.push_back(p);
  });
  sws_freeContext(sws);
  return out;
}

std::vector<RgbPicture> decode_rgb(const std::string& path) {
  std::vector<RgbPicture> out;
  SwsContext* sws = nullptr;
  decode_stream(path, AVMEDIA_TYPE_VIDEO, [&](AVFrame* f, AVStream*) {
    const int w = f->width, h = f->height;
    sws = sws_getCachedContext(sws, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_RGB24,
                               SWS_POINT, nullptr, nullptr, nullptr);
    RgbPicture p;
    p.width = w;
    p.height = h;
    p.rgb.resize(static_cast<size_t>(w) * h * 3);
    uint8_t* dst[4] = {p.rgb.data(), nullptr, nullptr, nullptr};
    int stride[4] = {w * 3, 0, 0, 0};
    sws_scale(sws, f->data, f->linesize, 0, h, dst, stride);
    out.push_back(std::move(p));
  });
  sws_freeContext(sws);
  return out;
}

AudioSamples decode_audio(const std::string& path) {
  AudioSamples a;
  SwrContext* swr = nullptr;
  bool first = true;
  decode_stream(path, AVMEDIA_TYPE_AUDIO, [&](AVFrame* f, AVStream* st) {
    if (!swr) {
      AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
      swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_FLT, f->sample_rate, &f->ch_layout,
                          static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
      swr_init(swr);
      a.rate = f->sample_rate;
    }
    if (first) {
      a.start = seconds(f->best_effort_timestamp, st->time_base);
      first = false;
    }
    const size_t at = a.samples.size();
    a.samples.resize(at + static_cast<size_t>(f->nb_samples) + 64);
    uint8_t* dst = reinterpret_cast<uint8_t*>(a.samples.data() + at);
    int got = swr_convert(swr, &dst, f->nb_samples + 64, const_cast<const uint8_t**>(f->extended_data),
                          f->nb_samples);
    a.samples.resize(at + static_cast<size_t>(got > 0 ? got : 0));
  });
  swr_free(&swr);
  return a;
}

double tone_share(const AudioSamples& a, double hz, double from, double to) {
  if (a.rate == 0) return 0;
  long i0 = std::lround((from - a.start) * a.rate), i1 = std::lround((to - a.start) * a.rate);
  i0 = std::max(0L, i0);
  i1 = std::min(static_cast<long>(a.samples.size()), i1);
  // Short windows: the share must not depend on the tone's phase staying
  // coherent across the whole track (blocks are placed on a clock).
  const long window = a.rate / 20;
  const double w = 2 * M_PI * hz / a.rate, coeff = 2 * std::cos(w);
  double tone = 0, energy = 0;
  for (long start = i0; start + window <= i1; start += window) {
    double s1 = 0, s2 = 0;
    for (long i = start; i < start + window; ++i) {
      const double x = a.samples[static_cast<size_t>(i)];
      const double s0 = x + coeff * s1 - s2;
      s2 = s1;
      s1 = s0;
      energy += x * x;
    }
    // A sine of amplitude A over n samples: |X|^2 = (A n / 2)^2, energy A^2 n / 2.
    tone += 2.0 * (s1 * s1 + s2 * s2 - coeff * s1 * s2) / static_cast<double>(window);
  }
  return energy > 0 ? tone / energy : 0;
}
