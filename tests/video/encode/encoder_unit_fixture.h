#pragma once
// An encoder set up on the recording fake, with a manual clock.
#include <gtest/gtest.h>

#include "core/ui_service.h"
#include "encoder_fake_media.h"
#include "encoder_test_support.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/fake_ui.h"
#include "video/encode/sample_pool.h"

inline std::atomic<int64_t> g_manual_now{0};
inline int64_t manual_now() { return g_manual_now.load(); }

constexpr int64_t kTick = 10'000'000;
constexpr int64_t kF60 = 166'667;  // one 60-fps frame in 10-MHz ticks, rounded up

// The encoder's message boxes, also as "caption|text" lines in `log`.
class Messages : public FakeUi {
 public:
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override {
    const int answer = FakeUi::message_box(text, caption, type);
    std::lock_guard<std::mutex> g(mutex);
    log.push_back(caption + "|" + text);
    return answer;
  }
  std::vector<std::string> log;
};

class EncoderUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_fake = &fake;
    media_platform_set(&fake_platform());
    g_manual_now = 1000 * kTick;
    clock_set_source(manual_now);
    g_ui_service = &messages;
    encoder_init_process();
    Config& c = g_app.config;
    c.HardwareEncoder = 0;
    c.VideoCodec = VIDEO_CODEC_H264;
    c.VideoProfile = VIDEO_PROFILE_HIGH;
    c.AudioCodec = AUDIO_CODEC_AAC;
    c.AudioBitrate = 192;
    path = dir.file("rec.tmp.mp4");
  }
  void TearDown() override {
    encoder_test_block_writer(false);
    if (encoder_has_worker()) {
      encoder_request_stop();
      EXPECT_TRUE(encoder_wait_worker(5000));
    }
    clock_set_source(nullptr);
    media_platform_set(nullptr);
    g_ui_service = nullptr;
    g_fake = nullptr;
    app_reset();
  }

  EncoderConfig config(uint32_t w = 1280, uint32_t h = 720, const WaveFormat* audio = nullptr, uint32_t num = 60,
                       uint32_t den = 1) {
    EncoderConfig ec;
    ec.width = w;
    ec.height = h;
    ec.frame_rate_num = num;
    ec.frame_rate_den = den;
    ec.audio_format = audio;
    ec.config = &g_app.config;
    return ec;
  }
  bool setup(const EncoderConfig& ec) { return encoder_setup(g_app.encoder, device, path, ec); }
  bool setup_default(bool audio = false) {
    static const WaveFormat f = wave_format_float(48000, 2);
    return setup(config(1280, 720, audio ? &f : nullptr));
  }

  // The worker's writes, done on the test thread while the worker is idle.
  void write_frame(int64_t time) {
    const int32_t i = pool_claim(g_app.encoder.video_free);
    ASSERT_GE(i, 0);
    EncoderItem item{ENCODER_ITEM_VIDEO, static_cast<uint32_t>(i), time, kTick, nullptr, 0};
    encoder_dispatch(g_app.encoder, item);
  }
  void tick(int64_t time) {
    EncoderItem item{ENCODER_ITEM_TICK, 0, time, kTick, nullptr, 0};
    encoder_dispatch(g_app.encoder, item);
  }
  void audio_block(uint32_t frames, int64_t time) {
    auto* data = static_cast<uint8_t*>(std::calloc(frames, g_app.encoder.audio_block_align));
    EncoderItem item{ENCODER_ITEM_AUDIO, 0, time, kTick, data, frames};
    encoder_dispatch(g_app.encoder, item);
  }
  bool stop() {
    encoder_request_stop();
    return encoder_wait_worker(5000);
  }

  CaptureDevice device;
  FakeMedia fake;
  Messages messages;
  TempDir dir{"encoder"};
  std::string path;
};
