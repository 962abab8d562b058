// The mixer against hand-filled rings and the recording encoder fake.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <sstream>
#include <string>

#include "core/app_state.h"
#include "audio/audio_capture.h"
#include "audio/audio_endpoint.h"
#include "audio/audio_worker.h"
#include "audio/mixer.h"
#include "audio/ring.h"
#include "fake_encoder.h"
#include "platform/clock.h"
#include "core/trace.h"
#include "support/temp_dir.h"
#include "support/thread_watch.h"
#include "support/wait.h"

namespace {

constexpr uint64_t kStart = 100'000'000;  // first video frame at 10 s
constexpr uint64_t kMs = 10'000;          // ticks per millisecond

class NullClient final : public AudioClient {
 public:
  void set_event_handle(AutoResetEvent*) override {}
  bool start() override { return true; }
  void stop() override {}
  bool get_buffer(AudioBuffer* out) override {
    *out = AudioBuffer{};
    return true;
  }
  void release_buffer(uint32_t) override {}
};

// An open stream whose ring the test fills directly, with trusted times.
void open_stream(AudioCapture* c, const WaveFormat& f) {
  c->audio_client = std::make_unique<NullClient>();
  c->stream_format = std::make_unique<WaveFormat>(f);
  c->counter_frequency = kQpcFrequency;
  c->use_qpc_time = 1;
  c->first_packet_pending = 0;
  c->ring_size = ring_size_for(f.nAvgBytesPerSec);
  c->ring = ring_map(c->ring_size);
  ASSERT_NE(c->ring, nullptr);
}

void push(AudioCapture* c, uint64_t time, const void* bytes, uint32_t frames) {
  const uint32_t w = c->write_pos.load();
  uint8_t* p = c->ring + (w & (c->ring_size - 1));
  ring_put_header(p, frames, 0, time);
  std::memcpy(p + kPacketHeaderBytes, bytes, size_t{frames} * c->stream_format->nBlockAlign);
  c->write_pos.store(w + frames * c->stream_format->nBlockAlign + kPacketHeaderBytes);
}

// A float stereo packet whose every sample is `value`.
void push_float(AudioCapture* c, uint64_t time, uint32_t frames, float value) {
  std::vector<float> v(size_t{frames} * 2, value);
  push(c, time, v.data(), frames);
}

float sample(const SubmittedBlock& b, size_t i) {
  float v;
  std::memcpy(&v, b.bytes.data() + 4 * i, 4);
  return v;
}

WaveFormat pcm16_stereo() { return WaveFormat{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16}; }

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_app.qpc_frequency = kQpcFrequency;
    g_app.recording.active = 1;
    g_app.encoder.first_video_time = static_cast<int64_t>(kStart);
    g_fake_encoder = FakeEncoder{};
    audio_mixer_begin_recording();
  }
  void TearDown() override {
    for (AudioCapture* c : {&g_app.system_capture, &g_app.mic_capture}) {
      if (c->ring) ring_unmap(c->ring, c->ring_size);
      c->ring = nullptr;
    }
    std::free(g_app.mixer.mix_buffer);
    g_app.mixer.mix_buffer = nullptr;
    g_app.mixer.mix_buffer_size = 0;
    clock_set_source(nullptr);
  }
  const std::vector<SubmittedBlock>& blocks() { return g_fake_encoder.blocks; }
};

TEST_F(MixerTest, SystemOnlyPassesBytesThroughBackToBack) {
  open_stream(&g_app.system_capture, default_capture_format());
  std::vector<float> a(480 * 2), b(480 * 2);
  for (size_t i = 0; i < a.size(); ++i) a[i] = 0.001f * i, b[i] = -0.002f * i;
  push(&g_app.system_capture, kStart, a.data(), 480);
  push(&g_app.system_capture, kStart + 10 * kMs + 3, b.data(), 480);  // small jitter
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 2u);
  EXPECT_EQ(std::memcmp(blocks()[0].bytes.data(), a.data(), 480 * 8), 0);
  EXPECT_EQ(std::memcmp(blocks()[1].bytes.data(), b.data(), 480 * 8), 0);
  EXPECT_EQ(blocks()[0].time, static_cast<int64_t>(kStart));
  EXPECT_EQ(blocks()[1].time, static_cast<int64_t>(kStart + 10 * kMs));
  EXPECT_EQ(blocks()[0].time_base, kQpcFrequency);
  EXPECT_EQ(g_app.mixer.clock_jump_count, 0u);
  EXPECT_EQ(g_app.system_capture.read_pos.load(), g_app.system_capture.write_pos.load());
}

TEST_F(MixerTest, OverlappingStreamsMixWithGains) {
  struct Case {
    uint32_t volume;
    float s, m, out;
  } cases[] = {
      {100, 0.4f, 0.2f, 0.3f},
      {200, 0.9f, 0.9f, 1.0f},     // clamped from 1.35
      {200, -0.9f, -0.9f, -1.0f},  // clamped from -1.35
      {0, 0.6f, 0.9f, 0.3f},       // silent microphone still halves the system sound
      {500, 0.1f, 0.1f, 0.15f},    // volume capped at 200
  };
  open_stream(&g_app.system_capture, default_capture_format());
  open_stream(&g_app.mic_capture, default_capture_format());
  uint64_t t = kStart;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.volume);
    g_fake_encoder.blocks.clear();
    g_app.config.MicrophoneVolume = c.volume;
    push_float(&g_app.system_capture, t, 480, c.s);
    push_float(&g_app.mic_capture, t + 5 * kMs, 480, c.m);  // within the 10 ms tolerance
    mix_audio(false, 0);
    ASSERT_EQ(blocks().size(), 1u);
    EXPECT_EQ(blocks()[0].frames, 480u);
    EXPECT_FLOAT_EQ(sample(blocks()[0], 0), c.out);
    EXPECT_FLOAT_EQ(sample(blocks()[0], 959), c.out);
    t += 10 * kMs;
  }
}

TEST_F(MixerTest, SystemBlockAloneIsHalvedWhileBothStreamsAreOpen) {
  open_stream(&g_app.system_capture, default_capture_format());
  open_stream(&g_app.mic_capture, default_capture_format());
  push_float(&g_app.system_capture, kStart, 480, 0.8f);
  mix_audio(false, 0);  // the microphone has nothing yet
  ASSERT_EQ(blocks().size(), 1u);
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.4f);
}

TEST_F(MixerTest, DifferentFormatsIgnoreTheMicrophone) {
  open_stream(&g_app.system_capture, default_capture_format());
  WaveFormat mono = default_capture_format();
  mono.nChannels = 1, mono.nBlockAlign = 4, mono.nAvgBytesPerSec = 192000;
  open_stream(&g_app.mic_capture, mono);
  push_float(&g_app.system_capture, kStart, 480, 0.8f);
  std::vector<float> m(480, 0.5f);
  push(&g_app.mic_capture, kStart, m.data(), 480);
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 1u);
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.8f);  // full gain, untouched
  EXPECT_EQ(g_app.mic_capture.read_pos.load(), 0u);  // never read
}

TEST_F(MixerTest, SixteenBitSamplesTruncateAndClamp) {
  struct Case {
    int16_t s, m;
    uint32_t volume;
    float master;
    int16_t out;
  } cases[] = {
      {-3, -1, 40, 0.5f, -1},  // -1.7 truncates toward zero
      {3, 1, 40, 0.5f, 1},     // 1.7
      {30000, 10000, 100, 1.0f, 32767},
      {-30000, -10000, 100, 1.0f, -32768},
      {1000, 500, 200, 0.5f, 1000},
  };
  ASSERT_TRUE(ensure_mix_buffer(64));
  for (const Case& c : cases) {
    int16_t s[2] = {c.s, c.s}, m[2] = {c.m, c.m};
    mix_samples(reinterpret_cast<uint8_t*>(s), reinterpret_cast<uint8_t*>(m), 1, 2, 16,
                static_cast<float>(c.volume) / 100.0f, c.master);
    int16_t out[2];
    std::memcpy(out, g_app.mixer.mix_buffer, 4);
    EXPECT_EQ(out[0], c.out) << c.s << " + " << c.m;
    EXPECT_EQ(out[1], c.out);
  }
}

TEST_F(MixerTest, MicrophoneOnlyIsGainedButNotHalved) {
  open_stream(&g_app.mic_capture, pcm16_stereo());
  g_app.config.MicrophoneVolume = 150;
  int16_t m[4] = {1000, -1000, 30000, -30000};
  push(&g_app.mic_capture, kStart, m, 2);
  g_fake_encoder.block_align = 4;
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 1u);
  int16_t out[4];
  std::memcpy(out, blocks()[0].bytes.data(), 8);
  EXPECT_EQ(out[0], 1500);
  EXPECT_EQ(out[1], -1500);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], -32768);
}

TEST_F(MixerTest, OtherSampleWidthsPassThroughUnmixed) {
  ASSERT_TRUE(ensure_mix_buffer(12));
  uint8_t s[6] = {1, 2, 3, 4, 5, 6}, m[6] = {9, 9, 9, 9, 9, 9};
  mix_samples(s, m, 1, 2, 24, 2.0f, 0.5f);
  EXPECT_EQ(std::memcmp(g_app.mixer.mix_buffer, s, 6), 0);
  mix_samples(nullptr, m, 1, 2, 24, 2.0f, 0.5f);
  EXPECT_EQ(std::memcmp(g_app.mixer.mix_buffer, m, 6), 0);
  mix_samples(nullptr, nullptr, 1, 2, 24, 2.0f, 0.5f);
  EXPECT_EQ(std::memcmp(g_app.mixer.mix_buffer, "\0\0\0\0\0\0", 6), 0);
}

TEST_F(MixerTest, MixBufferGrowsButNeverShrinks) {
  ASSERT_TRUE(ensure_mix_buffer(100));
  EXPECT_EQ(g_app.mixer.mix_buffer_size, 100u);
  ASSERT_TRUE(ensure_mix_buffer(40));
  EXPECT_EQ(g_app.mixer.mix_buffer_size, 100u);
  ASSERT_TRUE(ensure_mix_buffer(4000));
  EXPECT_EQ(g_app.mixer.mix_buffer_size, 4000u);
}

TEST_F(MixerTest, MicrophoneStarting30msEarlierLeadsAloneThenMixes) {
  open_stream(&g_app.system_capture, default_capture_format());
  open_stream(&g_app.mic_capture, default_capture_format());
  push_float(&g_app.mic_capture, kStart, 4800, 0.2f);
  push_float(&g_app.system_capture, kStart + 30 * kMs, 960, 0.4f);
  mix_audio(false, 0);
  ASSERT_GE(blocks().size(), 2u);
  EXPECT_EQ(blocks()[0].frames, 1440u);
  EXPECT_EQ(blocks()[0].time, static_cast<int64_t>(kStart));
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.1f);  // microphone alone, halved
  EXPECT_EQ(blocks()[1].frames, 960u);
  EXPECT_EQ(blocks()[1].time, static_cast<int64_t>(kStart + 30 * kMs));
  EXPECT_FLOAT_EQ(sample(blocks()[1], 0), 0.3f);
}

TEST_F(MixerTest, LeadingBlockIsCappedAtTheHeldFrames) {
  open_stream(&g_app.system_capture, default_capture_format());
  open_stream(&g_app.mic_capture, default_capture_format());
  // 10 ms + 1 tick apart: beyond the tolerance; the lead of 480 frames is longer than the packet.
  push_float(&g_app.system_capture, kStart, 100, 0.4f);
  push_float(&g_app.mic_capture, kStart + 10 * kMs + 1, 480, 0.2f);
  mix_audio(false, 0);
  ASSERT_GE(blocks().size(), 1u);
  EXPECT_EQ(blocks()[0].frames, 100u);  // capped at the held frames
}

TEST_F(MixerTest, AudioBeforeTheFirstVideoFrameIsCutOff) {
  open_stream(&g_app.system_capture, default_capture_format());
  std::vector<float> v(480 * 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i);
  push_float(&g_app.system_capture, kStart - 20 * kMs, 480, 9.0f);  // ends 10 ms before
  push(&g_app.system_capture, kStart - 10001, v.data(), 480);       // straddles the start
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 1u);
  // ceil(48,000 × 10,001 / 10^7) = 49 frames skipped.
  EXPECT_EQ(blocks()[0].frames, 431u);
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 98.0f);
  // The time moves by 49 frames, truncated: 10,208 ticks.
  EXPECT_EQ(blocks()[0].time, static_cast<int64_t>(kStart - 10001 + 10208));
  EXPECT_EQ(g_app.system_capture.read_pos.load(), g_app.system_capture.write_pos.load());
}

TEST_F(MixerTest, AncientPacketIsDroppedEvenAfterALongUptime) {
  // About 445 days of uptime: 48,000 × the distance to the start is 2^64 + 16,
  // which 64-bit arithmetic would wrap to a skip of one frame.
  const uint64_t start = 384'307'168'202'283ull + 1000;
  g_app.encoder.first_video_time = static_cast<int64_t>(start);
  open_stream(&g_app.system_capture, default_capture_format());
  push_float(&g_app.system_capture, 1000, 480, 0.5f);
  push_float(&g_app.system_capture, start, 480, 0.25f);
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 1u);
  EXPECT_EQ(blocks()[0].frames, 480u);
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.25f);
}

TEST_F(MixerTest, NothingIsReadBeforeTheFirstVideoFrame) {
  open_stream(&g_app.system_capture, default_capture_format());
  g_app.encoder.first_video_time = 0;
  push_float(&g_app.system_capture, kStart, 480, 0.5f);
  mix_audio(false, 0);
  mix_audio(true, 0);
  discard_audio();
  EXPECT_TRUE(blocks().empty());
  EXPECT_EQ(g_app.system_capture.read_pos.load(), 0u);
}

TEST_F(MixerTest, SampleClockAbsorbsSmallGapsAndFollowsJumps) {
  const uint64_t T = kStart;
  struct Case {
    const char* name;
    uint64_t time;     // block time offered (after a first block of 480 frames at T - 10 ms)
    int64_t expected;  // time handed to the encoder
    uint64_t jumps;
  } cases[] = {
      {"20 ms late continues", T + 20 * kMs, static_cast<int64_t>(T), 0},
      {"one tick beyond re-bases", T + 20 * kMs + 1, static_cast<int64_t>(T + 20 * kMs + 1), 1},
      {"early continues", T - 5 * kMs, static_cast<int64_t>(T), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    audio_mixer_begin_recording();
    g_fake_encoder.blocks.clear();
    std::vector<float> v(480 * 2);
    ASSERT_TRUE(submit_audio(v.data(), 480, T - 10 * kMs, 48000));
    ASSERT_EQ(g_app.mixer.next_audio_time, T);
    ASSERT_TRUE(submit_audio(v.data(), 480, c.time, 48000));
    EXPECT_EQ(blocks()[1].time, c.expected);
    EXPECT_EQ(g_app.mixer.clock_jump_count, c.jumps);
  }
}

// A device whose clock runs 200 ppm fast or slow against the system clock
// (its packets carry system-clock capture times with a few milliseconds of
// jitter): over a minute, counted samples alone would part from the
// captured times by 12 ms. The track written must stay on the captured
// times, and the frames left out or repeated must match the clock error.
TEST_F(MixerTest, DeviceClockOffByPpmStaysOnTheCapturedTimes) {
  struct Case {
    const char* name;
    double ppm;  // device frames per second above nominal, per million
  } cases[] = {{"device 200 ppm fast", 200.0}, {"device 200 ppm slow", -200.0}, {"exact", 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    audio_mixer_begin_recording();
    open_stream(&g_app.system_capture, default_capture_format());
    AudioCapture& sys = g_app.system_capture;
    uint64_t lcg = 12345;
    int64_t worst = 0;
    const int packets = 6000;  // 60 s of 10-ms packets
    for (int k = 0; k < packets; k += 50) {
      for (int j = k; j < k + 50; ++j) {
        // True capture time of frame 480 j on a device running at 48 kHz (1 + ppm).
        const double t = double(j) * 480.0 / (48000.0 * (1.0 + c.ppm * 1e-6));
        lcg = lcg * 6364136223846793005ull + 1442695040888963407ull;
        // +-3 ms, none on the first packet, which sets where the track starts.
        const int64_t jitter = j == 0 ? 0 : static_cast<int64_t>((lcg >> 33) % 60'000) - 30'000;
        push_float(&sys, kStart + static_cast<uint64_t>(t * kQpcFrequency + jitter), 480, 0.1f);
      }
      mix_audio(false, 0);
      if (!blocks().empty()) {
        const SubmittedBlock& last = blocks().back();
        // Consumed device frames up to the end of the last block, and their capture time.
        const uint64_t consumed = uint64_t(k + 50) * 480;
        const double captured_end = double(consumed) / (48000.0 * (1.0 + c.ppm * 1e-6));
        const int64_t written_end = last.time + int64_t(last.frames) * kQpcFrequency / 48000 - int64_t(kStart);
        const int64_t off = written_end - static_cast<int64_t>(captured_end * kQpcFrequency);
        worst = std::max(worst, off < 0 ? -off : off);
      }
      g_fake_encoder.blocks.clear();
    }
    EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load());
    EXPECT_LE(worst, 4 * int64_t(kMs)) << "written sound parts from the captured times";
    // 200 ppm of 60 s at 48 kHz: 576 frames, give or take the 2-ms band (96).
    const double expected = -c.ppm * 1e-6 * 60.0 * 48000.0;
    EXPECT_NEAR(double(g_app.mixer.clock_slip_frames), expected, 130.0);
    EXPECT_EQ(g_app.mixer.clock_jump_count, 0u);
    EXPECT_EQ(g_app.mixer.clock_overlap_count, 0u);
    ring_unmap(sys.ring, sys.ring_size);
    sys.ring = nullptr;
    g_app.system_capture.audio_client.reset();
    g_app.system_capture.stream_format.reset();
    sys.read_pos.store(0);
    sys.write_pos.store(0);
  }
}

// A burst of sound that reached us late (the process stood still while the
// server kept capturing) starts far behind the running clock: the frames
// that cover written time are left out, so the sound after it is not late.
TEST_F(MixerTest, BlockFarBehindTheClockLosesItsCoveredHead) {
  open_stream(&g_app.system_capture, default_capture_format());
  std::vector<float> v(4800 * 2, 0.1f);
  ASSERT_TRUE(submit_audio(v.data(), 480, kStart, 48000));        // clock now at +10 ms
  ASSERT_TRUE(submit_audio(v.data(), 4800, kStart - 90 * kMs, 48000));  // 100 ms behind, 100 ms long
  ASSERT_EQ(blocks().size(), 1u);  // wholly covered: nothing more written
  ASSERT_TRUE(submit_audio(v.data(), 4800, kStart - 40 * kMs, 48000));  // the last 50 ms are new
  ASSERT_EQ(blocks().size(), 2u);
  EXPECT_EQ(blocks()[1].frames, 2400u);
  EXPECT_EQ(blocks()[1].time, static_cast<int64_t>(kStart + 10 * kMs));
  EXPECT_EQ(g_app.mixer.next_audio_time, kStart + 60 * kMs);
  EXPECT_EQ(g_app.mixer.clock_overlap_count, 2u);
  EXPECT_EQ(g_app.mixer.clock_jump_count, 0u);
}

TEST_F(MixerTest, SampleClockCarriesTheRemainder) {
  std::vector<float> v(2);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(submit_audio(v.data(), 1, kStart, 48000));
  // Three frames at 48 kHz are exactly 625 ticks though each is 208.33.
  EXPECT_EQ(g_app.mixer.next_audio_time, kStart + 625);
  EXPECT_EQ(g_app.mixer.audio_time_remainder, 0u);
  EXPECT_TRUE(submit_audio(v.data(), 0, kStart + 99 * kMs, 48000));  // empty: no jump, nothing sent
  EXPECT_EQ(blocks().size(), 3u);
  EXPECT_EQ(g_app.mixer.clock_jump_count, 0u);
}

TEST_F(MixerTest, NinthJumpIsCountedButNotTraced) {
  TempDir dir("audio-trace");
  ASSERT_FALSE(dir.path().empty());
  set_run_trace_folder(dir.path());
  g_app.config.WriteDiagnostics = 1;
  std::vector<float> v(480 * 2);
  uint64_t t = kStart;
  ASSERT_TRUE(submit_audio(v.data(), 480, t, 48000));
  for (int i = 0; i < 9; ++i) {
    t += 10 * kMs + 100 * kMs;  // 100 ms past the end of the previous block
    ASSERT_TRUE(submit_audio(v.data(), 480, t, 48000));
  }
  EXPECT_EQ(g_app.mixer.clock_jump_count, 9u);
  EXPECT_EQ(g_app.mixer.clock_jump_total_ms, 900u);
  const std::string s = read_text(dir / "frelvanta-runtrace.txt");
  size_t lines = 0;
  for (size_t p = s.find("audio.clock_jump"); p != std::string::npos; p = s.find("audio.clock_jump", p + 1)) ++lines;
  EXPECT_EQ(lines, 8u);
  EXPECT_NE(s.find("audio.clock_jump gap_ms=100 total_ms=800\r\n"), std::string::npos);
  EXPECT_EQ(s.find("total_ms=900"), std::string::npos);
  set_run_trace_folder("");
}

TEST_F(MixerTest, TickSubmitsAtMost64Blocks) {
  open_stream(&g_app.system_capture, default_capture_format());
  for (int i = 0; i < 70; ++i) push_float(&g_app.system_capture, kStart + i * 10 * kMs, 480, 0.1f);
  mix_audio(false, 0);
  EXPECT_EQ(blocks().size(), 64u);
  mix_audio(false, 0);
  EXPECT_EQ(blocks().size(), 70u);
  EXPECT_EQ(g_app.system_capture.read_pos.load(), g_app.system_capture.write_pos.load());
}

TEST_F(MixerTest, RefusedBlockIsOfferedAgainAtTheNextTick) {
  open_stream(&g_app.system_capture, default_capture_format());
  push_float(&g_app.system_capture, kStart, 480, 0.1f);
  push_float(&g_app.system_capture, kStart + 10 * kMs, 480, 0.2f);
  g_fake_encoder.refuse = true;
  mix_audio(false, 0);
  EXPECT_EQ(g_fake_encoder.refusals, 1u);  // the tick ends at the first refusal
  EXPECT_EQ(g_app.system_capture.read_pos.load(), 0u);
  g_fake_encoder.refuse = false;
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 2u);
  EXPECT_EQ(blocks()[0].time, static_cast<int64_t>(kStart));
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.1f);
}

TEST_F(MixerTest, PauseAndResumeContinueWithoutAJump) {
  open_stream(&g_app.system_capture, default_capture_format());
  AudioCapture& sys = g_app.system_capture;
  push_float(&sys, kStart, 480, 0.1f);
  mix_audio(false, 0);
  // Paused for 5 s: what is captured meanwhile is thrown away.
  g_app.recording.paused = 1;
  for (int i = 1; i <= 5; ++i) push_float(&sys, kStart + i * 10 * kMs, 480, 0.9f);
  discard_audio();
  EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load());
  g_app.recording.paused = 0;
  g_app.recording.paused_total_qpc = 5 * kQpcFrequency;
  push_float(&sys, kStart + 10 * kMs + 5 * kQpcFrequency, 480, 0.3f);
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 2u);
  EXPECT_EQ(blocks()[1].time, static_cast<int64_t>(kStart + 10 * kMs));
  EXPECT_FLOAT_EQ(sample(blocks()[1], 0), 0.3f);
  EXPECT_EQ(g_app.mixer.clock_jump_count, 0u);
}

TEST_F(MixerTest, PauseWhileRefusedReleasesTheHeldPacketOnce) {
  open_stream(&g_app.system_capture, default_capture_format());
  open_stream(&g_app.mic_capture, default_capture_format());
  AudioCapture& sys = g_app.system_capture;
  push_float(&sys, kStart, 480, 0.1f);
  push_float(&sys, kStart + 10 * kMs, 480, 0.1f);
  push_float(&g_app.mic_capture, kStart, 480, 0.1f);
  g_fake_encoder.refuse = true;
  mix_audio(false, 0);
  ASSERT_TRUE(g_app.mixer.system_pending.valid);
  discard_audio();
  EXPECT_FALSE(g_app.mixer.system_pending.valid);
  EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load());
  EXPECT_EQ(g_app.mic_capture.read_pos.load(), g_app.mic_capture.write_pos.load());
  g_fake_encoder.refuse = false;
  push_float(&sys, kStart + 20 * kMs, 480, 0.6f);
  mix_audio(false, 0);
  ASSERT_EQ(blocks().size(), 1u);
  EXPECT_FLOAT_EQ(sample(blocks()[0], 0), 0.3f);
  EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load());
}

TEST_F(MixerTest, FinalDrainDropsWhatItCannotSubmit) {
  open_stream(&g_app.system_capture, default_capture_format());
  AudioCapture& sys = g_app.system_capture;
  for (int i = 0; i < 100; ++i) push_float(&sys, kStart + i * 10 * kMs, 480, 0.1f);
  g_app.recording.active = 0;  // stop has begun: the drain ignores the flag and the 64-block cap
  mix_audio(true, 0);
  EXPECT_EQ(blocks().size(), 100u);

  push_float(&sys, kStart + 1000 * kMs, 480, 0.1f);
  push_float(&sys, kStart + 1010 * kMs, 480, 0.1f);
  g_fake_encoder.refuse = true;
  mix_audio(true, 0);  // ends at the first refusal, drops the held packet
  EXPECT_FALSE(g_app.mixer.system_pending.valid);
  EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load() - (480 * 8 + 20));

  g_fake_encoder.refuse = false;
  mix_audio(true, 1);  // deadline long past
  EXPECT_EQ(blocks().size(), 100u);
}

// A length limit reached 25 ms in: the sound stops there, even though the
// stop (and its final drain) comes later with more audio in the ring.
TEST_F(MixerTest, SoundEndsWhereTheRecordingEnds) {
  open_stream(&g_app.system_capture, default_capture_format());
  AudioCapture& sys = g_app.system_capture;
  for (int i = 0; i < 4; ++i) push_float(&sys, kStart + i * 10 * kMs, 480, 0.1f);
  g_app.recording.mark_end(static_cast<int64_t>(kStart + 25 * kMs));
  g_app.recording.mark_end(static_cast<int64_t>(kStart + 40 * kMs));  // a later end changes nothing
  mix_audio(false, 0);
  push_float(&sys, kStart + 40 * kMs, 480, 0.1f);
  mix_audio(true, 0);
  uint32_t frames = 0;
  for (const SubmittedBlock& b : blocks()) frames += b.frames;
  EXPECT_EQ(frames, 1200u);  // 25 ms at 48 kHz
  ASSERT_EQ(blocks().size(), 3u);
  EXPECT_EQ(blocks()[2].time, static_cast<int64_t>(kStart + 20 * kMs));
  EXPECT_EQ(sys.read_pos.load(), sys.write_pos.load());  // the rest is let go, not left behind
}

}  // namespace

namespace {

TEST_F(MixerTest, WorkerTicksOnlyWhenATickIsPendingAndQuits) {
  open_stream(&g_app.system_capture, default_capture_format());
  AudioCapture& sys = g_app.system_capture;
  g_app.audio_wake_event = std::make_unique<AutoResetEvent>();
  std::atomic<pid_t> worker_id{0};
  std::thread worker([&] {
    worker_id = current_thread_id();
    audio_worker();
  });
  ASSERT_TRUE(wait_until([&] { return worker_id.load() != 0; }));
  ThreadWatch watch(worker_id);
  ASSERT_TRUE(watch.wait_asleep());

  // A wake-up without a pending tick does nothing: once the worker has woken
  // and gone back to waiting, no block was written.
  push_float(&sys, kStart, 480, 0.1f);
  watch.mark();
  g_app.audio_wake_event->set();
  ASSERT_TRUE(watch.wait_turn());
  {
    std::lock_guard<std::mutex> lock(g_app.audio_lock);
    EXPECT_TRUE(blocks().empty());
    EXPECT_EQ(sys.read_pos.load(), 0u) << "the ring was read without a tick";
  }
  g_app.audio_tick_pending = 1;
  g_app.audio_wake_event->set();
  EXPECT_TRUE(wait_until([] {
    std::lock_guard<std::mutex> lock(g_app.audio_lock);
    return g_fake_encoder.blocks.size() == 1;
  }));
  EXPECT_EQ(g_app.audio_tick_pending.load(), 0u);

  // Paused: the tick throws the audio away.
  g_app.recording.paused = 1;
  push_float(&sys, kStart + 10 * kMs, 480, 0.1f);
  g_app.audio_tick_pending = 1;
  g_app.audio_wake_event->set();
  EXPECT_TRUE(wait_until([&] { return sys.read_pos.load() == sys.write_pos.load(); }));
  {
    std::lock_guard<std::mutex> lock(g_app.audio_lock);
    EXPECT_EQ(blocks().size(), 1u);
  }

  g_app.audio_quit = 1;
  g_app.audio_wake_event->set();
  worker.join();
}

}  // namespace
