// The system's resampler behind the encoder's audio transform: one second of
// a 44.1 kHz float tone becomes one second of 48 kHz 16-bit PCM at the same
// level, and the transform holds one input's output at a time.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <cmath>
#include <vector>

#include "video/encode/mf/mf_resampler.h"
#include "video/encode/wave_format.h"

namespace {
WaveFormat pcm16(uint32_t rate, uint16_t channels) {
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

TEST(Win32MfResampler, ConvertsRateAndLevelAndHoldsOneInput) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::unique_ptr<AudioTransform> t = mf_create_resampler();
  ASSERT_TRUE(t);
  ASSERT_FALSE(media_failed(t->set_input_type(wave_format_float(44100, 2))));
  ASSERT_FALSE(media_failed(t->set_output_type(pcm16(48000, 2))));
  // A float output is not the track's PCM.
  EXPECT_TRUE(media_failed(t->set_output_type(wave_format_float(48000, 2))));
  ASSERT_FALSE(media_failed(t->begin_streaming()));

  // Ten 100-ms inputs of a 1 kHz tone at amplitude 0.5.
  std::vector<int16_t> out;
  std::vector<uint8_t> room(48000 * 4 / 20);
  MediaSample o;
  o.data[0] = room.data();
  o.capacity = room.size();
  auto take_all = [&] {
    o.length = 0;
    while (t->process_output(&o) == MEDIA_OK) {
      const auto* s = reinterpret_cast<const int16_t*>(room.data());
      out.insert(out.end(), s, s + o.length / 2);
    }
  };
  uint64_t position = 0;
  for (int block = 0; block < 10; ++block) {
    std::vector<float> pcm(4410 * 2);
    for (size_t i = 0; i < 4410; ++i, ++position) {
      pcm[2 * i] = pcm[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 1000 * position / 44100.0));
    }
    MediaSample in;
    in.data[0] = reinterpret_cast<uint8_t*>(pcm.data());
    in.length = in.capacity = pcm.size() * sizeof(float);
    in.time = block * 1'000'000;
    ASSERT_EQ(t->process_input(&in), MEDIA_OK) << block;
    if (block == 0) {
      // Its output is not taken yet: the next input is refused.
      EXPECT_EQ(t->process_input(&in), MEDIA_E_NOTACCEPTING);
    }
    take_all();
  }
  ASSERT_FALSE(media_failed(t->drain()));
  take_all();
  const size_t frames = out.size() / 2;
  EXPECT_NEAR(static_cast<double>(frames), 48000, 100);
  double sum = 0;
  for (size_t i = frames / 4; i < frames * 3 / 4; ++i) sum += (out[2 * i] / 32768.0) * (out[2 * i] / 32768.0);
  EXPECT_NEAR(std::sqrt(sum / (frames / 2)), 0.5 / std::sqrt(2.0), 0.01);
  t.reset();
  CoUninitialize();
}
}  // namespace
