// Encoder set-up: size, colour and codec rules, what the writer is asked
// for, and the messages and clean-up of every failure.
#include <cstring>

#include "encoder_unit_fixture.h"
#include "platform/mul_div.h"
#include "video/convert/convert_stage.h"

namespace {

using EncoderSetup = EncoderUnitTest;

// The colour description the writer puts in the file is one standard's set
// (primaries, matrix, transfer, limited range, MPEG-2 siting) and the one the
// pixels are converted with: a file that says BT.709 over BT.601 pixels (or
// the reverse) plays with shifted colours.
void expect_colour_matches_conversion(const FakeMedia& f, const Encoder& e) {
  const VideoOutputType& t = f.video_type;
  const bool converts_709 = std::memcmp(&e.convert.matrix, &kMatrixBt709, sizeof(ColorMatrix)) == 0;
  const bool converts_601 = std::memcmp(&e.convert.matrix, &kMatrixBt601, sizeof(ColorMatrix)) == 0;
  ASSERT_NE(converts_709, converts_601) << "the conversion uses neither standard's matrix";
  EXPECT_EQ(converts_709, e.convert.hd_color);
  EXPECT_EQ(t.primaries, converts_709 ? PRIMARIES_BT709 : PRIMARIES_SMPTE170M);
  EXPECT_EQ(t.matrix, converts_709 ? MATRIX_BT709 : MATRIX_BT601);
  EXPECT_EQ(t.transfer, TRANSFER_18);
  EXPECT_EQ(t.nominal_range, NOMINAL_RANGE_16_235);
  EXPECT_EQ(t.chroma_siting, CHROMA_SITING_MPEG2);
}

// What the writer is told agrees with itself, with the encoder that was
// checked before the file, and with the pictures the encoder will hand it.
void expect_writer_agrees(const FakeMedia& f, const Encoder& e) {
  const VideoOutputType& out = f.video_type;
  const VideoInputType& in = f.video_input_type;
  ASSERT_FALSE(f.encoder_checks.empty());
  const VideoEncoderRequest& checked = f.encoder_checks.back();
  EXPECT_EQ(out.codec, checked.codec);
  EXPECT_EQ(out.profile, checked.profile);
  EXPECT_EQ(in.subtype, checked.input);
  EXPECT_EQ(out.width, checked.width);
  EXPECT_EQ(out.height, checked.height);
  EXPECT_EQ(out.width, e.output_width);
  EXPECT_EQ(out.height, e.output_height);
  EXPECT_EQ(in.width, out.width);
  EXPECT_EQ(in.height, out.height);
  EXPECT_EQ(in.frame_rate_num, out.frame_rate_num);
  EXPECT_EQ(in.frame_rate_den, out.frame_rate_den);
  EXPECT_EQ(out.interlace, INTERLACE_PROGRESSIVE);
  if (f.settings_set) {
    EXPECT_EQ(f.settings.mean_bitrate, out.avg_bitrate);
  }
}

TEST(EncoderRules, OutputSizeIsLimitedEvenAndNeverLarger) {
  struct Case {
    uint32_t w, h, mw, mh, out_w, out_h;
  };
  const Case cases[] = {
      {1920, 1080, 1280, 720, 1280, 720},   // a tie goes to the height limit
      {2560, 1440, 1920, 0, 1920, 1080},
      {1001, 601, 500, 0, 500, 300},        // 500 * 601 / 1001 truncates to 300
      {1366, 767, 0, 0, 1366, 768},         // odd sizes are made even
      {800, 600, 1920, 1080, 800, 600},     // never scaled up
      {1920, 1200, 1920, 1080, 1728, 1080}, // height binds
      {3840, 1080, 1920, 1080, 1920, 540},  // width binds
      {1920, 1080, 0, 720, 1280, 720},
      {1279, 719, 0, 0, 1280, 720},
  };
  for (const Case& c : cases) {
    const OutputSize s = encoder_output_size(c.w, c.h, c.mw, c.mh);
    EXPECT_EQ(s.width, c.out_w) << c.w << "x" << c.h << " " << c.mw << "x" << c.mh;
    EXPECT_EQ(s.height, c.out_h) << c.w << "x" << c.h << " " << c.mw << "x" << c.mh;
  }
}

TEST(EncoderRules, GopIsFourSecondsRoundedUp) {
  EXPECT_EQ(encoder_gop_size(60, 1), 240u);
  EXPECT_EQ(encoder_gop_size(30000, 1001), 120u);
  EXPECT_EQ(encoder_gop_size(144, 1), 576u);
  EXPECT_EQ(encoder_gop_size(1, 3), 2u);
}

TEST(EncoderRules, HdColourBySizeOrCodec) {
  EXPECT_TRUE(encoder_hd_color(1280, 720, VIDEO_CODEC_H264));
  EXPECT_FALSE(encoder_hd_color(1024, 576, VIDEO_CODEC_H264));
  EXPECT_TRUE(encoder_hd_color(1024, 768, VIDEO_CODEC_H264));
  EXPECT_TRUE(encoder_hd_color(720, 480, VIDEO_CODEC_H265));
  EXPECT_TRUE(encoder_hd_color(720, 480, VIDEO_CODEC_AV1));
}

TEST(EncoderRules, MulDivUsesAWideProductAndTruncates) {
  EXPECT_EQ(mul_div_signed(1, 10'000'000, 60), 166'666);
  EXPECT_EQ(mul_div_signed(int64_t{1} << 40, 10'000'000, 10'000'000), int64_t{1} << 40);  // product beyond 64 bits
  EXPECT_EQ(mul_div_signed(-7, 10, 3), -23);
  EXPECT_EQ(mul_div_signed(5, 5, 0), 0);
}

TEST_F(EncoderSetup, AskTheWriterForTheConfiguredTracks) {
  const WaveFormat in = wave_format_float(44100, 2);
  g_app.config.VideoBitrate = 6000;
  g_app.config.AudioChannels = 1;
  g_app.config.AudioSamplerate = 48000;
  ASSERT_TRUE(setup(config(1024, 576, &in, 30000, 1001)));
  const Encoder& e = g_app.encoder;

  EXPECT_EQ(fake.video_type.codec, VIDEO_H264);
  EXPECT_EQ(fake.video_type.profile, 100u);
  EXPECT_EQ(fake.video_type.primaries, PRIMARIES_SMPTE170M);  // 1024x576 is standard definition
  EXPECT_EQ(fake.video_type.matrix, MATRIX_BT601);
  EXPECT_EQ(fake.video_type.nominal_range, NOMINAL_RANGE_16_235);
  EXPECT_EQ(fake.video_type.chroma_siting, CHROMA_SITING_MPEG2);
  EXPECT_EQ(fake.video_type.frame_rate_num, 30000u);
  EXPECT_EQ(fake.video_type.frame_rate_den, 1001u);
  EXPECT_EQ(fake.video_type.avg_bitrate, 6'000'000u);
  EXPECT_EQ(fake.video_input_type.subtype, PIXEL_NV12);
  ASSERT_TRUE(fake.settings_set);
  EXPECT_EQ(fake.settings.mean_bitrate, 6'000'000u);
  EXPECT_EQ(fake.settings.gop_size, 120u);
  EXPECT_EQ(fake.settings.b_picture_count, 2u);
  EXPECT_FALSE(fake.settings.low_latency);
  EXPECT_EQ(fake.attributes.container, CONTAINER_FMPEG4);
  EXPECT_FALSE(fake.attributes.hardware_transforms);

  EXPECT_EQ(fake.audio_type.codec, AUDIO_AAC);
  EXPECT_EQ(fake.audio_type.avg_bytes_per_second, 24000u);  // 192 kbit/s
  EXPECT_EQ(fake.audio_type.num_channels, 1u);
  EXPECT_EQ(fake.resampler_in.nSamplesPerSec, 44100u);
  EXPECT_EQ(fake.resampler_out.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(fake.resampler_out.wBitsPerSample, 16u);
  EXPECT_EQ(fake.resampler_out.nChannels, 1u);
  EXPECT_EQ(fake.resampler_out.nSamplesPerSec, 48000u);
  EXPECT_EQ(fake.resampler_out.nBlockAlign, 2u);

  EXPECT_EQ(e.output_width, 1024u);
  EXPECT_EQ(e.output_height, 576u);
  EXPECT_EQ(e.audio_stream, 1);
  EXPECT_EQ(e.audio_block_align, 8u);
  EXPECT_EQ(e.audio_rate, 44100u);
  EXPECT_EQ(e.video_free.load(), 0xFFu);
  EXPECT_EQ(e.audio_free.load(), 0xFFFFu);
  EXPECT_EQ(e.audio_samples[0]->capacity, 48000u * 1 * 2);  // one second of the track's PCM
  EXPECT_EQ(e.accepting.load(), 1u);
  EXPECT_EQ(e.first_video_time.load(), 0);
  EXPECT_EQ(e.last_video_time.load(), INT64_MIN);
  EXPECT_EQ(e.stage.load(), static_cast<uint32_t>(ENCODER_STAGE_IDLE));
  EXPECT_TRUE(encoder_has_worker());
  expect_colour_matches_conversion(fake, e);
  expect_writer_agrees(fake, e);
}

TEST_F(EncoderSetup, ContainerCodecAndAudioVariants) {
  struct Case {
    uint32_t codec, profile, fragmented, audio_codec;
    bool with_audio;
    uint32_t width, height;
    ContainerKind container;
    VideoCodecKind kind;
    uint32_t profile_value;
    PixelLayout input;
    uint32_t primaries;
  };
  const Case cases[] = {
      {VIDEO_CODEC_H264, VIDEO_PROFILE_BASE, 0, AUDIO_CODEC_FLAC, true, 1280, 720, CONTAINER_MPEG4, VIDEO_H264, 66,
       PIXEL_NV12, PRIMARIES_BT709},
      {VIDEO_CODEC_H264, VIDEO_PROFILE_MAIN, 1, AUDIO_CODEC_AAC, false, 1024, 768, CONTAINER_FMPEG4, VIDEO_H264, 77,
       PIXEL_NV12, PRIMARIES_BT709},
      {VIDEO_CODEC_H264, VIDEO_PROFILE_HIGH, 1, AUDIO_CODEC_AAC, false, 640, 360, CONTAINER_FMPEG4, VIDEO_H264, 100,
       PIXEL_NV12, PRIMARIES_SMPTE170M},  // standard definition
      {VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN, 1, AUDIO_CODEC_AAC, false, 720, 480, CONTAINER_MPEG4, VIDEO_HEVC, 1,
       PIXEL_NV12, PRIMARIES_BT709},
      {VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN10, 1, AUDIO_CODEC_AAC, false, 720, 480, CONTAINER_MPEG4, VIDEO_HEVC, 2,
       PIXEL_P010, PRIMARIES_BT709},
      {VIDEO_CODEC_AV1, VIDEO_PROFILE_MAIN, 1, AUDIO_CODEC_AAC, false, 640, 360, CONTAINER_MPEG4, VIDEO_AV1, 1,
       PIXEL_NV12, PRIMARIES_BT709},
      {VIDEO_CODEC_AV1, VIDEO_PROFILE_MAIN10, 1, AUDIO_CODEC_AAC, false, 640, 360, CONTAINER_MPEG4, VIDEO_AV1, 2,
       PIXEL_P010, PRIMARIES_BT709},
  };
  const WaveFormat in = wave_format_float(48000, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codec << "/" << c.profile);
    g_app.config.VideoCodec = c.codec;
    g_app.config.VideoProfile = c.profile;
    g_app.config.FragmentedOutput = c.fragmented;
    g_app.config.AudioCodec = c.audio_codec;
    fake.resampler_created = false;
    fake.audio_type = {};
    ASSERT_TRUE(setup(config(c.width, c.height, c.with_audio ? &in : nullptr)));
    EXPECT_EQ(fake.attributes.container, c.container);
    EXPECT_EQ(fake.video_type.codec, c.kind);
    EXPECT_EQ(fake.video_type.profile, c.profile_value);
    EXPECT_EQ(fake.video_input_type.subtype, c.input);
    EXPECT_EQ(fake.video_type.primaries, c.primaries);
    expect_colour_matches_conversion(fake, g_app.encoder);
    expect_writer_agrees(fake, g_app.encoder);
    EXPECT_EQ(fake.resampler_created, c.with_audio);
    if (c.with_audio) {
      EXPECT_EQ(fake.audio_type.codec, AUDIO_FLAC);
      EXPECT_EQ(fake.audio_type.avg_bytes_per_second, 0u);  // FLAC gets no bit rate
    } else {
      EXPECT_EQ(g_app.encoder.audio_stream, -1);
      EXPECT_FALSE(g_app.encoder.resampler);
      EXPECT_EQ(g_app.encoder.audio_free.load(), 0u);
    }
    ASSERT_TRUE(stop());
  }
}

TEST_F(EncoderSetup, EveryFailureShowsItsMessageAndLeavesNoFile) {
  struct Case {
    const char* message;
    std::function<void(FakeMedia&)> arrange;
  };
  const Case cases[] = {
      {"Cannot find video encoder!", [](FakeMedia& f) { f.encoder_found = false; }},
      {"", [](FakeMedia& f) { f.create_result = MEDIA_E_FAIL; }},
      {"Cannot configure video encoder!", [](FakeMedia& f) { f.add_video = MEDIA_E_FAIL; }},
      {"Cannot configure video encoder input!", [](FakeMedia& f) { f.video_input = MEDIA_E_FAIL; }},
      {"Cannot configure audio encoder output!", [](FakeMedia& f) { f.add_audio = MEDIA_E_FAIL; }},
      {"Cannot configure audio encoder input!", [](FakeMedia& f) { f.audio_input = MEDIA_E_FAIL; }},
      {"Cannot start writing to mp4 file!", [](FakeMedia& f) { f.begin = MEDIA_E_FAIL; }},
  };
  const WaveFormat in = wave_format_float(48000, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FakeMedia fresh;
    c.arrange(fresh);
    g_fake = &fresh;
    messages.log.clear();
    EXPECT_FALSE(setup(config(1280, 720, &in)));
    const std::string expected =
        *c.message ? std::string("Frelvanta|") + c.message
                   : "Frelvanta|Cannot create output mp4 file!\n\nError: 0x80004005\nPath: " + path;
    EXPECT_EQ(messages.log, std::vector<std::string>{expected});
    EXPECT_FALSE(file_exists(path));
    EXPECT_FALSE(encoder_has_worker());
    EXPECT_EQ(g_app.encoder.accepting.load(), 0u);
    EXPECT_FALSE(g_app.encoder.writer);
  }
  g_fake = &fake;
}

// The check asks for the real encoder (codec, profile, bit depth, device and
// size) before anything is written: a request the device cannot encode is
// refused with its message while no file exists, and one it can is asked
// for exactly once, also before the file.
TEST_F(EncoderSetup, EncoderCheckAsksForTheRealEncoderBeforeAnyFile) {
  // A device that encodes 8-bit H.264 High and 8-bit H.265 Main, nothing else.
  auto table = [](const VideoEncoderRequest& r) {
    if (!r.hardware || r.render_node != "/dev/dri/renderD128" || r.driver != "i915") return false;
    return (r.codec == VIDEO_H264 && r.profile == 100 && r.input == PIXEL_NV12) ||
           (r.codec == VIDEO_HEVC && r.profile == 1 && r.input == PIXEL_NV12);
  };
  struct Case {
    uint32_t codec, profile;
    bool opens;
    VideoCodecKind kind;
    uint32_t profile_value;
    PixelLayout input;
  };
  const Case cases[] = {
      {VIDEO_CODEC_H264, VIDEO_PROFILE_HIGH, true, VIDEO_H264, 100, PIXEL_NV12},
      {VIDEO_CODEC_H264, VIDEO_PROFILE_BASE, false, VIDEO_H264, 66, PIXEL_NV12},
      {VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN, true, VIDEO_HEVC, 1, PIXEL_NV12},
      {VIDEO_CODEC_H265, VIDEO_PROFILE_MAIN10, false, VIDEO_HEVC, 2, PIXEL_P010},
      {VIDEO_CODEC_AV1, VIDEO_PROFILE_MAIN, false, VIDEO_AV1, 1, PIXEL_NV12},
  };
  device.render_node = "/dev/dri/renderD128";
  device.driver = "i915";
  g_app.config.HardwareEncoder = 1;
  g_app.config.VideoMaxWidth = 1280;
  g_app.config.VideoMaxHeight = 720;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codec << "/" << c.profile);
    delete_file(path);  // the file of the case before
    FakeMedia fresh;
    fresh.encoder_table = table;
    fresh.output_path = path;
    fresh.file_existed_at_check = true;
    g_fake = &fresh;
    messages.log.clear();
    g_app.config.VideoCodec = c.codec;
    g_app.config.VideoProfile = c.profile;
    EXPECT_EQ(setup(config(1920, 1080)), c.opens);
    ASSERT_EQ(fresh.encoder_checks.size(), 1u);
    const VideoEncoderRequest& r = fresh.encoder_checks[0];
    EXPECT_EQ(r.codec, c.kind);
    EXPECT_EQ(r.profile, c.profile_value);
    EXPECT_EQ(r.input, c.input);
    EXPECT_TRUE(r.hardware);
    EXPECT_EQ(r.render_node, "/dev/dri/renderD128");
    EXPECT_EQ(r.width, 1280u);
    EXPECT_EQ(r.height, 720u);
    EXPECT_FALSE(fresh.file_existed_at_check) << "the file was made before the check";
    if (c.opens) {
      EXPECT_TRUE(messages.log.empty());
      EXPECT_EQ(fresh.attributes.driver, "i915");
      ASSERT_TRUE(stop());
    } else {
      EXPECT_EQ(messages.log, std::vector<std::string>{"Frelvanta|Cannot find video encoder!"});
      EXPECT_FALSE(file_exists(path));
      EXPECT_FALSE(encoder_has_worker());
    }
  }
  g_fake = &fake;
}

TEST_F(EncoderSetup, RefusedSilentlyWhileAWorkerExistsOrWasAbandoned) {
  ASSERT_TRUE(setup_default());
  const std::string other = dir.file("other.tmp.mp4");
  EXPECT_FALSE(encoder_setup(g_app.encoder, device, other, config()));
  EXPECT_FALSE(file_exists(other));
  EXPECT_EQ(g_app.encoder.accepting.load(), 1u);  // the running recording is untouched
  ASSERT_TRUE(stop());

  g_app.encoder.abandoned = 1;
  EXPECT_FALSE(encoder_setup(g_app.encoder, device, other, config()));
  EXPECT_FALSE(file_exists(other));
  EXPECT_TRUE(messages.log.empty());
}

TEST_F(EncoderSetup, WithoutAWakeEventNoWorkerStartsAndTheFileGoes) {
  g_app.encoder.wake_event.reset();
  EXPECT_FALSE(setup_default());
  EXPECT_TRUE(messages.log.empty());
  EXPECT_FALSE(file_exists(path));
  EXPECT_FALSE(encoder_has_worker());
  EXPECT_EQ(g_app.encoder.accepting.load(), 0u);
}

// A conversion stage that cannot be made (here: wider than the conversion
// takes) fails set-up with the encoder-input message, instead of running a
// recording whose frames would all be converted into nothing. The file goes
// and no worker starts.
TEST_F(EncoderSetup, ASizeTheConversionRefusesFailsSetUpAndLeavesNoFile) {
  g_app.config.VideoMaxWidth = 0;
  g_app.config.VideoMaxHeight = 0;
  messages.log.clear();
  EXPECT_FALSE(setup(config(20000, 64)));
  EXPECT_EQ(messages.log, std::vector<std::string>{"Frelvanta|Cannot configure video encoder input!"});
  EXPECT_FALSE(file_exists(path));
  EXPECT_FALSE(encoder_has_worker());
  EXPECT_EQ(g_app.encoder.accepting.load(), 0u);
  EXPECT_FALSE(g_app.encoder.writer);
}

}  // namespace
