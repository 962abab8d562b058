// Frames per second the software encoders sustain on desktop-like content,
// alone (raw encoder, several presets) and through the whole recording path
// (conversion stages, pools, worker, writer, file) with the presets chosen.
// Runs are short on purpose: a fixed number of frames per case.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "platform/clock.h"
#include "video/encode/encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace {

// A desktop: flat background, a window with lines of text, a small box that
// moves every frame (a dragged icon or the pointer), a line of text that
// grows (typing) and a scroll of the text every 30 frames.
struct Desktop {
  int w, h;
  std::vector<uint8_t> px;
  Desktop(int w_, int h_) : w(w_), h(h_), px(static_cast<size_t>(w_) * h_ * 4) {}
  void rect(int x0, int y0, int rw, int rh, uint32_t bgr) {
    for (int y = std::max(0, y0); y < std::min(h, y0 + rh); ++y)
      for (int x = std::max(0, x0); x < std::min(w, x0 + rw); ++x) {
        uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
        p[0] = bgr & 0xFF; p[1] = (bgr >> 8) & 0xFF; p[2] = (bgr >> 16) & 0xFF; p[3] = 255;
      }
  }
  void draw(int frame) {
    rect(0, 0, w, h, 0x203040);
    const int wx = w / 8, wy = h / 10, ww = w * 3 / 4, wh = h * 3 / 4;
    rect(wx, wy, ww, wh, 0xF4F4F4);
    rect(wx, wy, ww, 28, 0x3060A0);
    const int scroll = (frame / 30) * 18;
    for (int line = 0; line * 18 < wh - 40; ++line) {
      const int y = wy + 40 + line * 18;
      const int seed = line + scroll / 18;
      for (int word = 0; word < 12; ++word) {
        const int len = 20 + (seed * 7 + word * 13) % 50;
        rect(wx + 10 + word * 80, y, len, 9, 0x202020);
      }
    }
    rect(wx + 10, wy + wh - 30, (frame * 6) % (ww - 20), 9, 0x101010);
    rect((frame * 9) % (w - 48), h - 120, 48, 48, 0xE04020);
  }
};

constexpr int kDistinct = 30;

// CPU time of the whole process (every encoder and conversion thread). The
// machine is shared, so wall-clock rates swing with other people's work; CPU
// time per frame does not, and two cores give at most 2 s of it per second.
double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void report(benchmark::State& state, int64_t frames, double cpu) {
  state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  if (frames > 0 && cpu > 0) {
    state.counters["cpu_ms_per_frame"] = cpu * 1000.0 / static_cast<double>(frames);
    state.counters["fps_on_2_cores"] = 2.0 * static_cast<double>(frames) / cpu;
  }
}

// Raw encoder: converted pictures straight into avcodec, settings as the
// writer uses them (mean bit rate 8 Mbit/s, GOP 240, two B-frames).
void BM_RawEncoder(benchmark::State& state, const char* name, const char* preset, int w, int h) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec) {
    state.SkipWithError("encoder not available");
    return;
  }
  const bool planar = std::string(name) != "libx264";
  const AVPixelFormat fmt = planar ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12;
  // Pictures: convert a run of desktop frames once with the product's stages.
  CaptureDevice device;
  ResizeStage resize;
  ConvertStage convert;
  create_resize_stage(resize, device, w, h, w, h, false);
  create_convert_stage(convert, device, &resize.output_texture, w, h, true, false);
  std::vector<SurfaceSet> pictures(kDistinct);
  Desktop desk(w, h);
  for (int i = 0; i < kDistinct; ++i) {
    create_surface_set(pictures[i], device, w, h, SURFACE_FORMAT_NV12,
                       planar ? SURFACE_LAYOUT_PLANAR : SURFACE_LAYOUT_INTERLEAVED);
    desk.draw(i);
    copy_to_texture(resize.input_texture, BgraImage{desk.px.data(), w, h, w * 4}, Rect{0, 0, w, h});
    run_convert(convert, compute_context(), pictures[i]);
  }
  int64_t frames = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();  // opening the encoder is not part of the rate
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = w;
    c->height = h;
    c->time_base = {1, 90000};
    c->framerate = {60, 1};
    c->pix_fmt = fmt;
    c->bit_rate = 8'000'000;
    c->gop_size = 240;
    c->max_b_frames = 2;
    c->thread_count = 0;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", preset, 0);
    if (std::string(name) == "libx265") av_dict_set(&opts, "x265-params", "log-level=error", 0);
    if (avcodec_open2(c, codec, &opts) < 0) {
      av_dict_free(&opts);
      avcodec_free_context(&c);
      state.SkipWithError("cannot open encoder");
      return;
    }
    av_dict_free(&opts);
    AVFrame* f = av_frame_alloc();
    AVPacket* p = av_packet_alloc();
    state.ResumeTiming();
    const double cpu0 = process_cpu_seconds();
    const int n = static_cast<int>(state.range(0));
    for (int i = 0; i <= n; ++i) {
      AVFrame* send = nullptr;
      if (i < n) {
        SurfaceSet& s = pictures[i % kDistinct];
        f->format = fmt;
        f->width = w;
        f->height = h;
        for (int k = 0; k < 3; ++k) {
          f->data[k] = s.data[k];
          f->linesize[k] = s.linesize[k];
        }
        f->pts = i * 1500;
        send = f;
      }
      avcodec_send_frame(c, send);
      while (avcodec_receive_packet(c, p) >= 0) av_packet_unref(p);
    }
    cpu += process_cpu_seconds() - cpu0;
    frames += n;
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
  }
  report(state, frames, cpu);
}

// The recording path with the chosen presets: BGRA frames submitted as fast
// as the pool allows, converted on the submitting thread, written by the
// worker to a real file, then finalised.
void BM_RecordingPath(benchmark::State& state, uint32_t video_codec, int w, int h) {
  char tmpl[] = "/tmp/fv-encoder-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("no temp folder");
    return;
  }
  const std::string path = std::string(tmpl) + "/bench.tmp.mp4";
  app_reset();
  encoder_init_process();
  Config& cfg = g_app.config;
  cfg.HardwareEncoder = 0;
  cfg.VideoCodec = video_codec;
  cfg.VideoProfile = video_codec == VIDEO_CODEC_H264 ? VIDEO_PROFILE_HIGH : VIDEO_PROFILE_MAIN;
  cfg.VideoBitrate = 8000;
  cfg.VideoMaxWidth = 0;
  cfg.VideoMaxHeight = 0;
  std::vector<Desktop> frames;
  for (int i = 0; i < kDistinct; ++i) {
    frames.emplace_back(w, h);
    frames.back().draw(i);
  }
  int64_t written = 0;
  uint64_t waits = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    EncoderConfig ec;
    ec.width = w;
    ec.height = h;
    ec.frame_rate_num = 60;
    ec.frame_rate_den = 1;
    ec.config = &cfg;
    if (!encoder_setup(g_app.encoder, CaptureDevice{}, path, ec)) {
      state.SkipWithError("set-up failed");
      break;
    }
    state.ResumeTiming();
    const double cpu0 = process_cpu_seconds();
    const int n = static_cast<int>(state.range(0));
    for (int i = 0; i < n; ++i) {
      const Desktop& d = frames[i % kDistinct];
      while (!encoder_submit_video(BgraImage{d.px.data(), w, h, w * 4}, Rect{0, 0, w, h},
                                   kQpcFrequency + i * (kQpcFrequency / 60), kQpcFrequency)) {
        waits += 1;  // the encoder is behind: a live recording would drop this frame
      }
    }
    encoder_request_stop();
    encoder_wait_worker(60000);
    cpu += process_cpu_seconds() - cpu0;
    written += n;
  }
  report(state, written, cpu);
  state.counters["pool_waits"] = static_cast<double>(waits);
  unlink(path.c_str());
  rmdir(tmpl);
  app_reset();
}

struct Raw {
  const char* name;
  const char* preset;
};
const Raw kRaw[] = {{"libx264", "ultrafast"}, {"libx264", "superfast"}, {"libx264", "veryfast"},
                    {"libx265", "ultrafast"}, {"libsvtav1", "12"}};

const bool kRegistered = [] {
  av_log_set_level(AV_LOG_ERROR);
  setenv("SVT_LOG", "1", 0);
  for (const auto& size : {std::pair{1920, 1080}, std::pair{1280, 720}}) {
    const int frames = size.first == 1920 ? 90 : 120;
    for (const Raw& r : kRaw) {
      const std::string label = std::string("encoder/") + r.name + "/" + r.preset + "/" +
                                std::to_string(size.first) + "x" + std::to_string(size.second);
      benchmark::RegisterBenchmark(label.c_str(), BM_RawEncoder, r.name, r.preset, size.first, size.second)
          ->Arg(frames)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    for (uint32_t codec : {VIDEO_CODEC_H264, VIDEO_CODEC_H265, VIDEO_CODEC_AV1}) {
      const char* names[] = {"h264", "h265", "av1"};
      const std::string label = std::string("recording/") + names[codec] + "/" + std::to_string(size.first) + "x" +
                                std::to_string(size.second);
      benchmark::RegisterBenchmark(label.c_str(), BM_RecordingPath, codec, size.first, size.second)
          ->Arg(frames)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
