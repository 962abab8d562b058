// AVX2 conversion kernels: 16 pixels of a row pair (8 chroma samples) per
// step; the portable kernels finish each row. Only called after the CPU
// check; every helper here stays file-local (see resize_kernels_avx2.cpp).
#include "video/convert/kernels.h"

#if defined(__x86_64__)
#pragma GCC target("avx2")
#include <immintrin.h>

namespace {

inline __m256 chroma_decode(__m256 c) {
  return _mm256_mul_ps(_mm256_sub_ps(c, _mm256_set1_ps(128.0f / 255.0f)), _mm256_set1_ps(255.0f / 224.0f));
}

// Two vectors of 8 32-bit values (0..65535) as 16 ordered 16-bit values.
inline __m256i pack16(__m256i a, __m256i b) { return _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8); }
// 16 ordered 16-bit values (0..255) as 16 bytes.
inline __m128i pack8(__m256i v16) {
  __m256i b = _mm256_packus_epi16(v16, _mm256_setzero_si256());
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(b, 0x08));
}

// Byte c of each 32-bit pixel as a 32-bit lane.
template <int kC>
inline __m256i byte_lanes(__m256i px) {
  constexpr char z = char(0x80);
  return _mm256_shuffle_epi8(px, _mm256_setr_epi8(kC, z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z, kC,
                                                  z, z, z, 4 + kC, z, z, z, 8 + kC, z, z, z, 12 + kC, z, z, z));
}

struct Pixels {
  __m256i b, g, r;
  explicit Pixels(__m256i px) : b(byte_lanes<0>(px)), g(byte_lanes<1>(px)), r(byte_lanes<2>(px)) {}
};

// (k0 R + k1 G) + k2 B + add, truncated: the folded write of the portable code.
inline __m256i folded(__m256 r, __m256 g, __m256 b, const float* k, __m256 add) {
  __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(k[0]), r), _mm256_mul_ps(_mm256_set1_ps(k[1]), g));
  v = _mm256_add_ps(v, _mm256_mul_ps(_mm256_set1_ps(k[2]), b));
  return _mm256_cvttps_epi32(_mm256_add_ps(v, add));
}

inline __m256i luma8(const Pixels& p, const ConvertFrame& f, __m256 add) {
  return folded(_mm256_cvtepi32_ps(p.r), _mm256_cvtepi32_ps(p.g), _mm256_cvtepi32_ps(p.b), f.y_k, add);
}

// Even and odd lanes of two vectors of 8: [p0 p2 p4 p6 q0 q2 q4 q6] and [p1 ...].
inline __m256i evens(__m256i p, __m256i q) {
  __m256 s = _mm256_shuffle_ps(_mm256_castsi256_ps(p), _mm256_castsi256_ps(q), _MM_SHUFFLE(2, 0, 2, 0));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(s), 0xD8);
}
inline __m256i odds(__m256i p, __m256i q) {
  __m256 s = _mm256_shuffle_ps(_mm256_castsi256_ps(p), _mm256_castsi256_ps(q), _MM_SHUFFLE(3, 1, 3, 1));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(s), 0xD8);
}

// 8 times the filtered value of one channel for 8 chroma samples, from the
// column sums of 16 pixels (s0: pixels 0-7, s1: 8-15); carry holds the
// column before the first, and is replaced by the last odd column.
inline __m256 filtered(__m256i s0, __m256i s1, __m256i& carry) {
  const __m256i e = evens(s0, s1), o = odds(s0, s1);
  const __m256i prev =
      _mm256_blend_epi32(_mm256_permutevar8x32_epi32(o, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6)), carry, 0x01);
  carry = _mm256_permutevar8x32_epi32(o, _mm256_set1_epi32(7));
  return _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_add_epi32(prev, _mm256_add_epi32(e, e)), o));
}

template <ConvertOut kOut>
inline void store_luma16(uint8_t* dst, __m256i a, __m256i b, int shift) {
  constexpr bool kWide = kOut == ConvertOut::kP010 || kOut == ConvertOut::kPlanar10;
  if constexpr (kOut == ConvertOut::kPlanar10) {
    a = _mm256_srli_epi32(a, 6);
    b = _mm256_srli_epi32(b, 6);
  }
  __m256i v = pack16(a, b);
  if constexpr (kWide)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), v);
  else
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), pack8(v));
}

template <ConvertOut kOut>
void pair(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from) {
  constexpr bool kWide = kOut == ConvertOut::kP010 || kOut == ConvertOut::kPlanar10;
  constexpr bool kPlanar = kOut == ConvertOut::kPlanar8 || kOut == ConvertOut::kPlanar10;
  constexpr int kBytes = kWide ? 2 : 1;
  const int32_t r0 = 2 * cy < f.height ? 2 * cy : f.height - 1;
  const int32_t r1 = 2 * cy + 1 < f.height ? 2 * cy + 1 : f.height - 1;
  const bool second_row = 2 * cy + 1 < f.height;
  const uint8_t* a = f.src + size_t(r0) * f.src_stride;
  const uint8_t* b = f.src + size_t(r1) * f.src_stride;
  uint8_t* y0 = f.plane[0] + size_t(r0) * f.linesize[0];
  uint8_t* y1 = f.plane[0] + size_t(r1) * f.linesize[0];
  uint8_t* uv = f.plane[1] + size_t(cy) * f.linesize[1];
  uint8_t* vp = kPlanar ? f.plane[2] + size_t(cy) * f.linesize[2] : nullptr;
  uint16_t* scratch = f.scratch ? f.scratch + size_t(cy) * f.scratch_stride : nullptr;
  const __m256 y_add = _mm256_set1_ps(f.y_add), c_add = _mm256_set1_ps(f.c_add);
  // Column 2x - 1 of the first sample: column -1 is column 0.
  const int32_t left = x_from > 0 ? (2 * x_from - 1) * 4 : 0;
  __m256i carry_b = _mm256_set1_epi32(int(a[left + 0]) + int(b[left + 0]));
  __m256i carry_g = _mm256_set1_epi32(int(a[left + 1]) + int(b[left + 1]));
  __m256i carry_r = _mm256_set1_epi32(int(a[left + 2]) + int(b[left + 2]));

  int32_t x = x_from;  // chroma column; the step covers pixels 2x .. 2x + 15
  for (; 2 * x + 16 <= f.width; x += 8) {
    const int32_t px = 2 * x;
    const Pixels a0(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + px * 4)));
    const Pixels a1(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + px * 4 + 32)));
    const Pixels b0(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + px * 4)));
    const Pixels b1(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + px * 4 + 32)));
    if (with_luma) {
      store_luma16<kOut>(y0 + px * kBytes, luma8(a0, f, y_add), luma8(a1, f, y_add), f.shift);
      if (second_row) store_luma16<kOut>(y1 + px * kBytes, luma8(b0, f, y_add), luma8(b1, f, y_add), f.shift);
    }
    const __m256 tb = filtered(_mm256_add_epi32(a0.b, b0.b), _mm256_add_epi32(a1.b, b1.b), carry_b);
    const __m256 tg = filtered(_mm256_add_epi32(a0.g, b0.g), _mm256_add_epi32(a1.g, b1.g), carry_g);
    const __m256 tr = filtered(_mm256_add_epi32(a0.r, b0.r), _mm256_add_epi32(a1.r, b1.r), carry_r);
    const __m256i cb = folded(tr, tg, tb, f.cb_k, c_add), cr = folded(tr, tg, tb, f.cr_k, c_add);
    // unpack gives [x0 x1 | x4 x5] and [x2 x3 | x6 x7]; packus keeps the
    // 128-bit lanes, so the pairs come out in order.
    __m256i pairs = _mm256_packus_epi32(_mm256_unpacklo_epi32(cb, cr), _mm256_unpackhi_epi32(cb, cr));
    if constexpr (kPlanar) {
      __m256i ucb = cb, ucr = cr;
      if constexpr (kOut == ConvertOut::kPlanar10) {
        ucb = _mm256_srli_epi32(ucb, 6);
        ucr = _mm256_srli_epi32(ucr, 6);
      }
      __m256i both = pack16(ucb, ucr);  // Cb x0..x7, Cr x0..x7
      if constexpr (kWide) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(uv + x * 2), _mm256_castsi256_si128(both));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(vp + x * 2), _mm256_extracti128_si256(both, 1));
      } else {
        __m128i bytes = pack8(both);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(uv + x), bytes);
        _mm_storeh_pd(reinterpret_cast<double*>(vp + x), _mm_castsi128_pd(bytes));
      }
    } else if constexpr (kWide) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(uv + 2 * x * 2), pairs);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(uv + 2 * x), pack8(pairs));
    }
    if (scratch) _mm256_storeu_si256(reinterpret_cast<__m256i*>(scratch + 2 * x), pairs);
  }
  if (with_luma || x < f.chroma_w) convert_pair_portable(f, cy, with_luma, x);
}

// The vertically interpolated, decoded chroma of row y (see the portable
// version): 8 chroma columns per step.
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
  const __m256 scale = _mm256_set1_ps(f.scratch_scale), vwa = _mm256_set1_ps(wa), vwb = _mm256_set1_ps(wb);
  const __m256i low = _mm256_set1_epi32(0xffff);
  auto mix = [&](__m256i a, __m256i b) {
    __m256 va = _mm256_mul_ps(_mm256_cvtepi32_ps(a), scale), vb = _mm256_mul_ps(_mm256_cvtepi32_ps(b), scale);
    return chroma_decode(_mm256_add_ps(_mm256_mul_ps(vwa, va), _mm256_mul_ps(vwb, vb)));
  };
  int32_t i = 0;
  for (; i + 8 <= f.chroma_w; i += 8) {
    // Eight (Cb, Cr) pairs: Cb in the low, Cr in the high half of each lane.
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ra + 2 * i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rb + 2 * i));
    _mm256_storeu_ps(cbv + i, mix(_mm256_and_si256(a, low), _mm256_and_si256(b, low)));
    _mm256_storeu_ps(crv + i, mix(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(b, 16)));
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
  __m256 k0, k1, q0, q1, q2, lr, lg, lb, scale, add;
  explicit ImprovedConstants(const ConvertFrame& f)
      : k0(_mm256_set1_ps(f.kd_k[0])), k1(_mm256_set1_ps(f.kd_k[1])), q0(_mm256_set1_ps(f.q_k[0])),
        q1(_mm256_set1_ps(f.q_k[1])), q2(_mm256_set1_ps(f.q_k[2])), lr(_mm256_set1_ps(f.lum_k[0])),
        lg(_mm256_set1_ps(f.lum_k[1])), lb(_mm256_set1_ps(f.lum_k[2])), scale(_mm256_set1_ps(f.iy_scale)),
        add(_mm256_set1_ps(f.iy_add)) {}
};

// Improved luma codes of 8 pixels (32-bit lanes) sharing the chroma (cb, cr)
// lane by lane, in the portable code's order of operations.
inline __m256i improved_codes(__m256i px, __m256 cb, __m256 cr, const ImprovedConstants& k) {
  const __m256 zero = _mm256_setzero_ps();
  const __m256 kd = _mm256_add_ps(_mm256_mul_ps(k.k0, cb), _mm256_mul_ps(k.k1, cr));
  const __m256 q = _mm256_add_ps(
      _mm256_add_ps(_mm256_mul_ps(k.q0, _mm256_mul_ps(cb, cb)), _mm256_mul_ps(k.q1, _mm256_mul_ps(cb, cr))),
      _mm256_mul_ps(k.q2, _mm256_mul_ps(cr, cr)));
  const __m256 b = _mm256_cvtepi32_ps(byte_lanes<0>(px));
  const __m256 g = _mm256_cvtepi32_ps(byte_lanes<1>(px));
  const __m256 r = _mm256_cvtepi32_ps(byte_lanes<2>(px));
  const __m256 lum = _mm256_add_ps(
      _mm256_add_ps(_mm256_mul_ps(k.lr, _mm256_mul_ps(r, r)), _mm256_mul_ps(k.lg, _mm256_mul_ps(g, g))),
      _mm256_mul_ps(k.lb, _mm256_mul_ps(b, b)));
  const __m256 arg = _mm256_add_ps(lum, q);
  __m256 yv = _mm256_sub_ps(_mm256_sqrt_ps(_mm256_max_ps(arg, zero)), kd);
  yv = _mm256_and_ps(_mm256_cmp_ps(arg, zero, _CMP_GE_OQ), yv);  // no root: black
  yv = _mm256_min_ps(_mm256_max_ps(yv, zero), _mm256_set1_ps(1.0f));
  return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(yv, k.scale), k.add));
}

// Improved luma of row y, 16 pixels (8 chroma columns) per step: the even
// pixels take the chroma columns as they are, the odd ones the midpoints.
template <ConvertOut kOut>
void improved(const ConvertFrame& f, int32_t y, float* cv) {
  constexpr bool kWide = kOut == ConvertOut::kP010 || kOut == ConvertOut::kPlanar10;
  chroma_row(f, y, cv);
  const uint8_t* src = f.src + size_t(y) * f.src_stride;
  uint8_t* dst = f.plane[0] + size_t(y) * f.linesize[0];
  const float* cbv = cv;
  const float* crv = cv + f.cv_plane;
  const ImprovedConstants k(f);
  const __m256 half = _mm256_set1_ps(0.5f);
  int32_t x = 0;
  // The step reads chroma columns h .. h + 8; column chroma_w is the repeat.
  for (; x + 16 <= f.width && (x >> 1) + 8 <= f.chroma_w; x += 16) {
    const int32_t h = x >> 1;
    const __m256 cbe = _mm256_loadu_ps(cbv + h), cre = _mm256_loadu_ps(crv + h);
    const __m256 cbo = _mm256_add_ps(_mm256_mul_ps(half, cbe), _mm256_mul_ps(half, _mm256_loadu_ps(cbv + h + 1)));
    const __m256 cro = _mm256_add_ps(_mm256_mul_ps(half, cre), _mm256_mul_ps(half, _mm256_loadu_ps(crv + h + 1)));
    const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + size_t(x) * 4));
    const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + size_t(x) * 4 + 32));
    __m256i ye = improved_codes(evens(p0, p1), cbe, cre, k);
    __m256i yo = improved_codes(odds(p0, p1), cbo, cro, k);
    if constexpr (kOut == ConvertOut::kPlanar10) {
      ye = _mm256_srli_epi32(ye, 6);
      yo = _mm256_srli_epi32(yo, 6);
    }
    // Lane k of ye is pixel 2k, of yo pixel 2k + 1: interleaving within the
    // 128-bit halves and packing puts all 16 in order.
    const __m256i v16 = _mm256_packus_epi32(_mm256_unpacklo_epi32(ye, yo), _mm256_unpackhi_epi32(ye, yo));
    if constexpr (kWide)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + size_t(x) * 2), v16);
    else
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), pack8(v16));
  }
  if (x < f.width) improved_luma_portable(f, y, cv, x);
}

}  // namespace

void convert_pair_avx2_from(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from) {
  switch (f.out) {
    case ConvertOut::kNv12: return pair<ConvertOut::kNv12>(f, cy, with_luma, x_from);
    case ConvertOut::kP010: return pair<ConvertOut::kP010>(f, cy, with_luma, x_from);
    case ConvertOut::kPlanar8: return pair<ConvertOut::kPlanar8>(f, cy, with_luma, x_from);
    case ConvertOut::kPlanar10: return pair<ConvertOut::kPlanar10>(f, cy, with_luma, x_from);
  }
}

void convert_pair_avx2(const ConvertFrame& f, int32_t cy, bool with_luma) { convert_pair_avx2_from(f, cy, with_luma, 0); }

void improved_luma_row_avx2(const ConvertFrame& f, int32_t y, float* cv) {
  switch (f.out) {
    case ConvertOut::kNv12: return improved<ConvertOut::kNv12>(f, y, cv);
    case ConvertOut::kP010: return improved<ConvertOut::kP010>(f, y, cv);
    case ConvertOut::kPlanar8: return improved<ConvertOut::kPlanar8>(f, y, cv);
    case ConvertOut::kPlanar10: return improved<ConvertOut::kPlanar10>(f, y, cv);
  }
}

#else

void convert_pair_avx2(const ConvertFrame& f, int32_t cy, bool with_luma) { convert_pair_portable(f, cy, with_luma, 0); }
void convert_pair_avx2_from(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from) {
  convert_pair_portable(f, cy, with_luma, x_from);
}
void improved_luma_row_avx2(const ConvertFrame& f, int32_t y, float* cv) {
  improved_chroma_row_portable(f, y, cv);
  improved_luma_portable(f, y, cv, 0);
}

#endif
