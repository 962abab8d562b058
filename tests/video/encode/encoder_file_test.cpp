// Real files through the FFmpeg writer, read back and decoded.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <fstream>
#include <random>

#include "core/ui_service.h"
#include "encoder_probe.h"
#include "encoder_test_support.h"
#include "platform/files.h"
#include "support/fake_ui.h"

namespace {

constexpr int64_t kTick = 10'000'000;  // counter ticks per second

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
  void TearDown() override { end_encoder_test(); }

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

  // Audio still queued when stop is requested is dropped by design, so a
  // test that wants all of it written lets the queues empty first.
  bool stop() {
    wait_until([] { return encoder_pending_count() == 0; }, std::chrono::seconds(20));
    encoder_request_stop();
    if (!encoder_wait_worker(20000)) return false;
    return g_app.encoder.finalize_ok.load() != 0;
  }

  TempDir dir{"encoder"};
  FakeUi ui;
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
    EXPECT_EQ(f.chroma_location, AVCHROMA_LOC_LEFT);
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

// Sound arrives as the sound server gives it (float, any rate and channel
// count) and leaves as the configured track; its length is what was submitted
// and it starts with the picture. The AAC row also records an odd capture
// size, which is encoded at the next even size.
TEST_F(EncoderFileTest, AudioTracksCarryTheSubmittedSound) {
  struct Case {
    const char* name;
    uint32_t video_codec, audio_codec;
    uint32_t in_rate;
    uint16_t in_channels;
    uint32_t width, height, out_width, out_height;
    AVCodecID expect_audio;
  };
  const Case cases[] = {
      {"aac from 44.1 kHz stereo", VIDEO_CODEC_H264, AUDIO_CODEC_AAC, 44100, 2, 1366, 767, 1366, 768, AV_CODEC_ID_AAC},
      {"flac from 48 kHz mono", VIDEO_CODEC_H265, AUDIO_CODEC_FLAC, 48000, 1, 640, 360, 640, 360, AV_CODEC_ID_FLAC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_app.config.VideoCodec = c.video_codec;
    g_app.config.VideoProfile = VIDEO_PROFILE_MAIN;
    g_app.config.AudioCodec = c.audio_codec;
    const WaveFormat in = wave_format_float(c.in_rate, c.in_channels);
    const std::string path = dir.file(std::string(c.name) + ".tmp.mp4");
    ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(c.width, c.height, &in)));
    ScreenPicture pic(static_cast<int32_t>(c.width), static_cast<int32_t>(c.height));
    submit_frames(pic, 30, 50 * kTick);
    submit_audio(c.in_rate, c.in_channels, 1.0);
    ASSERT_TRUE(stop());
    EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 0u);

    const ProbedFile f = probe_file(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.width, static_cast<int>(c.out_width));
    EXPECT_EQ(f.height, static_cast<int>(c.out_height));
    EXPECT_EQ(f.primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(f.frame_times_us.size(), 30u);
    EXPECT_EQ(f.audio_codec, c.expect_audio);
    EXPECT_EQ(f.sample_rate, 48000);
    EXPECT_EQ(f.channels, 2);
    ASSERT_FALSE(f.frame_times_us.empty());
    const double first_picture = f.frame_times_us.front() / 1e6;
    // The track may start ahead of the first picture (encoder priming, the
    // picture encoder's reorder delay); from the first picture on it carries
    // the second that was submitted.
    EXPECT_NEAR(static_cast<double>(f.audio_samples) / 48000.0 - (first_picture - f.audio_first_time), 1.0, 0.03);
    // The sound starts with the first picture (the sine is audible from its
    // first block on), by its timestamps and as played end to end.
    EXPECT_NEAR(f.sound_onset_time, first_picture, 0.01);
    EXPECT_NEAR(f.sound_onset_played, first_picture, 0.01);
  }
}

// H.264 with FragmentedOutput: fragments follow the header, and a copy cut
// in the middle (a crash) still plays up to the cut. Without fragments the
// same cut plays nothing.
TEST_F(EncoderFileTest, FragmentedH264PlaysUpToACut) {
  for (uint32_t fragmented : {1u, 0u}) {
    SCOPED_TRACE(fragmented ? "fragmented" : "plain");
    g_app.config.VideoCodec = VIDEO_CODEC_H264;
    g_app.config.VideoProfile = VIDEO_PROFILE_HIGH;
    g_app.config.FragmentedOutput = fragmented;
    const std::string path = dir.file(fragmented ? "frag.tmp.mp4" : "plain.tmp.mp4");
    ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(640, 360)));
    ScreenPicture pic(640, 360);
    submit_frames(pic, 90, 10 * kTick);
    ASSERT_TRUE(stop());

    const auto boxes = top_level_boxes(path);
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "ftyp");
    const auto moof = std::find(boxes.begin(), boxes.end(), "moof");
    EXPECT_EQ(moof != boxes.end(), fragmented != 0);
    EXPECT_EQ(probe_file(path).frame_times_us.size(), 90u);

    std::ifstream whole(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    const std::string cut = dir.file(fragmented ? "frag-cut.mp4" : "plain-cut.mp4");
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
    const ProbedFile f = probe_file(cut);
    if (fragmented) {
      EXPECT_GT(f.frame_times_us.size(), 15u);
      EXPECT_LT(f.frame_times_us.size(), 90u);
      for (size_t k = 1; k < f.frame_times_us.size(); ++k) EXPECT_GT(f.frame_times_us[k], f.frame_times_us[k - 1]);
    } else {
      EXPECT_TRUE(f.frame_times_us.empty());
    }
  }
}

TEST_F(EncoderFileTest, SetUpFailuresLeaveNoFile) {
  // No GPU here: with HardwareEncoder on there is no encoder, and no fallback.
  g_app.config.HardwareEncoder = 1;
  for (const char* node : {"", "/dev/dri/renderD128"}) {
    CaptureDevice device;
    device.render_node = node;
    const std::string path = dir.file("hw.tmp.mp4");
    ui.boxes.clear();
    EXPECT_FALSE(encoder_setup(g_app.encoder, device, path, config(640, 360)));
    EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Frelvanta|Cannot find video encoder!"});
    EXPECT_FALSE(file_exists(path));
    EXPECT_FALSE(encoder_has_worker());
  }

  g_app.config.HardwareEncoder = 0;
  const std::string missing = dir.file("no-such-folder/x.tmp.mp4");
  ui.boxes.clear();
  EXPECT_FALSE(encoder_setup(g_app.encoder, CaptureDevice{}, missing, config(640, 360)));
  const std::vector<std::string> boxes = ui.box_lines();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Frelvanta|Cannot create output mp4 file!\n\nError: 0x", 0), 0u) << boxes[0];
  EXPECT_NE(boxes[0].find("\nPath: " + missing), std::string::npos);
  EXPECT_FALSE(file_exists(missing));
  EXPECT_FALSE(encoder_has_worker());
}

// A file system that fills up makes the writes fail: the flag that stops the
// recording is raised and finalisation reports the failure.
TEST_F(EncoderFileTest, FullDiskSetsWriteFailed) {
  const std::string mount_point = dir.file("small");
  ASSERT_TRUE(create_directories(mount_point));
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() {
      // The worker must be gone before the file system goes.
      if (encoder_has_worker()) {
        encoder_request_stop();
        encoder_wait_worker(10000);
      }
      umount2(path.c_str(), MNT_DETACH);
    }
  } unmount{mount_point};
  g_app.config.VideoCodec = VIDEO_CODEC_H264;
  g_app.config.VideoBitrate = 60000;
  const std::string path = mount_point + "/full.tmp.mp4";
  ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(640, 360)));
  ScreenPicture pic(640, 360);
  std::mt19937 rng(3);
  for (int k = 0; k < 600 && g_app.encoder.write_failed.load() == 0; ++k) {
    for (auto& b : pic.pixels) b = static_cast<uint8_t>(rng());
    ASSERT_TRUE(wait_until([] { return g_app.encoder.video_free.load() != 0; }));
    ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, 640, 360}, kTick + k * kTick / 30, kTick));
  }
  ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }));
  EXPECT_EQ(g_app.encoder.write_failed.load(), 1u);
  EXPECT_FALSE(stop());  // finalize_ok is 0
  EXPECT_EQ(g_app.encoder.worker_done.load(), 1u);
}

// A still screen: stream ticks repeat the last picture at the tick's time,
// so the file's timeline keeps moving, and a frame after the gap keeps its
// time.
TEST_F(EncoderFileTest, StreamTicksMoveTheTimelineOfAStillScreen) {
  g_app.config.VideoCodec = VIDEO_CODEC_H264;
  const std::string path = dir.file("still.tmp.mp4");
  EncoderConfig ec = config(640, 360);
  ec.frame_rate_num = 60;
  ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, ec));
  ScreenPicture pic(640, 360);
  pic.draw(0);
  const int64_t t0 = 20 * kTick;
  ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, 640, 360}, t0, kTick));
  ASSERT_TRUE(encoder_enqueue({ENCODER_ITEM_TICK, 0, t0 + 2 * kTick, static_cast<uint64_t>(kTick), nullptr, 0}));
  pic.draw(1);
  ASSERT_TRUE(wait_until([] { return g_app.encoder.video_free.load() != 0; }));
  ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, 640, 360}, t0 + 2 * kTick + 1000, kTick));
  ASSERT_TRUE(stop());
  EXPECT_EQ(g_app.encoder.video_duplicate_frames.load(), 1u);
  EXPECT_EQ(g_app.encoder.video_stream_ticks.load(), 1u);

  const ProbedFile f = probe_file(path);
  ASSERT_EQ(f.frame_times_us.size(), 4u);
  const int64_t first = f.frame_times_us[0];
  // 16 frames (266.7 ms), then four more (333.3 ms); the next real frame,
  // still more than a second later, keeps its own time (2 s + 100 us).
  EXPECT_NEAR(f.frame_times_us[1] - first, 266'667, 20);
  EXPECT_NEAR(f.frame_times_us[2] - first, 333'333, 20);
  EXPECT_NEAR(f.frame_times_us[3] - first, 2'000'100, 20);
}

// Rate control and structure reach the encoder: a key frame every four
// seconds (rounded up to whole frames) and B-frames between references.
TEST_F(EncoderFileTest, KeyFramesEveryFourSecondsWithBFrames) {
  g_app.config.VideoCodec = VIDEO_CODEC_H264;
  g_app.config.VideoProfile = VIDEO_PROFILE_HIGH;
  g_app.config.FragmentedOutput = 0;
  const std::string path = dir.file("gop.tmp.mp4");
  ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(320, 240)));
  ScreenPicture pic(320, 240);
  submit_frames(pic, 150, 3 * kTick);
  ASSERT_TRUE(stop());
  const ProbedFile f = probe_file(path);
  ASSERT_EQ(f.frame_times_us.size(), 150u);
  EXPECT_EQ(f.key_frames, (std::vector<size_t>{0, 120}));
  EXPECT_GT(f.b_frames, 0u);
}

// A capture larger than the size limit is scaled on its way into the file:
// half of a 1280x720 picture white and half black comes out at 640x360 with
// the white half on the left, both flat up to the encoder's loss.
TEST_F(EncoderFileTest, ScaledCaptureKeepsItsPicture) {
  g_app.config.VideoCodec = VIDEO_CODEC_H264;
  g_app.config.VideoProfile = VIDEO_PROFILE_HIGH;
  g_app.config.VideoMaxWidth = 0;
  g_app.config.VideoMaxHeight = 360;
  g_app.config.ImprovedColorConversion = 0;
  const std::string path = dir.file("scaled.tmp.mp4");
  ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, path, config(1280, 720)));
  ScreenPicture pic(1280, 720);
  pic.fill(0, 0, 0);
  pic.rect(0, 0, 640, 720, 255, 255, 255);
  for (int k = 0; k < 10; ++k) {
    // One at a time: on a loaded machine the pool may still be with the
    // encoder when the next picture comes, and this test is about the picture.
    ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }));
    ASSERT_TRUE(encoder_submit_video(pic.image(), {0, 0, pic.width, pic.height}, k * kTick / 30, kTick));
  }
  ASSERT_TRUE(stop());

  const ProbedFile f = probe_file(path);
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.width, 640);
  EXPECT_EQ(f.height, 360);
  EXPECT_EQ(f.frame_times_us.size(), 10u);
  const DecodedLuma luma = first_picture_luma(path);
  ASSERT_EQ(luma.width, 640);
  for (int row : {0, 180, 359})
    for (int x : {0, 100, 300}) {
      EXPECT_NEAR(luma.at(x, row), 235, 3) << x << "," << row;
      EXPECT_NEAR(luma.at(639 - x, row), 16, 3) << 639 - x << "," << row;
    }
}

}  // namespace
