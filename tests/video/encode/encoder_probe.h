#pragma once
// Reads a written file back with libavformat/libavcodec: stream parameters,
// colour tags, every decoded video timestamp and the decoded audio length.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct ProbedFile {
  bool opened = false;
  int streams = 0;
  // Video.
  AVCodecID video_codec = AV_CODEC_ID_NONE;
  int profile = -1;
  int width = 0, height = 0;
  AVPixelFormat pix_fmt = AV_PIX_FMT_NONE;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVChromaLocation chroma_location = AVCHROMA_LOC_UNSPECIFIED;
  double avg_frame_rate = 0;
  std::vector<int64_t> frame_times_us;  // decoded frames, presentation order
  std::vector<size_t> key_frames;       // indices into frame_times_us
  size_t b_frames = 0;
  // Audio.
  AVCodecID audio_codec = AV_CODEC_ID_NONE;
  int sample_rate = 0;
  int channels = 0;
  int64_t audio_samples = 0;
  double audio_first_time = 0;  // seconds
  double sound_onset_time = -1;  // first sample louder than -26 dBFS, seconds
  // The same onset as a player that lays the decoded sound end to end from
  // the track's first timestamp places it.
  double sound_onset_played = -1;
};

inline ProbedFile probe_file(const std::string& path) {
  ProbedFile out;
  AVFormatContext* fmt = nullptr;
  av_log_set_level(AV_LOG_QUIET);
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
  out.opened = avformat_find_stream_info(fmt, nullptr) >= 0;
  out.streams = static_cast<int>(fmt->nb_streams);
  AVCodecContext* dec[8] = {};
  int video = -1, audio = -1;
  for (unsigned i = 0; i < fmt->nb_streams && i < 8; ++i) {
    AVCodecParameters* p = fmt->streams[i]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(p->codec_id);
    if (!codec) continue;
    dec[i] = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec[i], p);
    dec[i]->pkt_timebase = fmt->streams[i]->time_base;
    if (avcodec_open2(dec[i], codec, nullptr) < 0) continue;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) {
      video = static_cast<int>(i);
      out.video_codec = p->codec_id;
      out.profile = p->profile;
      out.width = p->width;
      out.height = p->height;
      out.pix_fmt = static_cast<AVPixelFormat>(p->format);
      out.primaries = p->color_primaries;
      out.transfer = p->color_trc;
      out.matrix = p->color_space;
      out.range = p->color_range;
      out.chroma_location = p->chroma_location;
      out.avg_frame_rate = av_q2d(fmt->streams[i]->avg_frame_rate);
    } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && audio < 0) {
      audio = static_cast<int>(i);
      out.audio_codec = p->codec_id;
      out.sample_rate = p->sample_rate;
      out.channels = p->ch_layout.nb_channels;
    }
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool audio_first = true;
  auto drain = [&](int s) {
    while (avcodec_receive_frame(dec[s], frame) >= 0) {
      const AVRational tb = fmt->streams[s]->time_base;
      if (s == video) {
        if (frame->key_frame) out.key_frames.push_back(out.frame_times_us.size());
        if (frame->pict_type == AV_PICTURE_TYPE_B) out.b_frames += 1;
        out.frame_times_us.push_back(av_rescale_q(frame->best_effort_timestamp, tb, AVRational{1, 1000000}));
      } else if (s == audio) {
        const double t = frame->best_effort_timestamp * av_q2d(tb);
        if (audio_first) out.audio_first_time = t;
        audio_first = false;
        for (int i = 0; out.sound_onset_time < 0 && i < frame->nb_samples; ++i) {
          double v = 0;
          if (frame->format == AV_SAMPLE_FMT_FLTP) v = reinterpret_cast<const float*>(frame->extended_data[0])[i];
          if (frame->format == AV_SAMPLE_FMT_S16) v = reinterpret_cast<const int16_t*>(frame->data[0])[i * frame->ch_layout.nb_channels] / 32768.0;
          if (v > 0.05 || v < -0.05) {
            out.sound_onset_time = t + static_cast<double>(i) / frame->sample_rate;
            out.sound_onset_played =
                out.audio_first_time + static_cast<double>(out.audio_samples + i) / frame->sample_rate;
          }
        }
        out.audio_samples += frame->nb_samples;
      }
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    const int s = pkt->stream_index;
    if ((s == video || s == audio) && dec[s] && avcodec_send_packet(dec[s], pkt) >= 0) drain(s);
    av_packet_unref(pkt);
  }
  for (int s : {video, audio}) {
    if (s >= 0 && dec[s]) {
      avcodec_send_packet(dec[s], nullptr);
      drain(s);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  for (auto*& d : dec) avcodec_free_context(&d);
  avformat_close_input(&fmt);
  return out;
}

// Top-level box types of an MP4 file, in order.
inline std::vector<std::string> top_level_boxes(const std::string& path) {
  std::vector<std::string> boxes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return boxes;
  uint64_t pos = 0;
  for (;;) {
    unsigned char h[16];
    if (std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(h, 1, 8, f) != 8) break;
    uint64_t size = (uint64_t(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
    boxes.emplace_back(reinterpret_cast<char*>(h + 4), 4);
    if (size == 1) {
      if (std::fread(h + 8, 1, 8, f) != 8) break;
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | h[i];
    }
    if (size < 8) break;
    pos += size;
  }
  std::fclose(f);
  return boxes;
}

// The luma plane of the first decoded picture (8-bit formats), row by row.
struct DecodedLuma {
  int width = 0, height = 0;
  std::vector<uint8_t> y;
  int at(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
};

inline DecodedLuma first_picture_luma(const std::string& path) {
  DecodedLuma out;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(fmt, nullptr);
  const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVCodecContext* dec = nullptr;
  if (video >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[video]->codecpar->codec_id);
    dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[video]->codecpar);
    if (avcodec_open2(dec, codec, nullptr) < 0) avcodec_free_context(&dec);
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool got = false;
  while (dec && !got && av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == video && avcodec_send_packet(dec, pkt) >= 0)
      got = avcodec_receive_frame(dec, frame) >= 0;
    av_packet_unref(pkt);
  }
  if (dec && !got && avcodec_send_packet(dec, nullptr) >= 0) got = avcodec_receive_frame(dec, frame) >= 0;
  if (got) {
    out.width = frame->width;
    out.height = frame->height;
    out.y.resize(static_cast<size_t>(out.width) * out.height);
    for (int r = 0; r < out.height; ++r)
      std::copy_n(frame->data[0] + static_cast<size_t>(r) * frame->linesize[0], out.width, &out.y[static_cast<size_t>(r) * out.width]);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&fmt);
  return out;
}
