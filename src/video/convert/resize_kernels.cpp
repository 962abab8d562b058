// Portable scaling kernels and the choice between them and the AVX2 ones.
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"

namespace {

// Plain values are the 8-bit codes themselves (0..255) and the weights sum to
// 1, so a sum is the filtered code: v * 255 + 0.5 truncated with v = sum / 255,
// clamped to the code range.
inline uint8_t plain_code(float sum) {
  const int32_t c = static_cast<int32_t>(sum + 0.5f);
  return static_cast<uint8_t>(c < 0 ? 0 : c > 255 ? 255 : c);
}

template <bool kGamma>
inline uint8_t store_code(float v) {
  if constexpr (kGamma)
    return srgb_encode_code(v);
  else
    return plain_code(v);
}

template <bool kGamma>
inline float load_value(uint8_t c) {
  if constexpr (kGamma)
    return srgb_decode_table()[c];
  else
    return static_cast<float>(c);
}

// One multiply-add, rounded once (as the vector kernels' fused form) or twice.
template <bool kFused>
inline float mac(float acc, float w, float v) {
  if constexpr (kFused)
    return std::fma(w, v, acc);
  else
    return acc + w * v;
}

template <bool kGamma, bool kFused>
void horizontal(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const int32_t n_in = job.in_width * 4;
  float* row = s.row;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* src = job.src + size_t(y) * job.src_stride;
    for (int32_t i = 0; i < n_in; ++i) row[i] = load_value<kGamma>(src[i]);
    uint8_t* dst = job.mid + size_t(y % job.mid_rows) * job.mid_stride;
    for (int32_t x = 0; x < job.out_width; ++x) {
      const float* w = job.weights + size_t(x) * job.taps;
      const float* p = row + size_t(job.first[x]) * 4;
      float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f;
      for (int32_t k = 0; k < job.count[x]; ++k) {
        a0 = mac<kFused>(a0, w[k], p[k * 4 + 0]);
        a1 = mac<kFused>(a1, w[k], p[k * 4 + 1]);
        a2 = mac<kFused>(a2, w[k], p[k * 4 + 2]);
      }
      dst[x] = store_code<kGamma>(a0);
      dst[job.plane_stride + x] = store_code<kGamma>(a1);
      dst[2 * job.plane_stride + x] = store_code<kGamma>(a2);
    }
  }
}

template <bool kGamma, bool kFused>
void vertical(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const int32_t n = 3 * job.plane_stride;
  float* acc = s.acc;
  for (int32_t y = y0; y < y1; ++y) {
    const float* w = job.weights + size_t(y) * job.taps;
    for (int32_t i = 0; i < n; ++i) acc[i] = 0.0f;
    for (int32_t k = 0; k < job.count[y]; ++k) {
      const int32_t r = job.first[y] + k;
      const int32_t slot = r % s.ring_rows;
      float* rowf = s.ring + size_t(slot) * n;
      if (s.ring_tag[slot] != r) {
        const uint8_t* m = job.mid + size_t(r % job.mid_rows) * job.mid_stride;
        for (int32_t i = 0; i < n; ++i) rowf[i] = load_value<kGamma>(m[i]);
        s.ring_tag[slot] = r;
      }
      const float wk = w[k];
      for (int32_t i = 0; i < n; ++i) acc[i] = mac<kFused>(acc[i], wk, rowf[i]);
    }
    uint8_t* dst = job.dst + size_t(y % job.dst_rows) * job.dst_stride;
    for (int32_t x = 0; x < job.out_width; ++x) {
      dst[x * 4 + 0] = store_code<kGamma>(acc[x]);
      dst[x * 4 + 1] = store_code<kGamma>(acc[job.plane_stride + x]);
      dst[x * 4 + 2] = store_code<kGamma>(acc[2 * job.plane_stride + x]);
      dst[x * 4 + 3] = 0;
    }
  }
}

std::atomic<int> g_forced_portable{0};
std::atomic<int> g_fused_portable{0};
std::atomic<int> g_forced_avx2{0};

bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                          std::getenv("FRELVANTA_NO_AVX2") == nullptr;
  return has;
#else
  return false;
#endif
}

bool cpu_has_avx512() {
#if defined(__x86_64__)
  static const bool has = cpu_has_avx2() && __builtin_cpu_supports("avx512f") &&
                          __builtin_cpu_supports("avx512bw") &&
                          std::getenv("FRELVANTA_NO_AVX512") == nullptr;
  return has;
#else
  return false;
#endif
}

}  // namespace

void horizontal_rows_portable(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const bool fused = g_fused_portable.load(std::memory_order_relaxed) != 0;
  if (job.gamma)
    fused ? horizontal<true, true>(job, s, y0, y1) : horizontal<true, false>(job, s, y0, y1);
  else
    fused ? horizontal<false, true>(job, s, y0, y1) : horizontal<false, false>(job, s, y0, y1);
}

void vertical_rows_portable(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const bool fused = g_fused_portable.load(std::memory_order_relaxed) != 0;
  if (job.gamma)
    fused ? vertical<true, true>(job, s, y0, y1) : vertical<true, false>(job, s, y0, y1);
  else
    fused ? vertical<false, true>(job, s, y0, y1) : vertical<false, false>(job, s, y0, y1);
}

bool kernels_use_avx2() { return cpu_has_avx2() && g_forced_portable.load(std::memory_order_relaxed) == 0; }

bool kernels_use_avx512() {
  return kernels_use_avx2() && cpu_has_avx512() && g_forced_avx2.load(std::memory_order_relaxed) == 0;
}

void kernels_force_avx2(bool avx2_only) { g_forced_avx2.store(avx2_only ? 1 : 0); }

void kernels_force_portable(bool portable) { g_forced_portable.store(portable ? 1 : 0); }

void kernels_fuse_portable(bool fused) { g_fused_portable.store(fused ? 1 : 0); }
