// The Windows build's writer: the encoder check picks the bundled FFmpeg
// writer where Media Foundation has no encoder, and real recordings from
// synthetic pictures and sound are written through it into FV_WRITER_OUT.
// The bundled libraries carry no decoders: check_written_media.py decodes
// the files with the Linux tools afterwards (run_writer_check.sh).
#include <gtest/gtest.h>

#include "capture/device.h"
#include "capture/win32/d3d11_device.h"
#include "core/trace.h"
#include "core/ui_service.h"
#include "support/fake_ui.h"
#include "video/encode/encoder_test_support.h"
#include "video/encode/media_writer.h"
#include "video/encode/mf/mf_encoder_check.h"
#include "video/encode/mf/mf_writer.h"
#include "win32/win32_temp.h"
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

bool under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Media Foundation is asked first: on the capture adapter for hardware, in
// software otherwise. Wine has no encoder at all, so its enumeration finds
// nothing, and software H.264 opens in the bundled writer; a hardware
// request has no writer here, nor has a codec the bundled build leaves out.
// The trace says which writer was chosen, and that writer is the one made.
TEST_F(Win32EncoderFile, EncoderCheckChoosesTheBundledWriter) {
  if (!under_wine()) GTEST_SKIP() << "which writer is chosen depends on the machine's encoders";
  Win32TempDir dir;
  g_app.config.WriteDiagnostics = 1;
  set_run_trace_folder(dir.path());
  const uint64_t luid = list_adapters(false).at(0).luid;
  struct Row {
    VideoCodecKind codec;
    uint32_t profile;
    PixelLayout input;
    bool hardware;
    const char* name;  // null: refused
    const char* trace;
  };
  const Row rows[] = {
      {VIDEO_H264, 100, PIXEL_NV12, false, "ffmpeg/libx264",
       "encoder.writer codec=H264 hardware=0 media_foundation_encoders=0 enumeration=0x00000000 writer=ffmpeg"},
      {VIDEO_H264, 100, PIXEL_NV12, true, nullptr,
       "encoder.writer codec=H264 hardware=1 media_foundation_encoders=0 enumeration=0x00000000 writer=none"},
      {VIDEO_HEVC, 2, PIXEL_P010, false, nullptr,
       "encoder.writer codec=HEVC hardware=0 media_foundation_encoders=0 enumeration=0x00000000 writer=none"},
      {VIDEO_AV1, 1, PIXEL_NV12, true, nullptr,
       "encoder.writer codec=AV1 hardware=1 media_foundation_encoders=0 enumeration=0x00000000 writer=none"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.trace);
    VideoEncoderRequest r;
    r.codec = row.codec;
    r.profile = row.profile;
    r.input = row.input;
    r.hardware = row.hardware;
    r.adapter_luid = row.hardware ? luid : 0;
    r.width = 640;
    r.height = 360;
    r.frame_rate_num = 30;
    const MfEncoderCheck mf = mf_check_video_encoder(r);
    EXPECT_GE(mf.result, 0);
    EXPECT_EQ(mf.count, 0u);
    std::string name;
    EXPECT_EQ(media_platform().find_video_encoder(r, &name), row.name != nullptr);
    EXPECT_EQ(name, row.name ? row.name : "none");
    EXPECT_NE(read_bytes(run_trace_path()).find(row.trace), std::string::npos);
  }

  // After the software check the writer made is the bundled one: Media
  // Foundation's sink writer makes no MP4 file under Wine.
  VideoEncoderRequest r;
  r.width = 640;
  r.height = 360;
  r.frame_rate_num = 30;
  ASSERT_TRUE(media_platform().find_video_encoder(r, nullptr));
  std::unique_ptr<MediaWriter> w;
  EXPECT_FALSE(media_failed(media_platform().create_writer(dir / "chosen.mp4", WriterAttributes{}, &w)));
  EXPECT_TRUE(w);
  std::unique_ptr<MediaWriter> mf;
  EXPECT_TRUE(media_failed(mf_create_writer(dir / "mf.mp4", WriterAttributes{}, nullptr, &mf)));
  EXPECT_FALSE(mf);
  w.reset();
  set_run_trace_folder("");
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
