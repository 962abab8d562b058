// AVX2 scaling kernels. Only called after the CPU check in kernels_use_avx2;
// this file is compiled for AVX2, so it keeps every helper file-local (no
// inline function shared with other files could end up in AVX2 form).
#include "video/kernels.h"

#if defined(__x86_64__)
#pragma GCC target("avx2")
#include <immintrin.h>

#include "video/color_math.h"

namespace {

// The sRGB store of srgb_encode_code, 8 lanes at a time, same operations.
struct Srgb {
  __m256 pow2_lo, pow2_hi;
  Srgb() {
    const float* t = srgb_pow2_table();
    pow2_lo = _mm256_loadu_ps(t);
    pow2_hi = _mm256_loadu_ps(t + 8);
  }
};

inline __m256 clamp01(__m256 v) {
  v = _mm256_max_ps(v, _mm256_setzero_ps());  // NaN -> 0, like the scalar store
  return _mm256_min_ps(v, _mm256_set1_ps(1.0f));
}

inline __m256 srgb_encode(__m256 v, const Srgb& t) {
  const __m256 knee = _mm256_set1_ps(0.0031308f);
  __m256 w = _mm256_max_ps(v, knee);
  __m256i bits = _mm256_castps_si256(w);
  __m256i k9 = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(127 - 9));
  __m256 m = _mm256_castsi256_ps(
      _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x007fffff)), _mm256_set1_epi32(0x3f800000)));
  __m256 x = _mm256_sub_ps(m, _mm256_set1_ps(1.5f));
  __m256 p = _mm256_set1_ps(kSrgbPowCoef[7]);
  for (int i = 6; i >= 0; --i) p = _mm256_add_ps(_mm256_mul_ps(p, x), _mm256_set1_ps(kSrgbPowCoef[i]));
  __m256 lo = _mm256_permutevar8x32_ps(t.pow2_lo, k9), hi = _mm256_permutevar8x32_ps(t.pow2_hi, k9);
  __m256 scale = _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(_mm256_cmpgt_epi32(k9, _mm256_set1_epi32(7))));
  p = _mm256_mul_ps(p, scale);
  __m256 e_pow = _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(1.055f), p), _mm256_set1_ps(0.055f));
  __m256 e_lin = _mm256_mul_ps(_mm256_set1_ps(12.92f), v);
  return _mm256_blendv_ps(e_pow, e_lin, _mm256_cmp_ps(v, knee, _CMP_LT_OQ));
}

// The 8 codes of 8 values, as 32-bit lanes.
template <bool kGamma>
inline __m256i codes(__m256 v, const Srgb& t) {
  v = clamp01(v);
  if constexpr (kGamma) v = clamp01(srgb_encode(v, t));
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
}

template <bool kGamma>
inline uint8_t code1(float v) {
  if constexpr (kGamma) {
    return srgb_encode_code(v);
  } else {
    v = v > 0.0f ? v : 0.0f;
    v = v < 1.0f ? v : 1.0f;
    return static_cast<uint8_t>(v * 255.0f + 0.5f);
  }
}

// n bytes -> n floats as the UNORM load gives them (plain: code times 1/255;
// sRGB: the table's entries, gathered 8 at a time).
template <bool kGamma>
void decode(const uint8_t* src, float* dst, int32_t n) {
  const float* lut = unorm8_table(kGamma);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i)));
    if constexpr (kGamma)
      _mm256_storeu_ps(dst + i, _mm256_i32gather_ps(lut, v, 4));
    else
      _mm256_storeu_ps(dst + i, _mm256_mul_ps(_mm256_cvtepi32_ps(v), _mm256_set1_ps(1.0f / 255.0f)));
  }
  for (; i < n; ++i) dst[i] = lut[src[i]];
}

// 8 x 8 transpose of 32-bit elements: out[i] lane j = in[j] lane i.
inline void transpose8(const __m256i in[8], __m256i out[8]) {
  __m256i t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(in[i], in[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(in[i], in[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    out[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    out[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

template <int kC>
inline __m256i byte_lanes(__m256i px) {
  constexpr char z = char(0x80);
  return _mm256_shuffle_epi8(px, _mm256_setr_epi8(kC, z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z, kC,
                                                  z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z));
}

// Eight rows are scaled together, one row per vector lane. Input columns are
// decoded into `cols`: for column i, B, G and R of the 8 rows (24 floats).
// Output pixels go in chunks whose decoded input stays in the L1 cache.
constexpr int32_t kChunk = kResizeChunk;

template <bool kGamma>
void decode_columns(const uint8_t* const rows[8], int32_t i0, int32_t i1, float* cols) {
  int32_t i = i0;
  const float* lut = unorm8_table(kGamma);
  const __m256 scale = _mm256_set1_ps(1.0f / 255.0f);
  for (; i + 8 <= i1; i += 8) {
    __m256i in[8], out[8];
    for (int r = 0; r < 8; ++r) in[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r] + size_t(i) * 4));
    transpose8(in, out);
    for (int j = 0; j < 8; ++j) {
      float* d = cols + size_t(i - i0 + j) * 24;
      if constexpr (kGamma) {
        // The codes of 8 rows are already side by side here, so the table
        // lookups batch into gathers instead of 24 scalar loads.
        _mm256_storeu_ps(d + 0, _mm256_i32gather_ps(lut, byte_lanes<0>(out[j]), 4));
        _mm256_storeu_ps(d + 8, _mm256_i32gather_ps(lut, byte_lanes<1>(out[j]), 4));
        _mm256_storeu_ps(d + 16, _mm256_i32gather_ps(lut, byte_lanes<2>(out[j]), 4));
      } else {
        _mm256_storeu_ps(d + 0, _mm256_mul_ps(_mm256_cvtepi32_ps(byte_lanes<0>(out[j])), scale));
        _mm256_storeu_ps(d + 8, _mm256_mul_ps(_mm256_cvtepi32_ps(byte_lanes<1>(out[j])), scale));
        _mm256_storeu_ps(d + 16, _mm256_mul_ps(_mm256_cvtepi32_ps(byte_lanes<2>(out[j])), scale));
      }
    }
  }
  for (; i < i1; ++i) {
    float* d = cols + size_t(i - i0) * 24;
    for (int r = 0; r < 8; ++r) {
      const uint8_t* p = rows[r] + size_t(i) * 4;
      d[r] = lut[p[0]];
      d[8 + r] = lut[p[1]];
      d[16 + r] = lut[p[2]];
    }
  }
}

// Codes of 8 output pixels (one vector per pixel, lanes = rows) to the 8
// rows of one plane segment.
inline void store_block(const __m256i px[8], uint8_t* const dst[8], int32_t rows, int32_t x, int32_t n) {
  __m256i t[8];
  transpose8(px, t);  // t[r]: row r, pixels x .. x + 7
  for (int32_t r = 0; r < rows; ++r) {
    __m256i w = _mm256_packus_epi32(t[r], t[r]);   // [p0-3 p0-3 | p4-7 p4-7]
    w = _mm256_packus_epi16(w, w);                 // bytes, same shape
    __m128i v = _mm_unpacklo_epi32(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
    if (n == 8) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst[r] + x), v);
    } else {
      alignas(16) uint8_t tmp[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(tmp), v);
      for (int32_t j = 0; j < n; ++j) dst[r][x + j] = tmp[j];
    }
  }
}

template <bool kGamma, int32_t kTaps>
void horizontal(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const Srgb t;
  const int32_t taps = kTaps > 0 ? kTaps : job.taps;
  const int32_t ps = job.plane_stride;
  float* cols = s.row;
  for (int32_t yb = y0; yb < y1; yb += 8) {
    const int32_t rows = y1 - yb < 8 ? y1 - yb : 8;
    const uint8_t* src[8];
    uint8_t* dst[3][8];
    for (int r = 0; r < 8; ++r) {
      const int32_t y = yb + (r < rows ? r : rows - 1);  // spare lanes repeat the last row
      src[r] = job.src + size_t(y) * job.src_stride;
      for (int c = 0; c < 3; ++c) dst[c][r] = job.mid + size_t(y) * job.mid_stride + size_t(c) * ps;
    }
    for (int32_t x0 = 0; x0 < job.out_width; x0 += kChunk) {
      const int32_t x1 = x0 + kChunk < job.out_width ? x0 + kChunk : job.out_width;
      const int32_t i0 = job.first[x0];
      int32_t i1 = job.first[x1 - 1] + taps;
      if (i1 > job.in_width) i1 = job.in_width;
      decode_columns<kGamma>(src, i0, i1, cols);
      // Taps past the picture have weight 0 but must read finite values.
      for (int32_t i = (i1 - i0) * 24; i < (i1 - i0 + taps) * 24; ++i) cols[i] = 0.0f;
      for (int32_t x = x0; x < x1; x += 8) {
        const int32_t n = x1 - x < 8 ? x1 - x : 8;
        // Spare pixels of a short block repeat the last one; they are not stored.
        // Each sum adds its taps in order. Taps past `count` have weight 0
        // over finite (zeroed) columns, and a sum that starts at +0 never
        // becomes -0, so adding them leaves every sum unchanged.
        const float* w[8];
        int32_t off[8];
        for (int32_t j = 0; j < 8; ++j) {
          const int32_t o = x + (j < n ? j : n - 1);
          w[j] = job.weights + size_t(o) * taps;
          off[j] = (job.first[o] - i0) * 24;
        }
        if constexpr (kTaps > 0) {
          // A fixed tap count unrolls into straight-line code; the three
          // channels of a pixel share each weight broadcast.
          __m256i px[3][8];
          for (int32_t j = 0; j < 8; ++j) {
            const float* col = cols + off[j];
            __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0;
            for (int32_t k = 0; k < kTaps; ++k) {
              const __m256 wk = _mm256_broadcast_ss(w[j] + k);
              a0 = _mm256_add_ps(a0, _mm256_mul_ps(wk, _mm256_loadu_ps(col + k * 24)));
              a1 = _mm256_add_ps(a1, _mm256_mul_ps(wk, _mm256_loadu_ps(col + k * 24 + 8)));
              a2 = _mm256_add_ps(a2, _mm256_mul_ps(wk, _mm256_loadu_ps(col + k * 24 + 16)));
            }
            px[0][j] = codes<kGamma>(a0, t);
            px[1][j] = codes<kGamma>(a1, t);
            px[2][j] = codes<kGamma>(a2, t);
          }
          for (int c = 0; c < 3; ++c) store_block(px[c], dst[c], rows, x, n);
        } else {
          // One channel at a time keeps the 8 pixels' codes in registers; the
          // 8 sums advance together so their additions overlap.
          for (int c = 0; c < 3; ++c) {
            __m256 acc[8];
            for (int32_t j = 0; j < 8; ++j) acc[j] = _mm256_setzero_ps();
            const float* base = cols + c * 8;
            for (int32_t k = 0; k < taps; ++k)
              for (int32_t j = 0; j < 8; ++j)
                acc[j] = _mm256_add_ps(
                    acc[j], _mm256_mul_ps(_mm256_broadcast_ss(w[j] + k), _mm256_loadu_ps(base + off[j] + k * 24)));
            __m256i px[8];
            for (int32_t j = 0; j < 8; ++j) px[j] = codes<kGamma>(acc[j], t);
            store_block(px, dst[c], rows, x, n);
          }
        }
      }
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
        decode<kGamma>(job.mid + size_t(r) * job.mid_stride, rowf, n);
        s.ring_tag[slot] = r;
      }
      if (k < 64) rows[k] = rowf;
    }
    uint8_t* dst = job.dst + size_t(y) * job.dst_stride;
    int32_t x = 0;
    if (count <= 64) {
      // Two vectors per step: six independent sums hide the add latency.
      for (; x + 16 <= job.out_width; x += 16) {
        __m256 b = _mm256_setzero_ps(), g = b, r = b, b2 = b, g2 = b, r2 = b;
        for (int32_t k = 0; k < count; ++k) {
          const __m256 wk = _mm256_set1_ps(w[k]);
          const float* row = rows[k] + x;
          b = _mm256_add_ps(b, _mm256_mul_ps(wk, _mm256_loadu_ps(row)));
          g = _mm256_add_ps(g, _mm256_mul_ps(wk, _mm256_loadu_ps(row + ps)));
          r = _mm256_add_ps(r, _mm256_mul_ps(wk, _mm256_loadu_ps(row + 2 * ps)));
          b2 = _mm256_add_ps(b2, _mm256_mul_ps(wk, _mm256_loadu_ps(row + 8)));
          g2 = _mm256_add_ps(g2, _mm256_mul_ps(wk, _mm256_loadu_ps(row + ps + 8)));
          r2 = _mm256_add_ps(r2, _mm256_mul_ps(wk, _mm256_loadu_ps(row + 2 * ps + 8)));
        }
        __m256i px = _mm256_or_si256(codes<kGamma>(b, t), _mm256_slli_epi32(codes<kGamma>(g, t), 8));
        px = _mm256_or_si256(px, _mm256_slli_epi32(codes<kGamma>(r, t), 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + size_t(x) * 4), px);
        __m256i px2 = _mm256_or_si256(codes<kGamma>(b2, t), _mm256_slli_epi32(codes<kGamma>(g2, t), 8));
        px2 = _mm256_or_si256(px2, _mm256_slli_epi32(codes<kGamma>(r2, t), 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + size_t(x + 8) * 4), px2);
      }
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

namespace {

template <bool kGamma>
void horizontal_taps(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  // The tap counts of common reductions (down to half size) get unrolled code.
  switch (job.taps) {
    case 5: return horizontal<kGamma, 5>(job, s, y0, y1);
    case 6: return horizontal<kGamma, 6>(job, s, y0, y1);
    case 7: return horizontal<kGamma, 7>(job, s, y0, y1);
    case 8: return horizontal<kGamma, 8>(job, s, y0, y1);
    default: return horizontal<kGamma, 0>(job, s, y0, y1);
  }
}

}  // namespace

void horizontal_rows_avx2(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  job.gamma ? horizontal_taps<true>(job, s, y0, y1) : horizontal_taps<false>(job, s, y0, y1);
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
