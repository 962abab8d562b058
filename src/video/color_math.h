#pragma once
// Transfer curves and fixed-point writes shared by the scaling and conversion
// kernels. Every kernel variant uses these, so all of them agree bit for bit.
#include <cstdint>

// sRGB transfer curve, encoded -> linear and linear -> encoded.
float srgb_decode(float v);
float srgb_encode(float v);

// 256 floats: the value a UNORM load of each 8-bit code gives, through a plain
// view (code times 1/255) or through an sRGB view (linear light).
const float* unorm8_table(bool srgb);
inline float unorm8_load(uint8_t c) { return static_cast<float>(c) * (1.0f / 255.0f); }

// The 8-bit code an sRGB-encoding store of a linear value gives: encode,
// clamp to 0..1 (NaN -> 0), then v * 255 + 0.5 truncated. Fast and exact
// (equal to the direct formula for every float).
uint8_t srgb_encode_code(float v);
// The direct formula, for tests.
uint8_t srgb_encode_code_reference(float v);
// The tables behind srgb_encode_code: the code at the start of each of the
// kSrgbBuckets + 1 buckets of 0..1, and thresholds[k], the smallest value
// whose code is at least k (k = 1..255; [0] = -inf, [256] = +inf). No bucket
// holds more than one threshold, so one comparison finishes the lookup.
inline constexpr int kSrgbBuckets = 4096;
const int32_t* srgb_bucket_table();
const float* srgb_threshold_table();

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
