// AVX-512 form of the single conversion into NV12 (the default output): 32
// pixels of a row pair (16 chroma samples) per step, in the AVX2 kernel's
// order of operations, so every path writes the same values. Other outputs
// and the improved conversion's chroma pass take the AVX2 kernel, which also
// finishes each row. Only called after the CPU check in kernels_use_avx512;
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
    store_bytes(uv + 2 * x, _mm512_permutex2var_epi32(cb, l.cb_cr_lo, cr), _mm512_permutex2var_epi32(cb, l.cb_cr_hi, cr));
  }
  if (with_luma || x < f.chroma_w) convert_pair_avx2_from(f, cy, with_luma, x);
}

}  // namespace

void convert_pair_avx512(const ConvertFrame& f, int32_t cy, bool with_luma) {
  if (f.out == ConvertOut::kNv12 && !f.scratch)
    nv12_pair(f, cy, with_luma);
  else
    convert_pair_avx2(f, cy, with_luma);
}

#else

void convert_pair_avx512(const ConvertFrame& f, int32_t cy, bool with_luma) { convert_pair_avx2(f, cy, with_luma); }

#endif
