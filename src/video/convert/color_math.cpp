#include "video/convert/color_math.h"

#include <cmath>
#include <cstring>

float srgb_decode(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

float srgb_encode(float v) { return v < 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f; }

uint8_t srgb_encode_code_reference(float v) {
  float e = srgb_encode(v);
  return unorm8(e);
}

namespace {

float float_of(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

// The code of a float in 0..1 with the curve in double precision. It never
// falls as v rises (each step rounds monotonically, and pow's error is far
// below the gap between the results for neighbouring floats), so each code's
// first float can be found by bisection.
int exact_code(float v) {
  double x = v;
  double e = x < 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
  e = e > 0.0 ? e : 0.0;
  e = e < 1.0 ? e : 1.0;
  return static_cast<int>(std::floor(e * 255.0 + 0.5));
}

struct Tables {
  float srgb[256];
  SrgbCodeTable code;

  [[gnu::noinline]] Tables() {
    for (int i = 0; i < 256; ++i) {
      srgb[i] = srgb_decode(static_cast<float>(i) / 255.0f);
    }
    build_code_table();
  }

  void build_code_table() {
    constexpr uint32_t kOne = 0x3f800000u;
    uint32_t first[256];  // bit pattern of threshold[c]
    first[0] = 0;
    code.threshold[0] = 0.0f;
    for (int c = 1; c < 256; ++c) {
      uint32_t lo = first[c - 1], hi = kOne;  // exact_code(1.0) is 255
      while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        if (exact_code(float_of(mid)) >= c)
          hi = mid;
        else
          lo = mid + 1;
      }
      first[c] = lo;
      code.threshold[c] = float_of(lo);
    }
    code.exact = true;
    int c = 0;  // codes whose threshold lies at or below the bucket's start
    for (int32_t b = 0; b < kSrgbBuckets; ++b) {
      uint32_t start = b == 0 ? 0u : uint32_t(kSrgbBucketOrigin + b) << kSrgbBucketShift;
      uint32_t end = b + 1 == kSrgbBuckets ? kOne : start | ((1u << kSrgbBucketShift) - 1);
      if (b == 0) end = (uint32_t(kSrgbBucketOrigin + 1) << kSrgbBucketShift) - 1;
      while (c < 255 && first[c + 1] <= start) ++c;
      int inside = 0;
      while (c + inside < 255 && first[c + inside + 1] <= end) ++inside;
      int32_t step = 1 << 16;
      if (inside == 1) step = static_cast<int32_t>(first[c + 1] & 0xffffu);
      // Bucket 0 compares the low bits of values below 2^-13 too, so it must
      // have no step; elsewhere one step at most.
      if (inside > 1 || (b == 0 && inside > 0)) code.exact = false;
      code.entry[b] = (c << 17) | step;
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

}  // namespace

const float* srgb_decode_table() { return tables().srgb; }
const SrgbCodeTable& srgb_code_table() { return tables().code; }

uint8_t srgb_encode_code(float v) {
  v = v > 0.0f ? v : 0.0f;  // NaN compares false and becomes 0
  v = v < 1.0f ? v : 1.0f;
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  int32_t b = static_cast<int32_t>(bits >> kSrgbBucketShift) - kSrgbBucketOrigin;
  int32_t e = tables().code.entry[b > 0 ? b : 0];
  return static_cast<uint8_t>((e >> 17) + (static_cast<int32_t>(bits & 0xffffu) >= (e & 0x1ffff)));
}
