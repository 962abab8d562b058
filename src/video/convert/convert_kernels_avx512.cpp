// AVX-512 forms of the conversion into NV12 (the default output): 32 pixels
// of a row pair (16 chroma samples) per step for the chroma (and the single
// conversion's luma), 32 pixels of a row for the improved luma, in the AVX2
// kernels' order of operations, so every path writes the same values. Other
// outputs take the AVX2 kernels, which also finish each row. Only called after the CPU check in kernels_use_avx512;
// every helper stays file-local (see resize_kernels_avx2.cpp).
#include "video/convert/kernels.h"

#if defined(__x86_64__)
#pragma GCC target("avx512f,avx512bw,avx2,fma")
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // see resize_kernels_avx512.cpp
#include <immintrin.h>

namespace {

// Channel c of each 32-bit pixel as a 32-bit lane.
template <int kC>
inline __m512i byte_lanes(__m512i px) {
  constexpr char z = char(0x80);
  const __m256i half = _mm256_setr_epi8(kC, z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z, kC, z, z, z,
                                        4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z);
  return _mm512_shuffle_epi8(px, _mm512_inserti64x4(_mm512_castsi256_si512(half), half, 1));
}

struct Pixels {
  __m512i b, g, r;
  explicit Pixels(__m512i px) : b(byte_lanes<0>(px)), g(byte_lanes<1>(px)), r(byte_lanes<2>(px)) {}
};

// (k0 R + k1 G) + k2 B + add, truncated: the folded write of the portable code.
inline __m512i folded(__m512 r, __m512 g, __m512 b, const float* k, __m512 add) {
  __m512 v = _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(k[0]), r), _mm512_mul_ps(_mm512_set1_ps(k[1]), g));
  v = _mm512_add_ps(v, _mm512_mul_ps(_mm512_set1_ps(k[2]), b));
  return _mm512_cvttps_epi32(_mm512_add_ps(v, add));
}

inline __m512i luma(const Pixels& p, const ConvertFrame& f, __m512 add) {
  return folded(_mm512_cvtepi32_ps(p.r), _mm512_cvtepi32_ps(p.g), _mm512_cvtepi32_ps(p.b), f.y_k, add);
}

// 32 codes (two vectors of 16) as 32 bytes, saturated like the AVX2 packs.
inline void store_bytes(uint8_t* dst, __m512i a, __m512i b) {
  const __m512i zero = _mm512_setzero_si512();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm512_cvtusepi32_epi8(_mm512_max_epi32(a, zero)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm512_cvtusepi32_epi8(_mm512_max_epi32(b, zero)));
}

struct Lanes {
  __m512i even, odd, cb_cr_lo, cb_cr_hi;
};

inline Lanes lanes() {
  Lanes l;
  l.even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  l.odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  l.cb_cr_lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  l.cb_cr_hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  return l;
}

// 8 times the filtered value of one channel for 16 chroma samples, from the
// column sums of 32 pixels; lane 15 of carry holds the column before the
// first, and carry becomes this step's odd columns.
inline __m512 filtered(__m512i s0, __m512i s1, __m512i& carry, const Lanes& l) {
  const __m512i e = _mm512_permutex2var_epi32(s0, l.even, s1), o = _mm512_permutex2var_epi32(s0, l.odd, s1);
  const __m512i prev = _mm512_alignr_epi32(o, carry, 15);  // carry lane 15, then o lanes 0-14
  carry = o;
  return _mm512_cvtepi32_ps(_mm512_add_epi32(_mm512_add_epi32(prev, _mm512_add_epi32(e, e)), o));
}

void nv12_pair(const ConvertFrame& f, int32_t cy, bool with_luma) {
  const int32_t r0 = 2 * cy < f.height ? 2 * cy : f.height - 1;
  const int32_t r1 = 2 * cy + 1 < f.height ? 2 * cy + 1 : f.height - 1;
  const bool second_row = 2 * cy + 1 < f.height;
  const uint8_t* a = f.src + size_t(r0) * f.src_stride;
  const uint8_t* b = f.src + size_t(r1) * f.src_stride;
  uint8_t* y0 = f.plane[0] + size_t(r0) * f.linesize[0];
  uint8_t* y1 = f.plane[0] + size_t(r1) * f.linesize[0];
  uint8_t* uv = f.plane[1] + size_t(cy) * f.linesize[1];
  uint16_t* scratch = f.scratch ? f.scratch + size_t(cy) * f.scratch_stride : nullptr;
  const __m512 y_add = _mm512_set1_ps(f.y_add), c_add = _mm512_set1_ps(f.c_add);
  const Lanes l = lanes();
  // Column 2x - 1 of the first sample: column -1 is column 0.
  __m512i carry_b = _mm512_set1_epi32(int(a[0]) + int(b[0]));
  __m512i carry_g = _mm512_set1_epi32(int(a[1]) + int(b[1]));
  __m512i carry_r = _mm512_set1_epi32(int(a[2]) + int(b[2]));
  int32_t x = 0;  // chroma column; the step covers pixels 2x .. 2x + 31
  for (; 2 * x + 32 <= f.width; x += 16) {
    const int32_t px = 2 * x;
    const Pixels a0(_mm512_loadu_si512(a + px * 4)), a1(_mm512_loadu_si512(a + px * 4 + 64));
    const Pixels b0(_mm512_loadu_si512(b + px * 4)), b1(_mm512_loadu_si512(b + px * 4 + 64));
    if (with_luma) {
      store_bytes(y0 + px, luma(a0, f, y_add), luma(a1, f, y_add));
      if (second_row) store_bytes(y1 + px, luma(b0, f, y_add), luma(b1, f, y_add));
    }
    const __m512 tb = filtered(_mm512_add_epi32(a0.b, b0.b), _mm512_add_epi32(a1.b, b1.b), carry_b, l);
    const __m512 tg = filtered(_mm512_add_epi32(a0.g, b0.g), _mm512_add_epi32(a1.g, b1.g), carry_g, l);
    const __m512 tr = filtered(_mm512_add_epi32(a0.r, b0.r), _mm512_add_epi32(a1.r, b1.r), carry_r, l);
    const __m512i cb = folded(tr, tg, tb, f.cb_k, c_add), cr = folded(tr, tg, tb, f.cr_k, c_add);
    const __m512i lo = _mm512_permutex2var_epi32(cb, l.cb_cr_lo, cr), hi = _mm512_permutex2var_epi32(cb, l.cb_cr_hi, cr);
    store_bytes(uv + 2 * x, lo, hi);
    if (scratch) {
      // The improved conversion's copy of the chroma plane, as 16-bit values.
      const __m512i zero = _mm512_setzero_si512();
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(scratch + 2 * x), _mm512_cvtusepi32_epi16(_mm512_max_epi32(lo, zero)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(scratch + 2 * x + 16),
                          _mm512_cvtusepi32_epi16(_mm512_max_epi32(hi, zero)));
    }
  }
  if (with_luma || x < f.chroma_w) convert_pair_avx2_from(f, cy, with_luma, x);
}

inline __m512 chroma_decode(__m512 c) {
  return _mm512_mul_ps(_mm512_sub_ps(c, _mm512_set1_ps(128.0f / 255.0f)), _mm512_set1_ps(255.0f / 224.0f));
}

// The vertically interpolated, decoded chroma of row y (see the portable
// version): 16 chroma columns per step.
void chroma_row(const ConvertFrame& f, int32_t y, float* cv) {
  const int32_t j = y >> 1;
  int32_t ja, jb;
  float wa, wb;
  if ((y & 1) == 0) {
    ja = j > 0 ? j - 1 : 0, jb = j, wa = 0.25f, wb = 0.75f;
  } else {
    ja = j, jb = j + 1 < f.chroma_h ? j + 1 : f.chroma_h - 1, wa = 0.75f, wb = 0.25f;
  }
  const uint16_t* ra = f.scratch + size_t(ja) * f.scratch_stride;
  const uint16_t* rb = f.scratch + size_t(jb) * f.scratch_stride;
  float* cbv = cv;
  float* crv = cv + f.cv_plane;
  const __m512 scale = _mm512_set1_ps(f.scratch_scale), vwa = _mm512_set1_ps(wa), vwb = _mm512_set1_ps(wb);
  const __m512i low = _mm512_set1_epi32(0xffff);
  auto mix = [&](__m512i a, __m512i b) {
    __m512 va = _mm512_mul_ps(_mm512_cvtepi32_ps(a), scale), vb = _mm512_mul_ps(_mm512_cvtepi32_ps(b), scale);
    return chroma_decode(_mm512_add_ps(_mm512_mul_ps(vwa, va), _mm512_mul_ps(vwb, vb)));
  };
  int32_t i = 0;
  for (; i + 16 <= f.chroma_w; i += 16) {
    // Sixteen (Cb, Cr) pairs: Cb in the low, Cr in the high half of each lane.
    const __m512i a = _mm512_loadu_si512(ra + 2 * i), b = _mm512_loadu_si512(rb + 2 * i);
    _mm512_storeu_ps(cbv + i, mix(_mm512_and_si512(a, low), _mm512_and_si512(b, low)));
    _mm512_storeu_ps(crv + i, mix(_mm512_srli_epi32(a, 16), _mm512_srli_epi32(b, 16)));
  }
  const float s = f.scratch_scale;
  for (; i < f.chroma_w; ++i) {
    cbv[i] = (wa * (float(ra[2 * i]) * s) + wb * (float(rb[2 * i]) * s) - 128.0f / 255.0f) * (255.0f / 224.0f);
    crv[i] = (wa * (float(ra[2 * i + 1]) * s) + wb * (float(rb[2 * i + 1]) * s) - 128.0f / 255.0f) * (255.0f / 224.0f);
  }
  cbv[f.chroma_w] = cbv[f.chroma_w - 1];
  crv[f.chroma_w] = crv[f.chroma_w - 1];
}

struct ImprovedConstants {
  __m512 k0, k1, q0, q1, q2, lr, lg, lb, scale, add;
};

inline ImprovedConstants improved_constants(const ConvertFrame& f) {
  ImprovedConstants k;
  k.k0 = _mm512_set1_ps(f.kd_k[0]), k.k1 = _mm512_set1_ps(f.kd_k[1]);
  k.q0 = _mm512_set1_ps(f.q_k[0]), k.q1 = _mm512_set1_ps(f.q_k[1]), k.q2 = _mm512_set1_ps(f.q_k[2]);
  k.lr = _mm512_set1_ps(f.lum_k[0]), k.lg = _mm512_set1_ps(f.lum_k[1]), k.lb = _mm512_set1_ps(f.lum_k[2]);
  k.scale = _mm512_set1_ps(f.iy_scale), k.add = _mm512_set1_ps(f.iy_add);
  return k;
}

// Improved luma codes of 16 pixels sharing the chroma (cb, cr) lane by lane,
// in the portable code's order of operations.
inline __m512i improved_codes(__m512i px, __m512 cb, __m512 cr, const ImprovedConstants& k) {
  const __m512 zero = _mm512_setzero_ps();
  const __m512 kd = _mm512_add_ps(_mm512_mul_ps(k.k0, cb), _mm512_mul_ps(k.k1, cr));
  const __m512 q = _mm512_add_ps(
      _mm512_add_ps(_mm512_mul_ps(k.q0, _mm512_mul_ps(cb, cb)), _mm512_mul_ps(k.q1, _mm512_mul_ps(cb, cr))),
      _mm512_mul_ps(k.q2, _mm512_mul_ps(cr, cr)));
  const __m512 b = _mm512_cvtepi32_ps(byte_lanes<0>(px));
  const __m512 g = _mm512_cvtepi32_ps(byte_lanes<1>(px));
  const __m512 r = _mm512_cvtepi32_ps(byte_lanes<2>(px));
  const __m512 lum = _mm512_add_ps(
      _mm512_add_ps(_mm512_mul_ps(k.lr, _mm512_mul_ps(r, r)), _mm512_mul_ps(k.lg, _mm512_mul_ps(g, g))),
      _mm512_mul_ps(k.lb, _mm512_mul_ps(b, b)));
  const __m512 arg = _mm512_add_ps(lum, q);
  const __mmask16 root = _mm512_cmp_ps_mask(arg, zero, _CMP_GE_OQ);  // else no root: black
  __m512 yv = _mm512_maskz_sub_ps(root, _mm512_sqrt_ps(_mm512_max_ps(arg, zero)), kd);
  yv = _mm512_min_ps(_mm512_max_ps(yv, zero), _mm512_set1_ps(1.0f));
  return _mm512_cvttps_epi32(_mm512_add_ps(_mm512_mul_ps(yv, k.scale), k.add));
}

// Improved NV12 luma of row y, 32 pixels (16 chroma columns) per step: the
// even pixels take the chroma columns as they are, the odd ones the
// midpoints.
void improved_nv12(const ConvertFrame& f, int32_t y, float* cv) {
  chroma_row(f, y, cv);
  const uint8_t* src = f.src + size_t(y) * f.src_stride;
  uint8_t* dst = f.plane[0] + size_t(y) * f.linesize[0];
  const float* cbv = cv;
  const float* crv = cv + f.cv_plane;
  const ImprovedConstants k = improved_constants(f);
  const Lanes l = lanes();
  const __m512 half = _mm512_set1_ps(0.5f);
  int32_t x = 0;
  // The step reads chroma columns h .. h + 16; column chroma_w is the repeat.
  for (; x + 32 <= f.width && (x >> 1) + 16 <= f.chroma_w; x += 32) {
    const int32_t h = x >> 1;
    const __m512 cbe = _mm512_loadu_ps(cbv + h), cre = _mm512_loadu_ps(crv + h);
    const __m512 cbo = _mm512_add_ps(_mm512_mul_ps(half, cbe), _mm512_mul_ps(half, _mm512_loadu_ps(cbv + h + 1)));
    const __m512 cro = _mm512_add_ps(_mm512_mul_ps(half, cre), _mm512_mul_ps(half, _mm512_loadu_ps(crv + h + 1)));
    const __m512i p0 = _mm512_loadu_si512(src + size_t(x) * 4), p1 = _mm512_loadu_si512(src + size_t(x) * 4 + 64);
    const __m512i ye = improved_codes(_mm512_permutex2var_epi32(p0, l.even, p1), cbe, cre, k);
    const __m512i yo = improved_codes(_mm512_permutex2var_epi32(p0, l.odd, p1), cbo, cro, k);
    // Lane i of ye is pixel 2i, of yo pixel 2i + 1.
    store_bytes(dst + x, _mm512_permutex2var_epi32(ye, l.cb_cr_lo, yo), _mm512_permutex2var_epi32(ye, l.cb_cr_hi, yo));
  }
  if (x < f.width) improved_luma_portable(f, y, cv, x);
}

}  // namespace

void improved_luma_row_avx512(const ConvertFrame& f, int32_t y, float* cv) {
  if (f.out == ConvertOut::kNv12)
    improved_nv12(f, y, cv);
  else
    improved_luma_row_avx2(f, y, cv);
}

void convert_pair_avx512(const ConvertFrame& f, int32_t cy, bool with_luma) {
  if (f.out == ConvertOut::kNv12)
    nv12_pair(f, cy, with_luma);
  else
    convert_pair_avx2(f, cy, with_luma);
}

#else

void convert_pair_avx512(const ConvertFrame& f, int32_t cy, bool with_luma) { convert_pair_avx2(f, cy, with_luma); }
void improved_luma_row_avx512(const ConvertFrame& f, int32_t y, float* cv) { improved_luma_row_avx2(f, y, cv); }

#endif
