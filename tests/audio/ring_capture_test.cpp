// Capture streams against a scripted sound system: the ring's layout and
// limits, the capture thread's bookkeeping and the packet time rules.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <functional>
#include <numeric>

#include "core/app_state.h"
#include "audio/audio_capture.h"
#include "audio/ring.h"
#include "scripted_endpoint.h"
#include "support/wait.h"

namespace {

ScriptedPacket packet(uint32_t frames, uint32_t block_align, uint8_t fill, uint64_t device = 0,
                      uint64_t qpc = 0) {
  ScriptedPacket p;
  p.frames = frames;
  p.bytes.assign(size_t{frames} * block_align, fill);
  p.device_position = device;
  p.qpc_position = qpc;
  return p;
}

// 8-bit mono at 524,288 bytes per second: a 1 MiB ring in which a packet of
// n frames takes exactly n + 20 bytes, so any fill level can be reached.
WaveFormat byte_format() {
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 524288;
  f.nAvgBytesPerSec = 524288;
  f.nBlockAlign = 1;
  f.wBitsPerSample = 8;
  return f;
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_app.qpc_frequency = kQpcFrequency;
    audio_set_endpoints(&endpoints);
  }
  void TearDown() override {
    close_capture(&g_app.system_capture);
    close_capture(&g_app.mic_capture);
    audio_capture_zero(&g_app.system_capture);
    audio_capture_zero(&g_app.mic_capture);
    audio_set_endpoints(nullptr);
    clock_set_source(nullptr);
  }
  ScriptedEndpoints endpoints;
};

TEST(RingTest, SizeIsSmallestPowerOfTwoHoldingTwoSecondsAndAtLeast64KiB) {
  struct Case {
    uint32_t avg;
    uint32_t size;
  } cases[] = {
      {384000, 1048576},   // 48 kHz stereo float
      {352800, 1048576},   // 44.1 kHz stereo float
      {1536000, 4194304},  // 48 kHz 8-channel float
      {0, 65536},          {1000, 65536},    {32768, 65536},
      {32769, 131072},     {524288, 1048576}, {524289, 2097152},
  };
  for (const Case& c : cases) EXPECT_EQ(ring_size_for(c.avg), c.size) << c.avg;
}

TEST(RingTest, EachByteIsVisibleInBothHalves) {
  const uint32_t size = 65536;
  uint8_t* ring = ring_map(size);
  ASSERT_NE(ring, nullptr);
  ring[size - 1] = 0x5A;
  ring[size + 3] = 0xA5;
  EXPECT_EQ(ring[2 * size - 1], 0x5A);
  EXPECT_EQ(ring[3], 0xA5);
  ring_unmap(ring, size);
}

TEST_F(CaptureTest, FillLimitsCountNearOverflowAndDropWholePackets) {
  // used: ring fill when the probe packet arrives; probe: its size with header.
  struct Case {
    uint32_t used;
    uint32_t probe;
    uint64_t near;
    uint64_t overflow;
  } cases[] = {
      {917504, 100, 1, 0},           // exactly seven eighths full
      {917503, 100, 0, 0},           // one byte less
      {917504, 131072, 1, 0},        // exact fit
      {917504, 131073, 1, 1},        // one byte over: dropped
      {1000, 1048576 - 1000, 0, 0},  // exact fit in a nearly empty ring
      {1000, 1048576 - 999, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "used=" << c.used << " probe=" << c.probe);
    endpoints.output_format = byte_format();
    ASSERT_TRUE(open_loopback_capture(&g_app.system_capture, 0));
    AudioCapture& cap = g_app.system_capture;
    ASSERT_EQ(cap.ring_size, 1048576u);
    ScriptedClient* client = endpoints.last_client;
    client->deliver({packet(c.used - 20, 1, 1), packet(c.probe - 20, 1, 2)});
    EXPECT_EQ(cap.near_overflow_count.load(), c.near);
    EXPECT_EQ(cap.overflow_count.load(), c.overflow);
    EXPECT_EQ(cap.max_buffered_bytes.load(), c.used);
    EXPECT_EQ(cap.write_pos.load(), c.overflow ? c.used : c.used + c.probe);
    EXPECT_EQ(client->released.load(), 2u);  // a dropped packet is handed back too
    close_capture(&cap);
    audio_capture_zero(&cap);
  }
}

TEST_F(CaptureTest, PacketAcrossTheRingEndReadsBackIntact) {
  ASSERT_TRUE(open_loopback_capture(&g_app.system_capture, 0));
  AudioCapture& cap = g_app.system_capture;
  ScriptedClient* client = endpoints.last_client;
  const uint32_t ring = cap.ring_size;
  // Fill and release until the next packet starts 100 bytes before the end.
  uint32_t filler_frames = (ring - 100 - 20 * 3) / 8 / 3;
  uint32_t advanced = 0;
  for (int i = 0; i < 3; ++i) {
    client->deliver({packet(filler_frames, 8, 0x11)});
    advanced += filler_frames * 8 + 20;
  }
  cap.read_pos.store(advanced);
  uint32_t start = advanced & (ring - 1);
  ASSERT_GT(start + 20 + 4000 * 8, ring);  // really crosses the end

  ScriptedPacket p = packet(4000, 8, 0);
  std::iota(p.bytes.begin(), p.bytes.end(), uint8_t{7});
  std::vector<uint8_t> expected = p.bytes;
  p.device_position = 123456789012ull;
  p.qpc_position = 98765432109ull;
  client->deliver({std::move(p)});

  AudioPacket out;
  ASSERT_TRUE(read_packet(&cap, 98765432109ull, &out));
  EXPECT_EQ(out.frames, 4000u);
  EXPECT_EQ(out.time, 98765432109ull);
  EXPECT_EQ(std::memcmp(out.data, expected.data(), expected.size()), 0);
  uint32_t frames;
  uint64_t device, qpc;
  ring_get_header(cap.ring + start, &frames, &device, &qpc);
  EXPECT_EQ(device, 123456789012ull);
  // Releasing the whole packet leaves the ring empty.
  cap.read_pos.fetch_add(4000 * 8 + 20);
  EXPECT_FALSE(read_packet(&cap, 1, &out));
}

TEST_F(CaptureTest, SilentPacketIsStoredAsZeros) {
  ASSERT_TRUE(open_loopback_capture(&g_app.system_capture, 0));
  AudioCapture& cap = g_app.system_capture;
  // Leave stale non-zero bytes where the silent packet will land.
  std::memset(cap.ring, 0xEE, 4096);
  ScriptedPacket p = packet(300, 8, 0x7F);
  p.flags = AUDIO_BUFFER_SILENT;
  endpoints.last_client->deliver({std::move(p)});
  AudioPacket out;
  ASSERT_TRUE(read_packet(&cap, 1, &out));
  ASSERT_EQ(out.frames, 300u);
  EXPECT_EQ(cap.write_pos.load(), 300u * 8 + 20);
  for (uint32_t i = 0; i < 300 * 8; ++i) ASSERT_EQ(out.data[i], 0) << i;
}

int64_t g_manual_now = 0;
int64_t manual_clock() { return g_manual_now; }

TEST_F(CaptureTest, FirstPacketDecidesBetweenCounterAndDevicePositionTimes) {
  const uint64_t start = 50'000'000;  // encoder start time, 5 s
  struct Case {
    const char* name;
    bool application;
    int64_t offset;  // first packet's counter time minus start, 100 ns
    bool trusted;
    int64_t read_at = 40'000'000;  // clock when the mixer reads the packet
  } cases[] = {
      {"0.6 s early", false, -6'000'000, false},
      {"0.5 s early", false, -5'000'000, true},
      {"0.5 s late", false, 5'000'000, true},
      {"0.5 s + 1 late", false, 5'000'001, false},
      {"application, 3 s early", true, -30'000'000, true},
      // A device that woke up late: captured after the stream started, read later still.
      {"late device, 1.8 s late", false, 18'000'000, true, 70'000'000},
      {"stamped after it was read", false, 18'000'000, false, 60'000'000},
      {"before the stream started", false, -16'000'000, false, 70'000'000},
  };
  clock_set_source(manual_clock);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_manual_now = 40'000'000;
    AudioCapture& cap = g_app.mic_capture;
    ASSERT_TRUE(c.application ? open_loopback_capture(&cap, 77)
                              : open_microphone_capture(&cap, "", nullptr));
    EXPECT_EQ(cap.start_qpc, 40'000'000u);
    const uint64_t qpc0 = start + c.offset;
    endpoints.last_client->deliver({packet(480, 8, 1, 1000, qpc0), packet(480, 8, 1, 1480, qpc0 + 100'000)});
    g_manual_now = c.read_at;
    AudioPacket out;
    ASSERT_TRUE(read_packet(&cap, start, &out));
    EXPECT_EQ(out.time, c.trusted ? qpc0 : 40'000'000u);
    cap.read_pos.fetch_add(480 * 8 + 20);
    ASSERT_TRUE(read_packet(&cap, start, &out));
    // Device path: 480 frames at 48 kHz after the first packet = 10 ms.
    EXPECT_EQ(out.time, c.trusted ? qpc0 + 100'000 : 40'000'000u + 100'000);
    EXPECT_EQ(cap.use_qpc_time, c.trusted ? 1 : 0);
    close_capture(&cap);
    audio_capture_zero(&cap);
  }
}

TEST_F(CaptureTest, OpenersChooseFormatsAndFailCleanly) {
  // Microphone alone: the default format.
  ASSERT_TRUE(open_microphone_capture(&g_app.mic_capture, "", nullptr));
  EXPECT_EQ(g_app.mic_capture.stream_format->nSamplesPerSec, 48000u);
  EXPECT_EQ(g_app.mic_capture.stream_format->nBlockAlign, 8);
  EXPECT_EQ(g_app.mic_capture.stream_format->is_float, 1);
  EXPECT_EQ(g_app.mic_capture.render_client, nullptr);
  close_capture(&g_app.mic_capture);
  audio_capture_zero(&g_app.mic_capture);

  // Beside a system stream: the system stream's format is imposed.
  WaveFormat out16{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16};
  endpoints.output_format = out16;
  ASSERT_TRUE(open_loopback_capture(&g_app.system_capture, 0));
  EXPECT_NE(g_app.system_capture.render_client, nullptr);
  EXPECT_TRUE(endpoints.render_client->started);
  ASSERT_TRUE(open_microphone_capture(&g_app.mic_capture, "mic.present", g_app.system_capture.stream_format.get()));
  EXPECT_EQ(endpoints.last_format.nSamplesPerSec, 44100u);
  EXPECT_EQ(g_app.mic_capture.stream_format->wBitsPerSample, 16);
  EXPECT_EQ(g_app.mic_capture.ring_size, 524288u);

  // Application audio: the window's process, the bounded wait, the default format.
  close_capture(&g_app.system_capture);
  audio_capture_zero(&g_app.system_capture);
  ASSERT_TRUE(open_loopback_capture(&g_app.system_capture, 77));
  EXPECT_EQ(endpoints.last_pid, 4242u);
  EXPECT_EQ(endpoints.last_timeout_ms, 5000u);
  EXPECT_EQ(g_app.system_capture.first_packet_pending, 0);
  EXPECT_EQ(g_app.system_capture.use_qpc_time, 1);
  EXPECT_EQ(g_app.system_capture.stream_format->nAvgBytesPerSec, 384000u);
  close_capture(&g_app.system_capture);
  audio_capture_zero(&g_app.system_capture);

  // Failures leave the record closed: no silent fallback to the default input.
  AudioCapture& cap = g_app.system_capture;
  EXPECT_FALSE(open_microphone_capture(&cap, "mic.unplugged", nullptr));
  EXPECT_EQ(cap.audio_client, nullptr);
  EXPECT_FALSE(open_loopback_capture(&cap, 12345));  // window without a process
  EXPECT_EQ(cap.audio_client, nullptr);
  endpoints.has_output = false;
  EXPECT_FALSE(open_loopback_capture(&cap, 0));
  EXPECT_EQ(cap.audio_client, nullptr);
  EXPECT_EQ(cap.ring, nullptr);
}

TEST_F(CaptureTest, MicrophoneListStopsAt32) {
  std::string names[kMaxMicrophones], ids[kMaxMicrophones];
  endpoints.inputs = 40;
  EXPECT_EQ(enumerate_microphones(names, ids), 32u);
  EXPECT_EQ(ids[31], "input.31");
  endpoints.inputs = 3;
  EXPECT_EQ(enumerate_microphones(nullptr, ids), 3u);
  EXPECT_EQ(names[2], "Input 2");  // untouched from the first call
}

}  // namespace

namespace {
// One more turn of the capture thread: it acknowledges a settle request at
// the end of a turn in which it saw it, as a stop does.
bool capture_turn(AudioCapture& cap) {
  const uint32_t request = cap.settle_request.fetch_add(1) + 1;
  cap.data_event->set();
  return wait_until([&] { return cap.settle_done.load() == request; });
}

// A stream whose server goes away keeps what it captured, is counted once,
// and is reopened until the server is back; then packets flow again.
TEST_F(CaptureTest, FailedStreamIsCountedAndReopened) {
  AudioCapture& cap = g_app.system_capture;
  ASSERT_TRUE(open_loopback_capture(&cap, 0));
  ScriptedClient* client = endpoints.last_client;
  client->deliver({packet(480, 8, 1, 0, 1000)});
  client->failed.store(true);
  ASSERT_TRUE(wait_until([&] { return client->reopen_calls.load() >= 2; }));
  EXPECT_EQ(cap.interruptions.load(), 1u);
  client->reopen_ok.store(true);
  ASSERT_TRUE(wait_until([&] { return !client->failed.load(); }));
  client->deliver({packet(480, 8, 2, 480, 2000)});
  EXPECT_EQ(cap.interruptions.load(), 1u);
  EXPECT_EQ(cap.write_pos.load(), 2 * (480u * 8 + kPacketHeaderBytes));

  // Stopped, a failed stream is not reopened any more.
  client->reopen_ok.store(false);
  client->failed.store(true);
  ASSERT_TRUE(wait_until([&] { return cap.interruptions.load() == 2; }));
  audio_capture_stop(&cap, 0);
  // A turn that began before the stop may still have reopened; the turns
  // after it, each told of the stop, must not.
  const uint32_t calls = client->reopen_calls.load();
  for (int turn = 0; turn < 3; ++turn) ASSERT_TRUE(capture_turn(cap)) << turn;
  EXPECT_EQ(client->reopen_calls.load(), calls);
}

// No capture thread, no stream: the opener fails and leaves nothing open,
// which recording start reports like any other stream it cannot open.
TEST_F(CaptureTest, CaptureThreadThatCannotBeCreatedFailsTheOpener) {
  pthread_attr_t old_attr, huge;
  ASSERT_EQ(pthread_getattr_default_np(&old_attr), 0);
  pthread_attr_init(&huge);
  pthread_attr_setstacksize(&huge, size_t{1} << 46);  // no such stack can be mapped
  ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
  const bool system_opened = open_loopback_capture(&g_app.system_capture, 0);
  const bool mic_opened = open_microphone_capture(&g_app.mic_capture, "", nullptr);
  pthread_setattr_default_np(&old_attr);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&old_attr);
  EXPECT_FALSE(system_opened);
  EXPECT_FALSE(mic_opened);
  EXPECT_EQ(g_app.system_capture.audio_client, nullptr);
  EXPECT_EQ(g_app.system_capture.render_client, nullptr);
  EXPECT_EQ(g_app.system_capture.ring, nullptr);
  EXPECT_EQ(g_app.mic_capture.audio_client, nullptr);
}
}  // namespace
