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

// The 8-bit code an sRGB-encoding store of a linear value gives: clamp to
// 0..1 (NaN -> 0), encode, then v * 255 + 0.5 truncated. The power is
// evaluated as 2^(5k/12) from a table times a degree-7 polynomial of the
// mantissa (relative error below 1e-7), in an order the vector kernels
// repeat exactly, so every path gives the same code.
uint8_t srgb_encode_code(float v);
// The same with the library's pow, for tests.
uint8_t srgb_encode_code_reference(float v);

// The pieces of srgb_encode_code shared with the vector kernels.
inline constexpr float kSrgbPowCoef[8] = {1.18405361f,    0.32890376f,    -0.0639566782f, 0.0225039502f,
                                          -0.00962596732f, 0.00459364891f, -0.00274339716f, 0.00147123238f};
// 2^(5k/12) for the binary exponents k = -9 .. 0 of the values the power
// branch sees (0.0031308 .. 1), at index k + 9; zero padded to 16.
const float* srgb_pow2_table();

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
