// The Media Foundation writer against a sink writer of the test's own
// (fake_sink_writer.h): what it tells the sink writer about the tracks and
// the codec, and how the samples it hands over come back to the encoder's
// pools when the sink writer lets go of them, alone and with the encoder
// and the system's resampler in front. Wine has no encoder and no MP4 sink,
// so the real sink writer is not reached here.
#include <gtest/gtest.h>
#include <windows.h>
#include <codecapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "fake_sink_writer.h"
#include "support/fake_ui.h"
#include "support/wait.h"
#include "video/encode/encoder.h"
#include "video/encode/media_writer.h"
#include "video/encode/mf/mf_device_manager.h"
#include "video/encode/mf/mf_media_types.h"
#include "video/encode/mf/mf_resampler.h"
#include "video/encode/mf/mf_startup.h"
#include "video/encode/mf/mf_tracked_samples.h"
#include "video/encode/mf/mf_writer.h"
#include "video/encode/sample_pool.h"
#include "video/encode/wave_format.h"

namespace {
bool under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

UINT32 u32(IMFAttributes* a, const GUID& key) {
  UINT32 v = 0xdeadbeef;
  a->GetUINT32(key, &v);
  return v;
}
UINT64 u64(IMFAttributes* a, const GUID& key) {
  UINT64 v = 0;
  a->GetUINT64(key, &v);
  return v;
}
GUID guid(IMFAttributes* a, const GUID& key) {
  GUID v = GUID_NULL;
  a->GetGUID(key, &v);
  return v;
}
bool has(IMFAttributes* a, const GUID& key) {
  PROPVARIANT v;
  PropVariantInit(&v);
  const bool found = SUCCEEDED(a->GetItem(key, &v));
  PropVariantClear(&v);
  return found;
}

ComPtr<ID3D11Device> make_device() {
  ComPtr<ID3D11Device> device;
  D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, device.put(),
                    nullptr, nullptr);
  return device;
}

class Win32MediaFoundation : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(mf_started());
  }
};

// Every field of the descriptions lands on its own attribute, with the
// values of the platform's media types; codec settings go through the
// stream's codec interface in their order.
TEST_F(Win32MediaFoundation, TracksAndCodecSettingsReachTheSinkWriter) {
  struct Row {
    VideoCodecKind codec;
    uint32_t profile;
    PixelLayout input;
    GUID out_subtype, in_subtype;
    AudioCodecKind audio;
  };
  const Row rows[] = {
      {VIDEO_H264, 100, PIXEL_NV12, MFVideoFormat_H264, MFVideoFormat_NV12, AUDIO_AAC},
      {VIDEO_HEVC, 2, PIXEL_P010, MFVideoFormat_HEVC, MFVideoFormat_P010, AUDIO_FLAC},
      {VIDEO_AV1, 1, PIXEL_NV12, MFVideoFormat_AV1, MFVideoFormat_NV12, AUDIO_AAC},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.codec);
    FakeSinkWriter sink;
    sink.AddRef();
    std::unique_ptr<MediaWriter> w = mf_writer_over(ComPtr<IMFSinkWriter>(&sink), nullptr);
    ASSERT_TRUE(w);

    VideoOutputType vo;
    vo.codec = row.codec;
    vo.profile = row.profile;
    vo.primaries = PRIMARIES_SMPTE170M;
    vo.matrix = MATRIX_BT601;
    vo.frame_rate_num = 30000;
    vo.frame_rate_den = 1001;
    vo.width = 1366;
    vo.height = 768;
    vo.avg_bitrate = 8'000'000;
    int32_t video = -1, audio = -1;
    ASSERT_FALSE(media_failed(w->add_video_stream(vo, &video)));
    VideoInputType vi;
    vi.subtype = row.input;
    vi.frame_rate_num = 30000;
    vi.frame_rate_den = 1001;
    vi.width = 1366;
    vi.height = 768;
    ASSERT_FALSE(media_failed(w->set_video_input(video, vi)));
    EXPECT_EQ(w->picture_layout(video), row.input);
    CodecSettings cs;
    cs.mean_bitrate = 8'000'000;
    cs.gop_size = 120;
    EXPECT_TRUE(w->set_codec_settings(video, cs));

    AudioOutputType ao;
    ao.codec = row.audio;
    ao.samples_per_second = 48000;
    ao.num_channels = 2;
    ao.avg_bytes_per_second = row.audio == AUDIO_AAC ? 24000 : 0;
    ASSERT_FALSE(media_failed(w->add_audio_stream(ao, &audio)));
    AudioInputType ai;
    ai.samples_per_second = 48000;
    ai.num_channels = 2;
    ASSERT_FALSE(media_failed(w->set_audio_input(audio, ai)));
    ASSERT_FALSE(media_failed(w->begin_writing()));
    EXPECT_TRUE(sink.began);
    EXPECT_EQ(video, 0);
    EXPECT_EQ(audio, 1);

    ASSERT_EQ(sink.output_types.size(), 2u);
    IMFMediaType* v = sink.output_types[0].get();
    EXPECT_EQ(guid(v, MF_MT_MAJOR_TYPE), MFMediaType_Video);
    EXPECT_EQ(guid(v, MF_MT_SUBTYPE), row.out_subtype);
    EXPECT_EQ(u32(v, MF_MT_MPEG2_PROFILE), row.profile);
    EXPECT_EQ(u32(v, MF_MT_VIDEO_CHROMA_SITING), 5u);
    EXPECT_EQ(u32(v, MF_MT_VIDEO_NOMINAL_RANGE), 2u);
    EXPECT_EQ(u32(v, MF_MT_VIDEO_PRIMARIES), 5u);
    EXPECT_EQ(u32(v, MF_MT_YUV_MATRIX), 2u);
    EXPECT_EQ(u32(v, MF_MT_TRANSFER_FUNCTION), 2u);
    EXPECT_EQ(u32(v, MF_MT_INTERLACE_MODE), 2u);
    EXPECT_EQ(u64(v, MF_MT_FRAME_RATE), (UINT64{30000} << 32) | 1001);
    EXPECT_EQ(u64(v, MF_MT_FRAME_SIZE), (UINT64{1366} << 32) | 768);
    EXPECT_EQ(u32(v, MF_MT_AVG_BITRATE), 8'000'000u);
    EXPECT_FALSE(has(v, MF_MT_PIXEL_ASPECT_RATIO));

    ASSERT_EQ(sink.input_types.size(), 2u);
    IMFMediaType* in = sink.input_types[0].get();
    EXPECT_EQ(guid(in, MF_MT_SUBTYPE), row.in_subtype);
    EXPECT_EQ(u32(in, MF_MT_INTERLACE_MODE), 2u);
    EXPECT_EQ(u64(in, MF_MT_FRAME_RATE), (UINT64{30000} << 32) | 1001);
    EXPECT_EQ(u64(in, MF_MT_FRAME_SIZE), (UINT64{1366} << 32) | 768);

    IMFMediaType* a = sink.output_types[1].get();
    EXPECT_EQ(guid(a, MF_MT_MAJOR_TYPE), MFMediaType_Audio);
    EXPECT_EQ(guid(a, MF_MT_SUBTYPE), row.audio == AUDIO_AAC ? MFAudioFormat_AAC : MFAudioFormat_FLAC);
    EXPECT_EQ(u32(a, MF_MT_AUDIO_BITS_PER_SAMPLE), 16u);
    EXPECT_EQ(u32(a, MF_MT_AUDIO_SAMPLES_PER_SECOND), 48000u);
    EXPECT_EQ(u32(a, MF_MT_AUDIO_NUM_CHANNELS), 2u);
    // FLAC gets no bit rate.
    EXPECT_EQ(has(a, MF_MT_AUDIO_AVG_BYTES_PER_SECOND), row.audio == AUDIO_AAC);
    if (row.audio == AUDIO_AAC) EXPECT_EQ(u32(a, MF_MT_AUDIO_AVG_BYTES_PER_SECOND), 24000u);
    IMFMediaType* pcm = sink.input_types[1].get();
    EXPECT_EQ(guid(pcm, MF_MT_SUBTYPE), MFAudioFormat_PCM);
    EXPECT_EQ(u32(pcm, MF_MT_AUDIO_BITS_PER_SAMPLE), 16u);

    const GUID ids[] = {{STATIC_CODECAPI_AVEncCommonRateControlMode}, {STATIC_CODECAPI_AVEncCommonMeanBitRate},
                        {STATIC_CODECAPI_AVEncMPVGOPSize}, {STATIC_CODECAPI_AVLowLatencyMode},
                        {STATIC_CODECAPI_AVEncMPVDefaultBPictureCount}};
    const uint32_t values[] = {2, 8'000'000, 120, 0, 2};
    ASSERT_EQ(sink.codec_api.values.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(sink.codec_api.values[i].id, ids[i]) << i;
      EXPECT_EQ(sink.codec_api.values[i].type, i == 3 ? VT_BOOL : VT_UI4) << i;
      EXPECT_EQ(sink.codec_api.values[i].value, values[i]) << i;
    }
    // A stream without a codec interface goes on without settings.
    sink.offer_codec_api = false;
    EXPECT_FALSE(w->set_codec_settings(video, cs));
  }
}

// The sink writer's attributes: the container (fragmented only when asked),
// no throttling, and with hardware the transforms and the capture device's
// manager.
TEST_F(Win32MediaFoundation, WriterAttributesAndTheDeviceManager) {
  ComPtr<ID3D11Device> device = make_device();
  ASSERT_TRUE(device);
  ComPtr<IMFDXGIDeviceManager> manager;
  ASSERT_GE(mf_device_manager_for(device.get(), &manager), 0);
  ASSERT_TRUE(manager);
  HANDLE handle = nullptr;
  ASSERT_GE(manager->OpenDeviceHandle(&handle), 0);
  ComPtr<ID3D11Device> shared;
  EXPECT_GE(manager->GetVideoService(handle, __uuidof(ID3D11Device), shared.put_void()), 0);
  EXPECT_EQ(shared.get(), device.get());
  manager->CloseDeviceHandle(handle);

  struct Row {
    bool hardware;
    ContainerKind container;
  };
  for (const Row& row : {Row{true, CONTAINER_FMPEG4}, Row{false, CONTAINER_MPEG4}}) {
    WriterAttributes wa;
    wa.hardware_transforms = row.hardware;
    wa.container = row.container;
    ComPtr<IMFAttributes> store;
    ASSERT_GE(mf_writer_attributes(wa, row.hardware ? manager.get() : nullptr, &store), 0);
    EXPECT_EQ(guid(store.get(), MF_TRANSCODE_CONTAINERTYPE),
              row.container == CONTAINER_FMPEG4 ? MFTranscodeContainerType_FMPEG4 : MFTranscodeContainerType_MPEG4);
    EXPECT_EQ(u32(store.get(), MF_SINK_WRITER_DISABLE_THROTTLING), 1u);
    EXPECT_EQ(has(store.get(), MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS), row.hardware);
    ComPtr<IUnknown> set;
    store->GetUnknown(MF_SINK_WRITER_D3D_MANAGER, IID_IUnknown, set.put_void());
    EXPECT_EQ(static_cast<bool>(set), row.hardware);
  }
}

// The encoder's side of a pool: samples with NV12 planes in memory and a
// mask, returned through the pool's callback.
struct CorePool {
  static constexpr uint32_t kSize = 8;
  static constexpr uint32_t kW = 64, kH = 32;
  std::vector<uint8_t> memory[kSize];
  MediaSample* samples[kSize] = {};
  std::atomic<uint32_t> mask{0xFF};
  SampleReturnCallback callback;
  CorePool() {
    for (uint32_t i = 0; i < kSize; ++i) {
      memory[i].assign(kW * kH * 3 / 2, 0);
      MediaSample* s = new MediaSample();
      s->data[0] = memory[i].data();
      s->data[1] = memory[i].data() + kW * kH;
      s->linesize[0] = s->linesize[1] = kW;
      s->layout = PIXEL_NV12;
      s->width = kW;
      s->height = kH;
      samples[i] = s;
    }
    pool_callback_init(&callback, samples, kSize, &mask);
  }
  ~CorePool() {
    for (MediaSample* s : samples) delete s;
  }
  // Claims a sample, paints it with `value` and hands it to the writer the
  // way the encoder's worker does.
  MediaResult write(MediaWriter& w, int32_t stream, uint8_t value, int64_t time, uint32_t discontinuity,
                    int32_t* index) {
    const int32_t i = pool_claim(mask);
    *index = i;
    if (i < 0) return MEDIA_E_FAIL;
    std::memset(memory[i].data(), value, memory[i].size());
    MediaSample* s = samples[i];
    s->time = time;
    s->duration = 333'333;
    s->discontinuity = discontinuity;
    pool_track(s, &callback);
    const MediaResult r = w.write_sample(stream, s);
    if (media_failed(r)) {
      pool_return(mask, static_cast<uint32_t>(i));
      return r;
    }
    sample_release(s);  // the pool's reference
    return r;
  }
};

std::unique_ptr<MediaWriter> nv12_writer(FakeSinkWriter& sink, ID3D11Device* device, int32_t* video) {
  sink.AddRef();
  std::unique_ptr<MediaWriter> w = mf_writer_over(ComPtr<IMFSinkWriter>(&sink), device);
  VideoOutputType vo;
  vo.frame_rate_num = 30;
  vo.width = CorePool::kW;
  vo.height = CorePool::kH;
  w->add_video_stream(vo, video);
  VideoInputType vi;
  vi.frame_rate_num = 30;
  vi.width = CorePool::kW;
  vi.height = CorePool::kH;
  w->set_video_input(*video, vi);
  w->begin_writing();
  return w;
}

// A written sample stays out of the encoder's pool while the sink writer
// holds it and comes back when it lets go; a sample comes back again after
// every use; a failed write leaves the sample with the encoder at once; and
// samples the sink writer still holds when the writer has gone never touch
// the encoder's pool again.
TEST_F(Win32MediaFoundation, TrackedSamplesReturnToTheEncodersPool) {
  CorePool pool;
  FakeSinkWriter sink;
  int32_t video = -1;
  std::unique_ptr<MediaWriter> w = nv12_writer(sink, nullptr, &video);
  ASSERT_EQ(video, 0);

  // Eight pictures out: the pool is empty until the sink writer lets go.
  for (int k = 0; k < 8; ++k) {
    int32_t i = -1;
    ASSERT_FALSE(media_failed(pool.write(*w, video, static_cast<uint8_t>(10 + k), k * 333'333, k == 3, &i)));
  }
  EXPECT_EQ(pool.mask.load(), 0u);
  int32_t none = 0;
  EXPECT_TRUE(media_failed(pool.write(*w, video, 0, 0, 0, &none)));
  EXPECT_EQ(none, -1);
  sink.release_held();
  ASSERT_TRUE(wait_until([&] { return pool.mask.load() == 0xFFu; }));
  for (MediaSample* s : pool.samples) EXPECT_EQ(s->refs.load(), 1u);

  // What the sink writer saw: the picture's bytes, time, duration, and the
  // discontinuity only where it was set (a reused sample loses it).
  std::vector<FakeSinkWriter::Written> seen = sink.written_copy();
  ASSERT_EQ(seen.size(), 8u);
  for (size_t k = 0; k < seen.size(); ++k) {
    EXPECT_EQ(seen[k].time, static_cast<LONGLONG>(k) * 333'333);
    EXPECT_EQ(seen[k].duration, 333'333);
    EXPECT_EQ(seen[k].discontinuity, k == 3 ? 1u : 0u) << k;
    ASSERT_EQ(seen[k].bytes.size(), CorePool::kW * CorePool::kH * 3 / 2);
    EXPECT_EQ(std::count(seen[k].bytes.begin(), seen[k].bytes.end(), static_cast<uint8_t>(10 + k)),
              static_cast<long>(seen[k].bytes.size()));
  }
  for (int round = 0; round < 3; ++round) {
    int32_t i = -1;
    ASSERT_FALSE(media_failed(pool.write(*w, video, 7, 9'000'000, 0, &i)));
    EXPECT_EQ(pool.mask.load() & (1u << i), 0u);
    sink.release_held();
    ASSERT_TRUE(wait_until([&] { return pool.mask.load() == 0xFFu; })) << round;
  }
  EXPECT_EQ(sink.written_copy().back().discontinuity, 0u);

  // A write the sink writer refuses: the sample is the encoder's again at
  // once, and the next write of it goes through.
  sink.fail_writes = true;
  int32_t failed = -1;
  EXPECT_TRUE(media_failed(pool.write(*w, video, 1, 0, 0, &failed)));
  ASSERT_EQ(failed, 0);
  EXPECT_EQ(pool.samples[0]->refs.load(), 1u);
  EXPECT_EQ(pool.mask.load(), 0xFFu);
  sink.fail_writes = false;
  int32_t again = -1;
  ASSERT_FALSE(media_failed(pool.write(*w, video, 2, 0, 0, &again)));
  EXPECT_EQ(again, 0);
  sink.release_held();
  ASSERT_TRUE(wait_until([&] { return pool.mask.load() == 0xFFu; }));

  // The writer goes while the sink writer still holds a sample: it waits a
  // bounded time, then that sample's late return releases nothing.
  int32_t late = -1;
  ASSERT_FALSE(media_failed(pool.write(*w, video, 3, 0, 0, &late)));
  w.reset();
  EXPECT_EQ(pool.mask.load() & (1u << late), 0u);
  EXPECT_EQ(pool.samples[late]->refs.load(), 1u);
  sink.release_held();
  Sleep(100);
  EXPECT_EQ(pool.mask.load() & (1u << late), 0u);
  EXPECT_EQ(pool.samples[late]->refs.load(), 1u);
}

// Pictures go on the capture device's textures where it makes them in the
// encoder's layout (DXGI surface samples); Wine's Direct3D makes no NV12
// texture, so there they go in memory, and come back all the same.
TEST_F(Win32MediaFoundation, PicturesOnTheDeviceWhereItHasTheLayout) {
  ComPtr<ID3D11Device> device = make_device();
  ASSERT_TRUE(device);
  ComPtr<MfSamplePool> probe = MfSamplePool::video(device.get(), PIXEL_NV12, 64, 32);
  if (under_wine()) EXPECT_FALSE(probe->on_device());
  CorePool pool;
  FakeSinkWriter sink;
  int32_t video = -1;
  std::unique_ptr<MediaWriter> w = nv12_writer(sink, device.get(), &video);
  int32_t i = -1;
  ASSERT_FALSE(media_failed(pool.write(*w, video, 42, 0, 0, &i)));
  sink.release_held();
  ASSERT_TRUE(wait_until([&] { return pool.mask.load() == 0xFFu; }));
  if (!probe->on_device()) EXPECT_EQ(sink.written_copy().at(0).bytes.at(0), 42);
}

// The writer and the system's resampler behind the encoder: a second of
// 44.1 kHz float sound with pictures beside it goes through the audio
// transform into the sink writer as one second of 48 kHz 16-bit PCM in
// order, without gaps or overlaps, at the tone's level; the statistics for
// the watchdog are the sink writer's.
const MediaPlatform* g_saved = nullptr;
FakeSinkWriter* g_sink = nullptr;

bool any_encoder(const VideoEncoderRequest&, std::string* name) {
  if (name) *name = "fake";
  return true;
}
MediaResult fake_writer(const std::string&, const WriterAttributes&, std::unique_ptr<MediaWriter>* out) {
  g_sink->AddRef();
  *out = mf_writer_over(ComPtr<IMFSinkWriter>(g_sink), nullptr);
  return MEDIA_OK;
}

TEST_F(Win32MediaFoundation, SoundThroughTheSystemResamplerIntoTheWriter) {
  app_reset();
  encoder_init_process();
  FakeUi ui;
  g_ui_service = &ui;
  FakeSinkWriter sink;
  sink.hold = false;
  g_sink = &sink;
  static const MediaPlatform platform{any_encoder, fake_writer, mf_create_resampler};
  media_platform_set(&platform);

  Config& cfg = g_app.config;
  cfg.HardwareEncoder = 0;
  cfg.AudioCodec = AUDIO_CODEC_AAC;
  cfg.AudioChannels = 2;
  cfg.AudioSamplerate = 48000;
  const WaveFormat in = wave_format_float(44100, 2);
  EncoderConfig ec;
  ec.width = 64;
  ec.height = 32;
  ec.frame_rate_num = 20;
  ec.audio_format = &in;
  ec.config = &cfg;
  ASSERT_TRUE(encoder_setup(g_app.encoder, CaptureDevice{}, "unused.mp4", ec));

  constexpr int64_t kTick = 10'000'000;
  const int64_t start = 50 * kTick;
  std::vector<uint8_t> bgra(64 * 32 * 4, 0x80);
  const BgraImage image{bgra.data(), 64, 32, 64 * 4};
  const uint32_t block = 2205;  // 50 ms
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(wait_until([] { return g_app.encoder.video_free.load() != 0; }));
    ASSERT_TRUE(encoder_submit_video(image, {0, 0, 64, 32}, start + k * kTick / 20, kTick));
    std::vector<float> pcm(block * 2);
    for (uint32_t n = 0; n < block; ++n)
      pcm[2 * n] = pcm[2 * n + 1] = 0.5f * std::sin(2.0 * M_PI * 1000.0 * (k * block + n) / 44100.0);
    ASSERT_TRUE(wait_until([&] { return encoder_submit_audio(pcm.data(), block, start + k * kTick / 20, kTick); }));
  }
  ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }, std::chrono::seconds(30)));
  encoder_request_stop();
  ASSERT_TRUE(encoder_wait_worker(30000));
  EXPECT_NE(g_app.encoder.finalize_ok.load(), 0u);
  EXPECT_TRUE(sink.finalized);
  EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 0u);
  // The watchdog's statistics come from the sink writer: at least the
  // first picture's bytes.
  EXPECT_NE(g_app.encoder.stats_valid.load(), 0u);
  EXPECT_GE(g_app.encoder.stats_bytes.load(), 64u * 32 * 3 / 2);

  size_t frames = 0, pictures = 0;
  LONGLONG next = -1;
  double sum = 0;
  for (const FakeSinkWriter::Written& w : sink.written_copy()) {
    if (w.stream == 0) {
      ++pictures;
      continue;
    }
    if (next >= 0) EXPECT_LE(std::llabs(w.time - next), 1) << frames;
    next = w.time + w.duration;
    const int16_t* s = reinterpret_cast<const int16_t*>(w.bytes.data());
    for (size_t n = 0; n < w.bytes.size() / 2; ++n) sum += double(s[n]) * s[n];
    frames += w.bytes.size() / 4;
  }
  EXPECT_GE(pictures, 19u);
  EXPECT_NEAR(static_cast<double>(frames), 48000.0, 100.0);
  EXPECT_NEAR(std::sqrt(sum / (2.0 * frames)) / 32768.0, 0.354, 0.01);

  media_platform_set(nullptr);
  g_ui_service = nullptr;
  app_reset();
}
}  // namespace
