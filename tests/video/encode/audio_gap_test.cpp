// Holes in the sound: the waiting sound keeps silence as a count, and the
// real writer fills a long hole with silence, keeping the sound after it on
// the clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "video/encode/ffmpeg/ffmpeg_writer.h"
#include "video/encode/media_writer.h"
#include "video/encode/pcm_queue.h"
#include "support/temp_dir.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

TEST(PcmQueue, SilenceIsCountedAndEverySampleComesOutInOrder) {
  PcmQueue q(2);
  std::vector<int16_t> a(2 * 300), b(2 * 700);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<int16_t>(1 + i);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<int16_t>(-1 - static_cast<int>(i));
  const size_t gap = 48000 * 60;  // one minute
  q.push_front_silence(5);
  q.push(a.data(), 300);
  q.push_silence(gap);
  q.push(b.data(), 700);
  EXPECT_EQ(q.frames(), 5 + 300 + gap + 700);
  EXPECT_EQ(q.stored_samples(), a.size() + b.size()) << "silence must not be stored";

  std::vector<int16_t> want(2 * 5, 0);
  want.insert(want.end(), a.begin(), a.end());
  std::vector<int16_t> got;
  std::vector<int16_t> chunk(2 * 1024);
  size_t taken = 0;
  while (!q.empty()) {
    const size_t n = q.pop(chunk.data(), 1024);
    ASSERT_GT(n, 0u);
    // Compare the head and the tail exactly; the middle must be silent.
    for (size_t i = 0; i < n; ++i, ++taken) {
      const int16_t l = chunk[2 * i], r = chunk[2 * i + 1];
      if (taken < 305) {
        ASSERT_EQ(l, want[2 * taken]);
        ASSERT_EQ(r, want[2 * taken + 1]);
      } else if (taken < 305 + gap) {
        ASSERT_EQ(l, 0);
        ASSERT_EQ(r, 0);
      } else {
        const size_t k = taken - 305 - gap;
        ASSERT_EQ(l, b[2 * k]);
        ASSERT_EQ(r, b[2 * k + 1]);
      }
    }
  }
  EXPECT_EQ(taken, 5 + 300 + gap + 700);
  EXPECT_EQ(q.stored_samples(), 0u);

  // Sound that keeps arriving while it is taken stays bounded in memory.
  for (int round = 0; round < 1000; ++round) {
    q.push(b.data(), 700);
    while (q.frames() >= 1024) q.pop(chunk.data(), 1024);
    ASSERT_LE(q.stored_samples(), 4u * 2 * 1024 + b.size());
  }
}

// Decodes the file's sound (FLAC, 16-bit) to interleaved samples.
std::vector<int16_t> decode_sound(const std::string& path, int* channels) {
  std::vector<int16_t> out;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(fmt, nullptr);
  const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVCodecContext* dec = nullptr;
  if (index >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[index]->codecpar->codec_id);
    dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[index]->codecpar);
    if (avcodec_open2(dec, codec, nullptr) < 0) avcodec_free_context(&dec);
  }
  if (dec) {
    *channels = dec->ch_layout.nb_channels;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
      while (avcodec_receive_frame(dec, frame) >= 0) {
        const size_t n = static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(*channels);
        if (frame->format == AV_SAMPLE_FMT_S16) {
          const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
          out.insert(out.end(), s, s + n);
        }
      }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == index && avcodec_send_packet(dec, pkt) >= 0) drain();
      av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
  }
  avformat_close_input(&fmt);
  return out;
}

// A minute without sound between two tones, through the real writer: the
// file's sound is the first tone, a minute of silence, then the second tone
// at its own time.
TEST(WriterAudioGap, OneMinuteHoleIsSilenceAndTheSoundAfterItKeepsItsTime) {
  const TempDir dir("gap");
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir / "gap.mp4";
  constexpr uint32_t kRate = 48000;
  constexpr int64_t kSecond = 10'000'000;

  WriterAttributes attrs;
  attrs.container = CONTAINER_MPEG4;
  std::unique_ptr<MediaWriter> w;
  ASSERT_GE(ffmpeg_create_writer(path, attrs, &w), 0);
  VideoOutputType vout;
  vout.width = 64;
  vout.height = 64;
  vout.frame_rate_num = 30;
  vout.profile = 100;
  int32_t vs = -1, as = -1;
  ASSERT_GE(w->add_video_stream(vout, &vs), 0);
  VideoInputType vin;
  vin.width = 64;
  vin.height = 64;
  vin.frame_rate_num = 30;
  ASSERT_GE(w->set_video_input(vs, vin), 0);
  AudioOutputType aout;
  aout.codec = AUDIO_FLAC;
  aout.samples_per_second = kRate;
  aout.num_channels = 2;
  ASSERT_GE(w->add_audio_stream(aout, &as), 0);
  AudioInputType ain;
  ain.samples_per_second = kRate;
  ain.num_channels = 2;
  ASSERT_GE(w->set_audio_input(as, ain), 0);
  ASSERT_GE(w->begin_writing(), 0);
  ASSERT_EQ(w->picture_layout(vs), PIXEL_NV12);

  std::vector<uint8_t> picture(64 * 64 * 3 / 2, 128);
  MediaSample pic;
  pic.data[0] = picture.data();
  pic.data[1] = picture.data() + 64 * 64;
  pic.linesize[0] = pic.linesize[1] = 64;
  pic.layout = PIXEL_NV12;
  pic.width = pic.height = 64;
  pic.time = 0;
  ASSERT_GE(w->write_sample(vs, &pic), 0);

  // Half a second of tone at 0 s and at 60.5 s.
  std::vector<int16_t> tone(kRate / 2 * 2);
  for (size_t i = 0; i < tone.size() / 2; ++i) {
    const int16_t v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / kRate));
    tone[2 * i] = tone[2 * i + 1] = v == 0 ? 1 : v;  // never exactly zero: silence is told apart
  }
  MediaSample block;
  block.data[0] = reinterpret_cast<uint8_t*>(tone.data());
  block.length = block.capacity = tone.size() * sizeof(int16_t);
  block.duration = kSecond / 2;
  const auto t0 = std::chrono::steady_clock::now();
  block.time = 0;
  ASSERT_GE(w->write_sample(as, &block), 0);
  block.time = 60 * kSecond + kSecond / 2;
  ASSERT_GE(w->write_sample(as, &block), 0);
  const double gap_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_GE(w->send_stream_tick(vs, 61 * kSecond), 0);
  ASSERT_GE(w->finalize(), 0);
  w.reset();
  std::printf("[ figures ] one-minute sound gap through the writer: %.1f ms\n", gap_ms);
  RecordProperty("gap_ms", std::to_string(gap_ms));

  int channels = 0;
  const std::vector<int16_t> s = decode_sound(path, &channels);
  ASSERT_EQ(channels, 2);
  const size_t frames = s.size() / 2;
  EXPECT_NEAR(static_cast<double>(frames), 61.0 * kRate, 2.0 * 4608) << "length of the sound track";
  // Locate the two tones: non-zero runs.
  size_t first_end = 0, second_start = 0;
  for (size_t i = 0; i < frames; ++i) {
    if (s[2 * i] != 0) {
      if (second_start == 0 && first_end != 0 && i > first_end + kRate) second_start = i;
      if (second_start == 0) first_end = i + 1;
    }
  }
  EXPECT_NEAR(static_cast<double>(first_end), kRate / 2.0, 2);
  EXPECT_NEAR(static_cast<double>(second_start), 60.5 * kRate, 2) << "the sound after the hole moved";
  // The second tone is complete and exact.
  ASSERT_GE(frames, second_start + tone.size() / 2);
  for (size_t i = 0; i < tone.size() / 2; ++i) ASSERT_EQ(s[2 * (second_start + i)], tone[2 * i]) << i;
}

}  // namespace
