// The Windows build's writer: the encoder check picks the bundled FFmpeg
// writer where Media Foundation has no encoder, and real recordings from
// synthetic pictures and sound are written through it into FV_WRITER_OUT.
// The bundled libraries carry no decoders: check_written_media.py decodes
// the files with the Linux tools afterwards (run_writer_check.sh).
#include <gtest/gtest.h>

#include "capture/device.h"
#include "core/ui_service.h"
#include "support/fake_ui.h"
#include "video/encode/encoder_test_support.h"
#include "video/encode/media_writer.h"
#include "video/encode/wave_format.h"

namespace {
constexpr int64_t kTick = 10'000'000;

class Win32EncoderFile : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    encoder_init_process();
    g_ui_service = &ui;
  }
  void TearDown() override { end_encoder_test(); }
  FakeUi ui;
};

// Software H.264 opens in the bundled writer whatever Media Foundation has;
// a hardware request has no writer here, nor has a codec the bundled build
// leaves out.
TEST_F(Win32EncoderFile, EncoderCheckChoosesTheBundledWriter) {
  struct Row {
    VideoCodecKind codec;
    bool hardware;
    bool found;
    const char* name;
  };
  const Row rows[] = {
      {VIDEO_H264, false, true, "ffmpeg/libx264"},
      {VIDEO_H264, true, false, nullptr},
      {VIDEO_HEVC, false, false, nullptr},
  };
  for (const Row& row : rows) {
    VideoEncoderRequest r;
    r.codec = row.codec;
    r.hardware = row.hardware;
    r.profile = row.codec == VIDEO_H264 ? 100 : 1;
    r.width = 640;
    r.height = 360;
    r.frame_rate_num = 30;
    std::string name;
    EXPECT_EQ(media_platform().find_video_encoder(r, &name), row.found) << row.codec << " " << row.hardware;
    if (row.name) EXPECT_EQ(name, row.name);
  }
}

// Two seconds of a moving picture with a 440 Hz tone: a fragmented H.264
// file with AAC from 44.1 kHz stereo, and a plain one with FLAC from 48 kHz
// mono. Both end up 48 kHz stereo.
TEST_F(Win32EncoderFile, WritesRecordingsForTheLinuxTools) {
  const char* out = std::getenv("FV_WRITER_OUT");
  ASSERT_NE(out, nullptr) << "run through run_writer_check.sh";
  struct Case {
    const char* file;
    uint32_t fragmented, audio_codec, rate;
    uint16_t channels;
  };
  const Case cases[] = {
      {"fragmented-aac.mp4", 1, AUDIO_CODEC_AAC, 44100, 2},
      {"plain-flac.mp4", 0, AUDIO_CODEC_FLAC, 48000, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Config& cfg = g_app.config;
    cfg.HardwareEncoder = 0;
    cfg.VideoCodec = VIDEO_CODEC_H264;
    cfg.VideoProfile = VIDEO_PROFILE_HIGH;
    cfg.FragmentedOutput = c.fragmented;
    cfg.VideoBitrate = 2000;
    cfg.AudioCodec = c.audio_codec;
    cfg.AudioChannels = 2;
    cfg.AudioSamplerate = 48000;
    cfg.AudioBitrate = 192;
    const WaveFormat in = wave_format_float(c.rate, c.channels);
    EncoderConfig ec;
    ec.width = 640;
    ec.height = 360;
    ec.frame_rate_num = 30;
    ec.audio_format = &in;
    ec.config = &cfg;
    const std::string path = std::string(out) + "\\" + c.file;
    ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, ec));
    ScreenPicture pic(640, 360);
    const int64_t start = 77 * kTick;
    const uint32_t block = c.rate / 20;
    for (int k = 0; k < 60; ++k) {
      pic.draw(k);
      ASSERT_TRUE(wait_until([] { return g_app.encoder.video_free.load() != 0; }));
      ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, 640, 360}, start + k * kTick / 30, kTick));
      // The sound in 50-ms blocks beside the pictures, from the first on.
      if (k % 3 == 0) {
        for (int b = k / 3 * 2; b < k / 3 * 2 + 2; ++b) {
          std::vector<float> pcm = sine_block(c.rate, c.channels, block, static_cast<uint64_t>(b) * block);
          ASSERT_TRUE(wait_until([&] { return encoder_submit_audio(pcm.data(), block, start + b * kTick / 20, kTick); }));
        }
      }
    }
    ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }, std::chrono::seconds(30)));
    encoder_request_stop();
    ASSERT_TRUE(encoder_wait_worker(30000));
    EXPECT_NE(g_app.encoder.finalize_ok.load(), 0u);
    EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 0u);
  }
}
}  // namespace
