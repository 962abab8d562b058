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

constexpr int kBuckets = kSrgbBuckets;

struct Tables {
  float plain[256];
  float srgb[256];
  // thresholds[k]: the smallest float whose code is at least k (k = 1..255).
  float thresholds[257];
  int32_t bucket_code[kBuckets + 1];

  Tables() {
    for (int i = 0; i < 256; ++i) {
      plain[i] = unorm8_load(static_cast<uint8_t>(i));
      srgb[i] = srgb_decode(static_cast<float>(i) / 255.0f);
    }
    // Codes grow with the value, so each threshold is found by bisection over
    // the ordered bit patterns of the non-negative floats.
    thresholds[0] = -INFINITY;
    for (int k = 1; k <= 255; ++k) {
      uint32_t lo = 0, hi = 0x3f800000u;  // code(0) = 0 < k <= code(1.0f) = 255
      while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        float f;
        std::memcpy(&f, &mid, 4);
        if (srgb_encode_code_reference(f) >= k)
          hi = mid;
        else
          lo = mid + 1;
      }
      std::memcpy(&thresholds[k], &lo, 4);
    }
    thresholds[256] = INFINITY;
    for (int b = 0; b <= kBuckets; ++b) bucket_code[b] = srgb_encode_code_reference(static_cast<float>(b) / kBuckets);
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

}  // namespace

const float* unorm8_table(bool srgb) { return srgb ? tables().srgb : tables().plain; }

uint8_t srgb_encode_code(float v) {
  const Tables& t = tables();
  if (!(v > 0.0f)) return 0;  // negatives and NaN
  if (v >= 1.0f) return 255;
  int code = t.bucket_code[static_cast<int>(v * kBuckets)];
  code += v >= t.thresholds[code + 1];
  return static_cast<uint8_t>(code);
}

const int32_t* srgb_bucket_table() { return tables().bucket_code; }
const float* srgb_threshold_table() { return tables().thresholds; }
