// The sample pools' claim and return, and the resampler transform over
// libswresample with its refusal of input until its output is taken.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "video/encode/ffmpeg/ffmpeg_writer.h"
#include "video/encode/sample_pool.h"
#include "video/encode/wave_format.h"

namespace {

TEST(SamplePool, ClaimsLowestFirstAndReturnsThroughTheLastRelease) {
  MediaSample a, b;
  MediaSample* pool[2] = {&a, &b};
  std::atomic<uint32_t> mask{0b11};
  SampleReturnCallback callback;
  pool_callback_init(&callback, pool, 2, &mask);

  EXPECT_EQ(pool_claim(mask), 0);
  EXPECT_EQ(pool_claim(mask), 1);
  EXPECT_EQ(pool_claim(mask), -1);

  // The writer takes a reference, the pool drops its own: nothing returns
  // until the writer lets go.
  pool_track(&b, &callback);
  sample_add_ref(&b);
  sample_release(&b);
  EXPECT_EQ(mask.load(), 0u);
  sample_release(&b);
  EXPECT_EQ(mask.load(), 0b10u);
  EXPECT_EQ(b.refs.load(), 1u);  // the pool's reference again
}

TEST(SamplePool, AReturnWakesAWaitingClaim) {
  MediaSample a;
  MediaSample* pool[1] = {&a};
  std::atomic<uint32_t> mask{0};
  SampleReturnCallback callback;
  pool_callback_init(&callback, pool, 1, &mask);
  pool_track(&a, &callback);
  a.refs = 1;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sample_release(&a);
  });
  // Long enough for the return; a missed wake-up would time out and fail.
  EXPECT_EQ(pool_claim_wait(mask, 5000), 0);
  writer.join();
  EXPECT_EQ(pool_claim_wait(mask, 2), -1);  // nothing free: gives up after the wait
}

TEST(SamplePool, AForeignSampleNeitherJoinsNorCorruptsThePool) {
  MediaSample a, stranger;
  MediaSample* pool[1] = {&a};
  std::atomic<uint32_t> mask{0};
  SampleReturnCallback callback;
  pool_callback_init(&callback, pool, 1, &mask);
  pool_track(&stranger, &callback);
  sample_release(&stranger);
  EXPECT_EQ(mask.load(), 0u);
  EXPECT_EQ(stranger.refs.load(), 1u);
}

struct Pcm {
  std::vector<uint8_t> bytes;
  MediaSample sample;
  explicit Pcm(size_t capacity) : bytes(capacity) {
    sample.data[0] = bytes.data();
    sample.capacity = capacity;
  }
};

TEST(Resampler, RefusesInputUntilItsOutputIsTaken) {
  auto r = ffmpeg_create_resampler();
  ASSERT_EQ(r->set_input_type(wave_format_float(44100, 2)), 0);
  ASSERT_EQ(r->set_output_type(wave_format_pcm16(48000, 2)), 0);
  ASSERT_EQ(r->begin_streaming(), 0);

  std::vector<float> block(4410 * 2, 0.5f);  // 100 ms
  MediaSample in;
  in.data[0] = reinterpret_cast<uint8_t*>(block.data());
  in.length = block.size() * sizeof(float);
  in.time = 1'000'000;
  in.duration = 1'000'000;
  EXPECT_EQ(r->process_input(&in), 0);
  EXPECT_EQ(r->process_input(&in), MEDIA_E_NOTACCEPTING);

  // A small output sample takes part of it; the rest still blocks input.
  Pcm small(48 * 4 * 10);  // 10 ms
  EXPECT_EQ(r->process_output(&small.sample), 0);
  EXPECT_EQ(small.sample.length, 48u * 4 * 10);
  EXPECT_EQ(small.sample.time, 1'000'000);
  EXPECT_EQ(small.sample.duration, 100'000);
  EXPECT_EQ(r->process_input(&in), MEDIA_E_NOTACCEPTING);

  Pcm big(48000 * 4);
  EXPECT_EQ(r->process_output(&big.sample), 0);
  EXPECT_EQ(big.sample.time, 1'100'000);  // continues where the first part ended
  EXPECT_EQ(r->process_output(&big.sample), MEDIA_E_TRANSFORM_NEED_MORE_INPUT);
  EXPECT_EQ(r->process_input(&in), 0);

  // Everything that went in comes out once drained: 200 ms at 48 kHz.
  size_t frames = (small.sample.length + big.sample.length) / 4;
  while (r->process_output(&big.sample) == 0) frames += big.sample.length / 4;
  ASSERT_EQ(r->drain(), 0);
  while (r->process_output(&big.sample) == 0) frames += big.sample.length / 4;
  EXPECT_NEAR(static_cast<double>(frames), 9600.0, 2.0);
  // 0.5 in float becomes half scale in 16-bit.
  int16_t v;
  std::memcpy(&v, big.bytes.data() + 200, sizeof v);
  EXPECT_NEAR(v, 16384, 200);
}

TEST(Resampler, MixesChannelCountsAndRejectsUnknownFormats) {
  auto r = ffmpeg_create_resampler();
  WaveFormat bad = wave_format_float(48000, 2);
  bad.wBitsPerSample = 24;
  bad.nBlockAlign = 6;
  EXPECT_LT(r->set_input_type(bad), 0);
  EXPECT_LT(r->set_output_type(wave_format_float(48000, 2)), 0);  // output must be 16-bit PCM

  WaveFormat six = wave_format_float(48000, 6);
  six.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  six.is_float = 1;
  six.dwChannelMask = 0x3F;  // 5.1
  ASSERT_EQ(r->set_input_type(six), 0);
  ASSERT_EQ(r->set_output_type(wave_format_pcm16(48000, 2)), 0);
  ASSERT_EQ(r->begin_streaming(), 0);
  std::vector<float> block(480 * 6, 0.25f);
  MediaSample in;
  in.data[0] = reinterpret_cast<uint8_t*>(block.data());
  in.length = block.size() * sizeof(float);
  EXPECT_EQ(r->process_input(&in), 0);
  Pcm out(48000 * 4);
  EXPECT_EQ(r->process_output(&out.sample), 0);
  EXPECT_NEAR(static_cast<double>(out.sample.length) / 4, 480.0, 32.0);
}

}  // namespace
