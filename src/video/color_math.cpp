#include "video/color_math.h"

#include <cmath>
#include <cstring>

float srgb_decode(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

float srgb_encode(float v) { return v < 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }

uint8_t srgb_encode_code_reference(float v) {
  float e = srgb_encode(v);
  return unorm8(e);
}

namespace {

struct Tables {
  float plain[256];
  float srgb[256];
  float pow2[16];

  Tables() {
    for (int i = 0; i < 256; ++i) {
      plain[i] = unorm8_load(static_cast<uint8_t>(i));
      srgb[i] = srgb_decode(static_cast<float>(i) / 255.0f);
    }
    for (int i = 0; i < 16; ++i) pow2[i] = i < 10 ? static_cast<float>(std::exp2((i - 9) * 5.0 / 12.0)) : 0.0f;
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

}  // namespace

const float* unorm8_table(bool srgb) { return srgb ? tables().srgb : tables().plain; }
const float* srgb_pow2_table() { return tables().pow2; }

uint8_t srgb_encode_code(float v) {
  v = v > 0.0f ? v : 0.0f;
  v = v < 1.0f ? v : 1.0f;
  // v^(1/2.4) = m^(5/12) * 2^(5k/12) for v = m * 2^k, m in [1, 2).
  float w = v > 0.0031308f ? v : 0.0031308f;
  uint32_t bits;
  std::memcpy(&bits, &w, 4);
  int32_t k = static_cast<int32_t>(bits >> 23) - 127;
  uint32_t mbits = (bits & 0x007fffffu) | 0x3f800000u;
  float m;
  std::memcpy(&m, &mbits, 4);
  float t = m - 1.5f;
  const float* c = kSrgbPowCoef;
  float p = c[7];
  for (int i = 6; i >= 0; --i) p = p * t + c[i];
  p = p * tables().pow2[k + 9];
  float e = v < 0.0031308f ? 12.92f * v : 1.055f * p - 0.055f;
  e = e > 0.0f ? e : 0.0f;
  e = e < 1.0f ? e : 1.0f;
  return static_cast<uint8_t>(e * 255.0f + 0.5f);
}
