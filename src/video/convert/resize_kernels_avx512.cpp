// AVX-512 forms of the scaling passes. Both are mostly multiply-adds, and
// where the CPU runs 512-bit multiply-adds at close to the rate of 256-bit
// ones twice the lanes nearly halve their cost: the first pass scales 16
// rows at once, the second 16 pixels per vector. The sums add the same
// products in the same order as the AVX2 and the fused portable kernels, so
// all three give the same bytes. Only called after the CPU check in
// kernels_use_avx512; every helper stays file-local (see
// resize_kernels_avx2.cpp).
#include "video/convert/kernels.h"

#if defined(__x86_64__)
#pragma GCC target("avx512f,avx512bw,avx2,fma")
// GCC 12's AVX-512 headers start some intrinsics from an undefined register,
// which its own flow analysis then reports.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "video/convert/color_math.h"

namespace {

struct Srgb {
  const int32_t* entry = srgb_code_table().entry;
};

// The codes of 8 sums, as the AVX2 kernels make them (see there).
inline __m256i srgb_encode(__m256 v, const Srgb& t) {
  v = _mm256_max_ps(v, _mm256_setzero_ps());  // NaN -> 0, like the scalar store
  v = _mm256_min_ps(v, _mm256_set1_ps(1.0f));
  __m256i bits = _mm256_castps_si256(v);
  __m256i b = _mm256_sub_epi32(_mm256_srli_epi32(bits, kSrgbBucketShift), _mm256_set1_epi32(kSrgbBucketOrigin));
  __m256i e = _mm256_i32gather_epi32(t.entry, _mm256_max_epi32(b, _mm256_setzero_si256()), 4);
  __m256i low = _mm256_and_si256(bits, _mm256_set1_epi32(0xffff));
  __m256i below = _mm256_cmpgt_epi32(_mm256_and_si256(e, _mm256_set1_epi32(0x1ffff)), low);  // -1 or 0
  return _mm256_add_epi32(_mm256_srli_epi32(e, 17), _mm256_add_epi32(below, _mm256_set1_epi32(1)));
}

template <bool kGamma>
inline __m256i lane_codes(__m256 v, const Srgb& t) {
  if constexpr (kGamma)
    return srgb_encode(v, t);
  else
    return _mm256_cvttps_epi32(_mm256_add_ps(v, _mm256_set1_ps(0.5f)));
}

template <bool kGamma>
inline uint8_t code1(float v) {
  if constexpr (kGamma) {
    return srgb_encode_code(v);
  } else {
    const int32_t c = static_cast<int32_t>(v + 0.5f);
    return static_cast<uint8_t>(c < 0 ? 0 : c > 255 ? 255 : c);
  }
}

// Codes of 8 pixels' three channels as 8 B8G8R8A8 words, alpha 0; the
// saturating packs clamp plain codes.
inline __m256i bgra_words(__m256i b, __m256i g, __m256i r) {
  const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(b, g), _mm256_packus_epi32(r, r));
  constexpr char z = char(0x80);
  return _mm256_shuffle_epi8(bytes, _mm256_setr_epi8(0, 4, 8, z, 1, 5, 9, z, 2, 6, 10, z, 3, 7, 11, z, 0, 4, 8, z, 1, 5,
                                                     9, z, 2, 6, 10, z, 3, 7, 11, z));
}

inline __m256 low_half(__m512 v) { return _mm512_castps512_ps256(v); }
inline __m256 high_half(__m512 v) { return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)); }

// The sRGB decode table (256 floats) in 16 registers. A lookup of 16 codes
// picks from each 32-entry slice with one permute and then between the
// slices by bits 5-7: no gather, which costs about a load per lane.
struct DecodeTable {
  __m512 t[16];
};

inline DecodeTable decode_table() {
  DecodeTable d;
  const float* lut = srgb_decode_table();
  for (int i = 0; i < 16; ++i) d.t[i] = _mm512_loadu_ps(lut + 16 * i);
  return d;
}

inline __m512 lookup(__m512i code, const DecodeTable& d) {
  __m512 p[8];
  for (int i = 0; i < 8; ++i) p[i] = _mm512_permutex2var_ps(d.t[2 * i], code, d.t[2 * i + 1]);
  const __mmask16 b5 = _mm512_test_epi32_mask(code, _mm512_set1_epi32(32));
  const __mmask16 b6 = _mm512_test_epi32_mask(code, _mm512_set1_epi32(64));
  const __mmask16 b7 = _mm512_test_epi32_mask(code, _mm512_set1_epi32(128));
  const __m512 q0 = _mm512_mask_blend_ps(b5, p[0], p[1]), q1 = _mm512_mask_blend_ps(b5, p[2], p[3]);
  const __m512 q2 = _mm512_mask_blend_ps(b5, p[4], p[5]), q3 = _mm512_mask_blend_ps(b5, p[6], p[7]);
  return _mm512_mask_blend_ps(b7, _mm512_mask_blend_ps(b6, q0, q1), _mm512_mask_blend_ps(b6, q2, q3));
}

// 16 pixels' sums of the three channels stored as B8G8R8A8.
template <bool kGamma>
inline void store16(uint8_t* dst, __m512 b, __m512 g, __m512 r, const Srgb& t) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                      bgra_words(lane_codes<kGamma>(low_half(b), t), lane_codes<kGamma>(low_half(g), t),
                                 lane_codes<kGamma>(low_half(r), t)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32),
                      bgra_words(lane_codes<kGamma>(high_half(b), t), lane_codes<kGamma>(high_half(g), t),
                                 lane_codes<kGamma>(high_half(r), t)));
}

// n bytes -> n values (plain: the codes; sRGB: linear light from the table).
template <bool kGamma>
void decode(const uint8_t* src, float* dst, int32_t n) {
  const float* lut = srgb_decode_table();
  const DecodeTable table = kGamma ? decode_table() : DecodeTable{};
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m512i v = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    if constexpr (kGamma)
      _mm512_storeu_ps(dst + i, lookup(v, table));
    else
      _mm512_storeu_ps(dst + i, _mm512_cvtepi32_ps(v));
  }
  for (; i < n; ++i) dst[i] = kGamma ? lut[src[i]] : float(src[i]);
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

// The first pass takes 16 rows at a time, one per vector lane. Input columns
// are decoded into `cols`: for column i, B, G and R of the 16 rows (48
// floats). Output pixels go in chunks whose decoded input stays in the L1
// cache.
constexpr int32_t kChunk = kResizeChunk / 2;
constexpr int32_t kCol = 48;

// Bytes c, c + 4, c + 8, c + 12 of each 128-bit lane (channel c of four
// pixels) as 32-bit lanes.
template <int kC>
inline __m512i byte_lanes16(__m512i px) {
  constexpr char z = char(0x80);
  const __m256i half = _mm256_setr_epi8(kC, z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z, kC, z, z, z,
                                        4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z);
  return _mm512_shuffle_epi8(px, _mm512_inserti64x4(_mm512_castsi256_si512(half), half, 1));
}

template <bool kGamma>
void decode_columns(const uint8_t* const rows[16], int32_t i0, int32_t i1, float* cols) {
  int32_t i = i0;
  const float* lut = srgb_decode_table();
  const DecodeTable table = kGamma ? decode_table() : DecodeTable{};
  // Rows r and r + 8 share a vector (low and high half), so one 8 x 8
  // transpose within each half turns 8 pixels of 16 rows into 8 columns of
  // 16 rows.
  const __m512i lo_halves = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
  const __m512i hi_halves = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
  for (; i + 8 <= i1; i += 8) {
    __m512i in[8], t[8], u[8];
    for (int r = 0; r < 8; ++r) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r] + size_t(i) * 4));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[r + 8] + size_t(i) * 4));
      in[r] = _mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1);
    }
    for (int r = 0; r < 8; r += 2) {
      t[r] = _mm512_unpacklo_epi32(in[r], in[r + 1]);
      t[r + 1] = _mm512_unpackhi_epi32(in[r], in[r + 1]);
    }
    for (int r = 0; r < 8; r += 4) {
      u[r] = _mm512_unpacklo_epi64(t[r], t[r + 2]);
      u[r + 1] = _mm512_unpackhi_epi64(t[r], t[r + 2]);
      u[r + 2] = _mm512_unpacklo_epi64(t[r + 1], t[r + 3]);
      u[r + 3] = _mm512_unpackhi_epi64(t[r + 1], t[r + 3]);
    }
    for (int j = 0; j < 8; ++j) {
      // Column j: lanes 0-7 rows 0-7, lanes 8-15 rows 8-15.
      const __m512i col = _mm512_permutex2var_epi64(u[j & 3], j < 4 ? lo_halves : hi_halves, u[(j & 3) + 4]);
      float* d = cols + size_t(i - i0 + j) * kCol;
      if constexpr (kGamma) {
        _mm512_storeu_ps(d + 0, lookup(byte_lanes16<0>(col), table));
        _mm512_storeu_ps(d + 16, lookup(byte_lanes16<1>(col), table));
        _mm512_storeu_ps(d + 32, lookup(byte_lanes16<2>(col), table));
      } else {
        _mm512_storeu_ps(d + 0, _mm512_cvtepi32_ps(byte_lanes16<0>(col)));
        _mm512_storeu_ps(d + 16, _mm512_cvtepi32_ps(byte_lanes16<1>(col)));
        _mm512_storeu_ps(d + 32, _mm512_cvtepi32_ps(byte_lanes16<2>(col)));
      }
    }
  }
  for (; i < i1; ++i) {
    float* d = cols + size_t(i - i0) * kCol;
    for (int r = 0; r < 16; ++r) {
      const uint8_t* p = rows[r] + size_t(i) * 4;
      for (int c = 0; c < 3; ++c) d[16 * c + r] = kGamma ? lut[p[c]] : float(p[c]);
    }
  }
}

// 8 output pixels of one channel to 8 rows of its plane segment (as in the
// AVX2 kernel): v[i] holds the codes of pixels 2i and 2i + 1 as 16-bit
// values, rows 0-3 of each in the low half, 4-7 in the high half.
inline void store_block(const __m256i v[4], uint8_t* const dst[8], int32_t rows, int32_t x, int32_t n) {
  const __m256i b0 = _mm256_packus_epi16(v[0], v[1]);
  const __m256i b1 = _mm256_packus_epi16(v[2], v[3]);
  const __m256i to_rows = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5, 9,
                                           13, 2, 6, 10, 14, 3, 7, 11, 15);
  const __m256i t0 = _mm256_shuffle_epi8(b0, to_rows), t1 = _mm256_shuffle_epi8(b1, to_rows);
  const __m256i lo = _mm256_unpacklo_epi32(t0, t1), hi = _mm256_unpackhi_epi32(t0, t1);
  if (rows == 8 && n == 8) {
    const __m128i l0 = _mm256_castsi256_si128(lo), l1 = _mm256_extracti128_si256(lo, 1);
    const __m128i h0 = _mm256_castsi256_si128(hi), h1 = _mm256_extracti128_si256(hi, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst[0] + x), l0);
    _mm_storeh_pd(reinterpret_cast<double*>(dst[1] + x), _mm_castsi128_pd(l0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst[2] + x), h0);
    _mm_storeh_pd(reinterpret_cast<double*>(dst[3] + x), _mm_castsi128_pd(h0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst[4] + x), l1);
    _mm_storeh_pd(reinterpret_cast<double*>(dst[5] + x), _mm_castsi128_pd(l1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst[6] + x), h1);
    _mm_storeh_pd(reinterpret_cast<double*>(dst[7] + x), _mm_castsi128_pd(h1));
    return;
  }
  alignas(32) uint8_t tmp[64];
  _mm256_store_si256(reinterpret_cast<__m256i*>(tmp), lo);
  _mm256_store_si256(reinterpret_cast<__m256i*>(tmp + 32), hi);
  static constexpr int kRowAt[8] = {0, 8, 32, 40, 16, 24, 48, 56};
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t j = 0; j < n; ++j) dst[r][x + j] = tmp[kRowAt[r] + j];
}

template <bool kGamma, int32_t kTaps>
void horizontal(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  const Srgb t;
  const int32_t taps = kTaps > 0 ? kTaps : job.taps;
  const int32_t ps = job.plane_stride;
  float* cols = s.row;
  for (int32_t yb = y0; yb < y1; yb += 16) {
    const int32_t rows = y1 - yb < 16 ? y1 - yb : 16;
    const uint8_t* src[16];
    uint8_t* dst[3][16];
    for (int r = 0; r < 16; ++r) {
      const int32_t y = yb + (r < rows ? r : rows - 1);  // spare lanes repeat the last row
      src[r] = job.src + size_t(y) * job.src_stride;
      for (int c = 0; c < 3; ++c) dst[c][r] = job.mid + size_t(y % job.mid_rows) * job.mid_stride + size_t(c) * ps;
    }
    for (int32_t x0 = 0; x0 < job.out_width; x0 += kChunk) {
      const int32_t x1 = x0 + kChunk < job.out_width ? x0 + kChunk : job.out_width;
      const int32_t i0 = job.first[x0];
      int32_t i1 = job.first[x1 - 1] + taps;
      if (i1 > job.in_width) i1 = job.in_width;
      decode_columns<kGamma>(src, i0, i1, cols);
      // Taps past the picture have weight 0 but must read finite values.
      for (int32_t i = (i1 - i0) * kCol; i < (i1 - i0 + taps) * kCol; ++i) cols[i] = 0.0f;
      for (int32_t x = x0; x < x1; x += 8) {
        const int32_t n = x1 - x < 8 ? x1 - x : 8;
        // Spare pixels of a short block repeat the last one; they are not
        // stored. Taps past `count` have weight 0 over finite (zeroed)
        // columns and leave the sum as it is. Low halves: rows 0-7.
        __m256i lo16[3][4], hi16[3][4];
        for (int32_t jp = 0; jp < 4; ++jp) {
          const int32_t oa = x + (2 * jp < n ? 2 * jp : n - 1);
          const int32_t ob = x + (2 * jp + 1 < n ? 2 * jp + 1 : n - 1);
          const float* wa = job.weights + size_t(oa) * taps;
          const float* wb = job.weights + size_t(ob) * taps;
          const float* ca = cols + size_t(job.first[oa] - i0) * kCol;
          const float* cb = cols + size_t(job.first[ob] - i0) * kCol;
          __m512 a[3], b[3];
          for (int c = 0; c < 3; ++c) a[c] = b[c] = _mm512_setzero_ps();
          for (int32_t k = 0; k < taps; ++k) {
            const __m512 ka = _mm512_set1_ps(wa[k]), kb = _mm512_set1_ps(wb[k]);
            for (int c = 0; c < 3; ++c) {
              a[c] = _mm512_fmadd_ps(ka, _mm512_loadu_ps(ca + k * kCol + 16 * c), a[c]);
              b[c] = _mm512_fmadd_ps(kb, _mm512_loadu_ps(cb + k * kCol + 16 * c), b[c]);
            }
          }
          for (int c = 0; c < 3; ++c) {
            lo16[c][jp] = _mm256_packus_epi32(lane_codes<kGamma>(low_half(a[c]), t), lane_codes<kGamma>(low_half(b[c]), t));
            hi16[c][jp] =
                _mm256_packus_epi32(lane_codes<kGamma>(high_half(a[c]), t), lane_codes<kGamma>(high_half(b[c]), t));
          }
        }
        for (int c = 0; c < 3; ++c) {
          store_block(lo16[c], dst[c], rows < 8 ? rows : 8, x, n);
          if (rows > 8) store_block(hi16[c], dst[c] + 8, rows - 8, x, n);
        }
      }
    }
  }
}

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
        decode<kGamma>(job.mid + size_t(r % job.mid_rows) * job.mid_stride, rowf, n);
        s.ring_tag[slot] = r;
      }
      if (k < 64) rows[k] = rowf;
    }
    uint8_t* dst = job.dst + size_t(y % job.dst_rows) * job.dst_stride;
    int32_t x = 0;
    if (count <= 64) {
      // Two vectors per step: six independent sums hide the latency.
      for (; x + 32 <= job.out_width; x += 32) {
        __m512 b = _mm512_setzero_ps(), g = b, r = b, b2 = b, g2 = b, r2 = b;
        for (int32_t k = 0; k < count; ++k) {
          const __m512 wk = _mm512_set1_ps(w[k]);
          const float* row = rows[k] + x;
          b = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row), b);
          g = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + ps), g);
          r = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + 2 * ps), r);
          b2 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + 16), b2);
          g2 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + ps + 16), g2);
          r2 = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + 2 * ps + 16), r2);
        }
        store16<kGamma>(dst + size_t(x) * 4, b, g, r, t);
        store16<kGamma>(dst + size_t(x + 16) * 4, b2, g2, r2, t);
      }
      for (; x + 16 <= job.out_width; x += 16) {
        __m512 b = _mm512_setzero_ps(), g = b, r = b;
        for (int32_t k = 0; k < count; ++k) {
          const __m512 wk = _mm512_set1_ps(w[k]);
          const float* row = rows[k] + x;
          b = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row), b);
          g = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + ps), g);
          r = _mm512_fmadd_ps(wk, _mm512_loadu_ps(row + 2 * ps), r);
        }
        store16<kGamma>(dst + size_t(x) * 4, b, g, r, t);
      }
    }
    for (; x < job.out_width; ++x) {
      float a[3] = {0.0f, 0.0f, 0.0f};
      for (int32_t k = 0; k < count; ++k) {
        const int32_t r = job.first[y] + k;
        const float* rowf = s.ring + size_t(r % s.ring_rows) * n;
        for (int c = 0; c < 3; ++c) a[c] = __builtin_fmaf(w[k], rowf[c * ps + x], a[c]);
      }
      dst[x * 4 + 0] = code1<kGamma>(a[0]);
      dst[x * 4 + 1] = code1<kGamma>(a[1]);
      dst[x * 4 + 2] = code1<kGamma>(a[2]);
      dst[x * 4 + 3] = 0;
    }
  }
}

}  // namespace

void horizontal_rows_avx512(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  job.gamma ? horizontal_taps<true>(job, s, y0, y1) : horizontal_taps<false>(job, s, y0, y1);
}

void vertical_rows_avx512(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  job.gamma ? vertical<true>(job, s, y0, y1) : vertical<false>(job, s, y0, y1);
}

#else

void horizontal_rows_avx512(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  horizontal_rows_avx2(job, s, y0, y1);
}

void vertical_rows_avx512(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1) {
  vertical_rows_avx2(job, s, y0, y1);
}

#endif
