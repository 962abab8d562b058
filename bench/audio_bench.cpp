// Costs of the audio path per 10 ms block: mixing two streams and walking a
// ring of packets. The mixer handles at most 64 blocks per 50 ms tick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/app_state.h"
#include "audio/audio_capture.h"
#include "audio/mixer.h"
#include "audio/ring.h"

namespace {

void BM_MixFloatStereoBlock(benchmark::State& state) {
  const uint32_t frames = 480;
  std::vector<float> s(frames * 2, 0.4f), m(frames * 2, 0.3f);
  ensure_mix_buffer(frames * 8);
  for (auto _ : state) {
    mix_samples(reinterpret_cast<uint8_t*>(s.data()), reinterpret_cast<uint8_t*>(m.data()), frames, 2, 32,
                1.5f, 0.5f);
    benchmark::DoNotOptimize(g_app.mixer.mix_buffer);
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_MixFloatStereoBlock);

void BM_Mix16StereoBlock(benchmark::State& state) {
  const uint32_t frames = 480;
  std::vector<int16_t> s(frames * 2, 12000), m(frames * 2, -9000);
  ensure_mix_buffer(frames * 4);
  for (auto _ : state) {
    mix_samples(reinterpret_cast<uint8_t*>(s.data()), reinterpret_cast<uint8_t*>(m.data()), frames, 2, 16,
                1.5f, 0.5f);
    benchmark::DoNotOptimize(g_app.mixer.mix_buffer);
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_Mix16StereoBlock);

// Reading and releasing a tick's worth (64 packets) from a full ring.
void BM_ReadAndRelease64Packets(benchmark::State& state) {
  AudioCapture cap;
  cap.stream_format = std::make_unique<WaveFormat>(default_capture_format());
  cap.counter_frequency = 10'000'000;
  cap.use_qpc_time = 1;
  cap.ring_size = ring_size_for(cap.stream_format->nAvgBytesPerSec);
  cap.ring = ring_map(cap.ring_size);
  const uint32_t packet = 480 * 8 + kPacketHeaderBytes;
  for (auto _ : state) {
    state.PauseTiming();
    uint32_t w = cap.write_pos.load();
    for (int i = 0; i < 64; ++i) {
      ring_put_header(cap.ring + (w & (cap.ring_size - 1)), 480, 0, 1'000'000 + i * 100'000ull);
      w += packet;
    }
    cap.write_pos.store(w);
    state.ResumeTiming();
    AudioPacket p;
    while (read_packet(&cap, 1'000'000, &p)) {
      benchmark::DoNotOptimize(p.data);
      cap.read_pos.fetch_add(p.frames * 8 + kPacketHeaderBytes);
    }
  }
  ring_unmap(cap.ring, cap.ring_size);
  cap.ring = nullptr;
}
BENCHMARK(BM_ReadAndRelease64Packets);

}  // namespace

BENCHMARK_MAIN();
