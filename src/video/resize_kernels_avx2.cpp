// AVX2 scaling kernels. Only called after the CPU check in kernels_use_avx2;
// this file is compiled for AVX2, so it keeps every helper file-local (no
// inline function shared with other files could end up in AVX2 form).
#include "video/kernels.h"

#if defined(__x86_64__)
#pragma GCC target("avx2")
#include <immintrin.h>

#include "video/color_math.h"

namespace {

inline float clamp01(float v) {
  v = v > 0.0f ? v : 0.0f;
  return v < 1.0f ? v : 1.0f;
}
inline uint8_t plain_code(float v) { return static_cast<uint8_t>(clamp01(v) * 255.0f + 0.5f); }

struct Srgb {
  const int32_t* bucket = srgb_bucket_table();
  const float* threshold = srgb_threshold_table();
  const float* decode = unorm8_table(true);
};

// The 8 codes of 8 values, as 32-bit lanes.
template <bool kGamma>
inline __m256i codes(__m256 v, const Srgb& t) {
  v = _mm256_max_ps(v, _mm256_setzero_ps());  // NaN -> 0, like the scalar store
  v = _mm256_min_ps(v, _mm256_set1_ps(1.0f));
  if constexpr (kGamma) {
    __m256i idx = _mm256_cvttps_epi32(_mm256_mul_ps(v, _mm256_set1_ps(float(kSrgbBuckets))));
    __m256i base = _mm256_i32gather_epi32(t.bucket, idx, 4);
    __m256 thr = _mm256_i32gather_ps(t.threshold + 1, base, 4);
    __m256i up = _mm256_castps_si256(_mm256_cmp_ps(v, thr, _CMP_GE_OQ));
    return _mm256_sub_epi32(base, up);
  } else {
    return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
  }
}

template <bool kGamma>
inline uint8_t code1(float v) {
  if constexpr (kGamma)
    return srgb_encode_code(v);
  else
    return plain_code(v);
}

// 8 bytes -> 8 floats as the UNORM load (plain or through the sRGB view) gives them.
template <bool kGamma>
inline __m256 load8(const uint8_t* p, const Srgb& t) {
  __m256i i = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  if constexpr (kGamma)
    return _mm256_i32gather_ps(t.decode, i, 4);
  else
    return _mm256_mul_ps(_mm256_cvtepi32_ps(i), _mm256_set1_ps(1.0f / 255.0f));
}

template <bool kGamma>
void decode_row(const uint8_t* src, float* dst, int32_t n, const Srgb& t) {
  const float* lut = unorm8_table(kGamma);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(dst + i, load8<kGamma>(src + i, t));
  for (; i < n; ++i) dst[i] = lut[src[i]];
}

template <bool kGamma>
void horizontal(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const Srgb t;
  const int32_t taps = job.taps;
  const int32_t ps = job.plane_stride;
  float* row = s.row;
  for (int32_t y = y0; y < y1; ++y) {
    decode_row<kGamma>(job.src + size_t(y) * job.src_stride, row, job.in_width * 4, t);
    uint8_t* dst = job.mid + size_t(y) * job.mid_stride;
    int32_t x = 0;
    // Eight output pixels at a time, two per vector (B, G, R, A each).
    for (; x + 8 <= job.out_width; x += 8) {
      __m256i c[4];
      for (int q = 0; q < 4; ++q) {
        const int32_t p = (x >> 1) + q;
        const float* pa = row + size_t(job.first[2 * p]) * 4;
        const float* pb = row + size_t(job.first[2 * p + 1]) * 4;
        const float* w = job.pair_weights + size_t(p) * taps * 8;
        __m256 acc = _mm256_setzero_ps();
        for (int32_t k = 0; k < taps; ++k) {
          __m256 v = _mm256_loadu2_m128(pb + k * 4, pa + k * 4);
          acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_load_ps(w + k * 8), v));
        }
        c[q] = codes<kGamma>(acc, t);
      }
      // Lanes hold pixels (0,1), (2,3), (4,5), (6,7) as B G R A; make planes.
      __m256i a = _mm256_packus_epi32(c[0], c[1]);  // 16-bit: [p0 p2 | p1 p3]
      __m256i b = _mm256_packus_epi32(c[2], c[3]);  // [p4 p6 | p5 p7]
      __m256i bytes = _mm256_packus_epi16(a, b);    // [p0 p2 p4 p6 | p1 p3 p5 p7]
      const __m256i by_channel = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1,
                                                  5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
      bytes = _mm256_shuffle_epi8(bytes, by_channel);  // [B0246 G0246 R0246 A | B1357 ...]
      __m128i even = _mm256_castsi256_si128(bytes), odd = _mm256_extracti128_si256(bytes, 1);
      __m128i bg = _mm_unpacklo_epi8(even, odd);  // B0..B7 G0..G7
      __m128i ra = _mm_unpackhi_epi8(even, odd);  // R0..R7 A0..A7
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), bg);
      _mm_storeh_pd(reinterpret_cast<double*>(dst + ps + x), _mm_castsi128_pd(bg));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * ps + x), ra);
    }
    for (; x < job.out_width; ++x) {
      const float* w = job.weights + size_t(x) * taps;
      const float* p = row + size_t(job.first[x]) * 4;
      float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f;
      for (int32_t k = 0; k < taps; ++k) {
        a0 += w[k] * p[k * 4 + 0];
        a1 += w[k] * p[k * 4 + 1];
        a2 += w[k] * p[k * 4 + 2];
      }
      dst[x] = code1<kGamma>(a0);
      dst[ps + x] = code1<kGamma>(a1);
      dst[2 * ps + x] = code1<kGamma>(a2);
    }
  }
}

template <bool kGamma>
void vertical(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const Srgb t;
  const int32_t ps = job.plane_stride;
  const int32_t n = 3 * ps;
  const float* rows[64];
  for (int32_t y = y0; y < y1; ++y) {
    const float* w = job.weights + size_t(y) * job.taps;
    const int32_t count = job.count[y];
    for (int32_t k = 0; k < count; ++k) {
      const int32_t r = job.first[y] + k;
      const int32_t slot = r % s.ring_rows;
      float* rowf = s.ring + size_t(slot) * n;
      if (s.ring_tag[slot] != r) {
        decode_row<kGamma>(job.mid + size_t(r) * job.mid_stride, rowf, n, t);
        s.ring_tag[slot] = r;
      }
      if (k < 64) rows[k] = rowf;
    }
    uint8_t* dst = job.dst + size_t(y) * job.dst_stride;
    int32_t x = 0;
    if (count <= 64) {
      for (; x + 8 <= job.out_width; x += 8) {
        __m256 b = _mm256_setzero_ps(), g = b, r = b;
        for (int32_t k = 0; k < count; ++k) {
          const __m256 wk = _mm256_set1_ps(w[k]);
          b = _mm256_add_ps(b, _mm256_mul_ps(wk, _mm256_loadu_ps(rows[k] + x)));
          g = _mm256_add_ps(g, _mm256_mul_ps(wk, _mm256_loadu_ps(rows[k] + ps + x)));
          r = _mm256_add_ps(r, _mm256_mul_ps(wk, _mm256_loadu_ps(rows[k] + 2 * ps + x)));
        }
        __m256i px = _mm256_or_si256(codes<kGamma>(b, t), _mm256_slli_epi32(codes<kGamma>(g, t), 8));
        px = _mm256_or_si256(px, _mm256_slli_epi32(codes<kGamma>(r, t), 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + size_t(x) * 4), px);
      }
    }
    for (; x < job.out_width; ++x) {
      float a[3] = {0.0f, 0.0f, 0.0f};
      for (int32_t k = 0; k < count; ++k) {
        const int32_t r = job.first[y] + k;
        const float* rowf = s.ring + size_t(r % s.ring_rows) * n;
        for (int c = 0; c < 3; ++c) a[c] += w[k] * rowf[c * ps + x];
      }
      dst[x * 4 + 0] = code1<kGamma>(a[0]);
      dst[x * 4 + 1] = code1<kGamma>(a[1]);
      dst[x * 4 + 2] = code1<kGamma>(a[2]);
      dst[x * 4 + 3] = 0;
    }
  }
}

}  // namespace

void horizontal_rows_avx2(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  job.gamma ? horizontal<true>(job, s, y0, y1) : horizontal<false>(job, s, y0, y1);
}

void vertical_rows_avx2(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  job.gamma ? vertical<true>(job, s, y0, y1) : vertical<false>(job, s, y0, y1);
}

#else

void horizontal_rows_avx2(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  horizontal_rows_portable(job, s, y0, y1);
}
void vertical_rows_avx2(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  vertical_rows_portable(job, s, y0, y1);
}

#endif
