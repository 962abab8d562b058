// Frame conversion cost: our kernels against libswscale on the same pictures,
// one thread, plus the worker pool and the memcpy of a source frame (the
// memory-bandwidth floor). Prints ms per frame and the ratios at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "video/convert/convert_stage.h"
#include "video/convert/kernels.h"
#include "video/convert/resize_stage.h"
#include "video/convert/scale_convert.h"

namespace {

// A screen-like picture: smooth gradients with some noise.
void fill_picture(Texture2D& tex) {
  std::mt19937 rng(5);
  for (int y = 0; y < tex.height; ++y)
    for (int x = 0; x < tex.width; ++x) {
      uint8_t* p = tex.data + size_t(y) * tex.stride + size_t(x) * 4;
      p[0] = uint8_t(x * 255 / tex.width + (rng() & 7));
      p[1] = uint8_t(y * 255 / tex.height + (rng() & 7));
      p[2] = uint8_t((x + y) & 255);
      p[3] = 255;
    }
}

struct Pipeline {
  CaptureDevice device;
  ResizeStage resize;
  ConvertStage convert;
  SurfaceSet set;
  Pipeline(int iw, int ih, int ow, int oh, bool gamma, bool improved) {
    create_resize_stage(resize, device, iw, ih, ow, oh, gamma);
    create_convert_stage(convert, device, &resize.output_texture, ow, oh, true, improved);
    create_surface_set(set, device, ow, oh, SURFACE_FORMAT_NV12);
    fill_picture(resize.input_texture);
  }
};

ComputeContext& single() {
  static ComputeContext ctx(1);
  return ctx;
}

void ours(benchmark::State& state, int iw, int ih, int ow, int oh, bool gamma, bool improved, bool resize_only,
          bool pool) {
  Pipeline p(iw, ih, ow, oh, gamma, improved);
  ComputeContext& ctx = pool ? compute_context() : single();
  for (auto _ : state) {
    if (resize_only)
      run_resize(p.resize, ctx);
    else
      run_scale_and_convert(p.resize, p.convert, ctx, p.set);
    benchmark::DoNotOptimize(p.set.data[0][0]);
  }
}

void swscale(benchmark::State& state, int iw, int ih, int ow, int oh) {
  SwsContext* sws =
      sws_getContext(iw, ih, AV_PIX_FMT_BGRA, ow, oh, AV_PIX_FMT_NV12, SWS_BICUBIC, nullptr, nullptr, nullptr);
  Texture2D src;
  create_texture(src, iw, ih);
  fill_picture(src);
  SurfaceSet set;
  create_surface_set(set, CaptureDevice{}, ow, oh, SURFACE_FORMAT_NV12);
  const uint8_t* in[1] = {src.data};
  int in_stride[1] = {src.stride};
  for (auto _ : state) {
    sws_scale(sws, in, in_stride, 0, ih, set.data, set.linesize);
    benchmark::DoNotOptimize(set.data[0][0]);
  }
  sws_freeContext(sws);
}

void copy_frame(benchmark::State& state, int w, int h) {
  std::vector<uint8_t> a(size_t(w) * h * 4, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}

BENCHMARK_CAPTURE(ours, convert_1080_single, 1920, 1080, 1920, 1080, false, false, false, false);
BENCHMARK_CAPTURE(ours, convert_1080_improved, 1920, 1080, 1920, 1080, false, true, false, false);
BENCHMARK_CAPTURE(swscale, convert_1080, 1920, 1080, 1920, 1080);
BENCHMARK_CAPTURE(copy_frame, memcpy_1080, 1920, 1080);
BENCHMARK_CAPTURE(ours, resize_1440_plain, 2560, 1440, 1920, 1080, false, false, true, false);
BENCHMARK_CAPTURE(ours, resize_1440_linear, 2560, 1440, 1920, 1080, true, false, true, false);
BENCHMARK_CAPTURE(ours, scale_convert_1440_plain, 2560, 1440, 1920, 1080, false, false, false, false);
BENCHMARK_CAPTURE(ours, scale_convert_1440_linear, 2560, 1440, 1920, 1080, true, false, false, false);
BENCHMARK_CAPTURE(swscale, scale_convert_1440, 2560, 1440, 1920, 1080);
BENCHMARK_CAPTURE(copy_frame, memcpy_1440, 2560, 1440);
// The capture thread's share with the worker pool.
BENCHMARK_CAPTURE(ours, pool_convert_1080_single, 1920, 1080, 1920, 1080, false, false, false, true);
BENCHMARK_CAPTURE(ours, pool_convert_1080_improved, 1920, 1080, 1920, 1080, false, true, false, true);
BENCHMARK_CAPTURE(ours, pool_resize_1440_plain, 2560, 1440, 1920, 1080, false, false, true, true);
BENCHMARK_CAPTURE(ours, pool_scale_convert_1440_plain, 2560, 1440, 1920, 1080, false, false, false, true);
BENCHMARK_CAPTURE(ours, pool_scale_convert_1440_linear, 2560, 1440, 1920, 1080, true, true, false, true);

// Keeps every result's time per iteration so the ratios can be printed: wall
// time, and CPU time of the measuring thread (steadier on a shared machine;
// for the single-thread runs it is the whole cost). With repetitions
// (--benchmark_repetitions=5) the fastest run of each counts: on a shared
// machine the others measure the neighbours too.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
        keep_min(wall, r.benchmark_name(), r.GetAdjustedRealTime() * 1e3 / unit);
        keep_min(cpu, r.benchmark_name(), r.GetAdjustedCPUTime() * 1e3 / unit);
      }
    ConsoleReporter::ReportRuns(runs);
  }
  static void keep_min(std::map<std::string, double>& m, const std::string& name, double v) {
    auto [it, added] = m.emplace(name, v);
    if (!added && v < it->second) it->second = v;
  }
  std::map<std::string, double> wall, cpu;
};

enum class By { kCpu, kWall };

// A target of 0 prints the ratio alone; `by` says which time the target
// judges (cpu for one thread, wall when the pool shares the work).
void ratio(const RatioReporter& rep, const char* what, const char* a, const char* b, double target, By by = By::kCpu) {
  auto wa = rep.wall.find(a), wb = rep.wall.find(b);
  if (wa == rep.wall.end() || wb == rep.wall.end()) return;
  double ca = rep.cpu.at(a), cb = rep.cpu.at(b);
  double rw = wa->second / wb->second, rc = ca / cb;
  std::printf("%-46s wall %7.2f/%7.2f ms = %5.2f | cpu %7.2f/%7.2f ms = %5.2f", what, wa->second, wb->second, rw, ca,
              cb, rc);
  const double judged = by == By::kCpu ? rc : rw;
  if (target > 0)
    std::printf("  (target <= %.2f %s: %s)\n", target, by == By::kCpu ? "cpu" : "wall", judged <= target ? "met" : "missed");
  else
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  std::printf("\nms per frame, ratio ours / reference (one thread unless 'pool'; kernels: %s):\n",
              kernels_use_avx512() ? "AVX-512" : kernels_use_avx2() ? "AVX2" : "portable");
  // The default modes (single conversion, plain scaling) have targets. The
  // improved conversion and linear-light scaling keep their exact float math
  // and have none: their ratios are reported as they are.
  ratio(rep, "1080p BGRA->NV12 single / libswscale", "ours/convert_1080_single", "swscale/convert_1080", 0.25);
  ratio(rep, "1080p BGRA->NV12 improved / libswscale", "ours/convert_1080_improved", "swscale/convert_1080", 0);
  ratio(rep, "1440p->1080p resize plain / libswscale", "ours/resize_1440_plain", "swscale/scale_convert_1440", 0.5);
  ratio(rep, "1440p->1080p resize linear / libswscale", "ours/resize_1440_linear", "swscale/scale_convert_1440", 0);
  ratio(rep, "1440p->1080p resize+NV12 plain / libswscale", "ours/scale_convert_1440_plain", "swscale/scale_convert_1440",
        0.5);
  ratio(rep, "1440p->1080p resize+NV12 linear / libswscale", "ours/scale_convert_1440_linear",
        "swscale/scale_convert_1440", 0);
  ratio(rep, "1440p->1080p resize plain / memcpy 1440p", "ours/resize_1440_plain", "copy_frame/memcpy_1440", 0);
  ratio(rep, "1440p->1080p resize linear / memcpy 1440p", "ours/resize_1440_linear", "copy_frame/memcpy_1440", 0);
  ratio(rep, "1080p BGRA->NV12 single / memcpy 1080p", "ours/convert_1080_single", "copy_frame/memcpy_1080", 0);
  // The memory-bandwidth bound may use the worker pool: judged by wall time.
  ratio(rep, "1440p->1080p resize plain, pool / memcpy", "ours/pool_resize_1440_plain", "copy_frame/memcpy_1440", 3.0,
        By::kWall);
  ratio(rep, "1440p->1080p resize+NV12 plain, pool / swscale", "ours/pool_scale_convert_1440_plain",
        "swscale/scale_convert_1440", 0);
  // With the pool the capture thread waits for the helpers, so wall time is
  // what it spends per frame.
  for (const char* name : {"ours/pool_convert_1080_single", "ours/pool_convert_1080_improved"}) {
    auto it = rep.wall.find(name);
    if (it != rep.wall.end())
      std::printf("%-44s wall %7.2f ms, capture thread cpu %7.2f ms  (target <= 4 ms wall: %s)\n", name, it->second,
                  rep.cpu.at(name), it->second <= 4.0 ? "met" : "missed");
  }
  return 0;
}
