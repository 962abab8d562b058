#pragma once
// Transfer curves and fixed-point writes shared by the scaling and conversion
// kernels. Every kernel variant uses these, so all of them agree bit for bit.
#include <cstdint>

// sRGB transfer curve, encoded -> linear and linear -> encoded.
float srgb_decode(float v);
float srgb_encode(float v);

// 256 floats: the linear-light value a load of each 8-bit code through an
// sRGB view gives.
const float* srgb_decode_table();

// The 8-bit code an sRGB-encoding store of a linear value gives: clamp to
// 0..1 (NaN -> 0), encode with the sRGB curve, clamp, then e * 255 + 0.5
// truncated. The curve is evaluated in double precision, which gives the
// exact code for every float; srgb_code_table() holds the result so the
// store is two table reads, and every kernel reads the same table.
uint8_t srgb_encode_code(float v);
// The same with the library's single-precision pow, for tests.
uint8_t srgb_encode_code_reference(float v);

// The code of v in 0..1 as a function of its float bits: it rises by one at
// each threshold, and never twice within one bucket of 2^16 consecutive
// float bit patterns (the curve's slope is below one code per bucket), so a
// bucket needs its starting code and the position of at most one step.
// Bucket 0 also takes every value below 2^-13 (all code 0) and the last
// bucket is 1.0 alone.
inline constexpr int32_t kSrgbBucketShift = 16;
inline constexpr int32_t kSrgbBucketOrigin = 0x39000000 >> kSrgbBucketShift;  // bits of 2^-13
inline constexpr int32_t kSrgbBuckets = (0x3f800000 >> kSrgbBucketShift) - kSrgbBucketOrigin + 1;
struct SrgbCodeTable {
  // Per bucket: starting code << 17 | low 16 bits of the first float bit
  // pattern with the next code, or 1 << 16 when the bucket has no step.
  int32_t entry[kSrgbBuckets];
  // threshold[c]: the smallest float whose code is at least c (c = 1..255).
  float threshold[256];
  // Construction found at most one step per bucket and none in bucket 0.
  bool exact;
};
const SrgbCodeTable& srgb_code_table();

// A typed write of v to an 8- or 16-bit UNORM texel: clamp to 0..1 with NaN
// giving 0, scale, round half up.
inline uint8_t unorm8(float v) {
  v = v > 0.0f ? v : 0.0f;  // NaN compares false and becomes 0
  v = v < 1.0f ? v : 1.0f;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}
inline uint16_t unorm16(float v) {
  v = v > 0.0f ? v : 0.0f;
  v = v < 1.0f ? v : 1.0f;
  return static_cast<uint16_t>(v * 65535.0f + 0.5f);
}

// Limited-range coding of full-range Y' (0..1) and Cb/Cr (-0.5..0.5).
inline float luma_code(float y) { return y * (219.0f / 255.0f) + (16.0f / 255.0f); }
inline float chroma_code(float c) { return c * (224.0f / 255.0f) + (128.0f / 255.0f); }
inline float chroma_decode(float c) { return (c - 128.0f / 255.0f) * (255.0f / 224.0f); }
