// Real files through the FFmpeg writer, read back and decoded.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <fstream>
#include <random>

#include "app/ui_service.h"
#include "encoder_probe.h"
#include "encoder_test_support.h"
#include "platform/files.h"

namespace {

constexpr int64_t kTick = 10'000'000;  // counter ticks per second

class MessageLog : public UiService {
 public:
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    messages.push_back(caption + "|" + text);
    return IDOK;
  }
  int tray_notification(const std::string&, const std::string&, int) override { return 0; }
  std::vector<std::string> messages;
};

class EncoderFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    encoder_init_process();
    g_ui_service = &ui;
    Config& c = g_app.config;
    c.HardwareEncoder = 0;
    c.FragmentedOutput = 1;
    c.VideoBitrate = 2000;
    c.AudioChannels = 2;
    c.AudioSamplerate = 48000;
    c.AudioBitrate = 192;
  }
  void TearDown() override {
    if (encoder_has_worker()) {
      encoder_request_stop();
      encoder_wait_worker(10000);
    }
    g_ui_service = nullptr;
    app_reset();
  }

  EncoderConfig config(uint32_t w, uint32_t h, const WaveFormat* audio = nullptr) {
    EncoderConfig ec;
    ec.width = w;
    ec.height = h;
    ec.frame_rate_num = 30;
    ec.frame_rate_den = 1;
    ec.audio_format = audio;
    ec.config = &g_app.config;
    return ec;
  }

  // Frames at exactly 30 per second, from counter time `start`.
  void submit_frames(ScreenPicture& pic, int count, int64_t start, bool noise = false) {
    std::mt19937 rng(7);
    for (int k = 0; k < count; ++k) {
      if (noise) {
        for (auto& b : pic.pixels) b = static_cast<uint8_t>(rng());
      } else {
        pic.draw(k);
      }
      ASSERT_TRUE(wait_until([] { return g_app.encoder.video_free.load() != 0; }));
      ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, pic.width, pic.height}, start + k * kTick / 30, kTick));
    }
  }

  // `seconds` of float audio in 50-ms blocks from the first video frame on.
  void submit_audio(uint32_t rate, uint16_t channels, double seconds) {
    ASSERT_TRUE(wait_until([] { return g_app.encoder.first_video_time.load() != 0; }));
    const int64_t t0 = g_app.encoder.first_video_time.load();
    const uint32_t block = rate / 20;
    const int blocks = static_cast<int>(seconds * 20);
    for (int b = 0; b < blocks; ++b) {
      std::vector<float> pcm = sine_block(rate, channels, block, static_cast<uint64_t>(b) * block);
      ASSERT_TRUE(wait_until([&] {
        return encoder_submit_audio(pcm.data(), block, t0 + b * kTick / 20, kTick);
      }));
    }
  }

  bool stop() {
    encoder_request_stop();
    if (!encoder_wait_worker(20000)) return false;
    return g_app.encoder.finalize_ok.load() != 0;
  }

  TempDir dir;
  MessageLog ui;
};

struct CodecRow {
  const char* name;
  uint32_t codec, profile;
  AVCodecID expect_codec;
  std::vector<int> expect_profiles;
  AVPixelFormat expect_pix_fmt;
};

// One recording per row of the codec table this machine encodes in software:
// codec, profile, bit depth, colour description and every frame's time.
TEST_F(EncoderFileTest, EachSoftwareCodecRowWritesADecodableFile) {
  const CodecRow rows[] = {
      {"h264-base", VIDEO_CODEC_H264, VIDEO_PROFILE_BASE, AV_CODEC_ID_H264,
       {FF_PROFILE_H264_BASELINE, FF_PROFILE_H264_CONSTRAINED_BASELINE}, AV_PIX_FMT_YUV420P},
      {"h264-main", VIDEO_CODEC_H264, VIDEO_PROFILE_MAIN, AV_CODEC_ID_H264, {FF_PROFILE_H264_MAIN}, AV_PIX_FMT_YUV420P},
      {"h264-high", VIDEO_CODEC_H264, VIDEO_PROFILE_HIGH, AV_CODEC_ID_H264, {FF_PROFILE_H264_HIGH}, AV_PIX_FMT_YUV420P},
      {"h265-main", VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN, AV_CODEC_ID_HEVC, {FF_PROFILE_HEVC_MAIN}, AV_PIX_FMT_YUV420P},
      {"h265-main10", VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN10, AV_CODEC_ID_HEVC, {FF_PROFILE_HEVC_MAIN_10},
       AV_PIX_FMT_YUV420P10LE},
      {"av1-main", VIDEO_CODEC_AV1, VIDEO_PROFILE_MAIN, AV_CODEC_ID_AV1, {FF_PROFILE_AV1_MAIN}, AV_PIX_FMT_YUV420P},
      {"av1-main10", VIDEO_CODEC_AV1, VIDEO_PROFILE_MAIN10, AV_CODEC_ID_AV1, {FF_PROFILE_AV1_MAIN},
       AV_PIX_FMT_YUV420P10LE},
  };
  for (const CodecRow& row : rows) {
    SCOPED_TRACE(row.name);
    g_app.config.VideoCodec = row.codec;
    g_app.config.VideoProfile = row.profile;
    // 640x360 H.264 is standard definition (BT.601); H.265 and AV1 always use
    // BT.709.
    const std::string path = dir.file(std::string(row.name) + ".tmp.mp4");
    ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(640, 360)));
    ScreenPicture pic(640, 360);
    const int64_t start = 123 * kTick;
    submit_frames(pic, 15, start);
    ASSERT_TRUE(stop());

    const ProbedFile f = probe_file(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.video_codec, row.expect_codec);
    EXPECT_NE(std::find(row.expect_profiles.begin(), row.expect_profiles.end(), f.profile), row.expect_profiles.end())
        << f.profile;
    EXPECT_EQ(f.pix_fmt, row.expect_pix_fmt);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 360);
    EXPECT_EQ(f.range, AVCOL_RANGE_MPEG);
    const bool hd = row.codec != VIDEO_CODEC_H264;
    EXPECT_EQ(f.primaries, hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M);
    EXPECT_EQ(f.matrix, hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M);
    EXPECT_EQ(f.transfer, hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M);
    EXPECT_NEAR(f.avg_frame_rate, 30.0, 0.5);
    ASSERT_EQ(f.frame_times_us.size(), 15u);
    for (size_t k = 0; k < f.frame_times_us.size(); ++k) {
      EXPECT_NEAR(f.frame_times_us[k] - f.frame_times_us[0], static_cast<double>(k) * 1e6 / 30, 20) << k;
    }
    // Fragments only for H.264 with FragmentedOutput.
    const auto boxes = top_level_boxes(path);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0], "ftyp");
    const bool fragmented = std::find(boxes.begin(), boxes.end(), "moof") != boxes.end();
    EXPECT_EQ(fragmented, row.codec == VIDEO_CODEC_H264);
  }
}
}  // namespace
