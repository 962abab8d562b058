// Portable conversion kernels.
#include <algorithm>
#include <cmath>
#include <type_traits>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"

namespace {

template <ConvertOut kOut>
struct Writer {
  static constexpr bool kWide = kOut == ConvertOut::kP010 || kOut == ConvertOut::kPlanar10;
  static constexpr bool kPlanar = kOut == ConvertOut::kPlanar8 || kOut == ConvertOut::kPlanar10;
  using T = std::conditional_t<kWide, uint16_t, uint8_t>;
  static T value(float code) {
    if constexpr (!kWide)
      return unorm8(code);
    else if constexpr (kOut == ConvertOut::kP010)
      return unorm16(code);
    else
      return static_cast<uint16_t>(unorm16(code) >> 6);
  }
};

template <ConvertOut kOut>
void luma_pixels(const ConvertFrame& f, int32_t row, int32_t x_from) {
  using T = typename Writer<kOut>::T;
  const uint8_t* src = f.src + size_t(row) * f.src_stride;
  T* dst = reinterpret_cast<T*>(f.plane[0] + size_t(row) * f.linesize[0]);
  for (int32_t x = x_from; x < f.width; ++x) {
    float b = src[x * 4 + 0], g = src[x * 4 + 1], r = src[x * 4 + 2];
    int32_t v = static_cast<int32_t>(f.y_k[0] * r + f.y_k[1] * g + f.y_k[2] * b + f.y_add);
    dst[x] = static_cast<T>(v >> f.shift);
  }
}

template <ConvertOut kOut>
void pair(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from) {
  using W = Writer<kOut>;
  using T = typename W::T;
  const int32_t r0 = std::min(2 * cy, f.height - 1), r1 = std::min(2 * cy + 1, f.height - 1);
  const uint8_t* a = f.src + size_t(r0) * f.src_stride;
  const uint8_t* b = f.src + size_t(r1) * f.src_stride;
  T* uv = reinterpret_cast<T*>(f.plane[1] + size_t(cy) * f.linesize[1]);
  T* v_plane = W::kPlanar ? reinterpret_cast<T*>(f.plane[2] + size_t(cy) * f.linesize[2]) : nullptr;
  uint16_t* scratch = f.scratch ? f.scratch + size_t(cy) * f.scratch_stride : nullptr;
  const int32_t last = f.width - 1;
  for (int32_t x = x_from; x < f.chroma_w; ++x) {
    // Columns 2x - 1, 2x, 2x + 1 with weights 1, 2, 1 (clamped to the
    // picture), summed over both rows: 8 times the filtered value.
    const int32_t cl = std::max(2 * x - 1, 0) * 4, cm = 2 * x * 4, cr = std::min(2 * x + 1, last) * 4;
    int32_t t[3];
    for (int c = 0; c < 3; ++c) t[c] = (a[cl + c] + b[cl + c]) + 2 * (a[cm + c] + b[cm + c]) + (a[cr + c] + b[cr + c]);
    float tb = float(t[0]), tg = float(t[1]), tr = float(t[2]);
    int32_t cb = static_cast<int32_t>(f.cb_k[0] * tr + f.cb_k[1] * tg + f.cb_k[2] * tb + f.c_add);
    int32_t crv = static_cast<int32_t>(f.cr_k[0] * tr + f.cr_k[1] * tg + f.cr_k[2] * tb + f.c_add);
    if constexpr (W::kPlanar) {
      uv[x] = static_cast<T>(cb >> f.shift);
      v_plane[x] = static_cast<T>(crv >> f.shift);
    } else {
      uv[2 * x] = static_cast<T>(cb);
      uv[2 * x + 1] = static_cast<T>(crv);
    }
    if (scratch) {
      scratch[2 * x] = static_cast<uint16_t>(cb);
      scratch[2 * x + 1] = static_cast<uint16_t>(crv);
    }
  }
  if (with_luma) {
    luma_pixels<kOut>(f, 2 * cy, 2 * x_from);
    if (2 * cy + 1 < f.height) luma_pixels<kOut>(f, 2 * cy + 1, 2 * x_from);
  }
}

template <ConvertOut kOut>
void improved_luma(const ConvertFrame& f, int32_t y, const float* cv, int32_t x_from) {
  using T = typename Writer<kOut>::T;
  const uint8_t* src = f.src + size_t(y) * f.src_stride;
  T* dst = reinterpret_cast<T*>(f.plane[0] + size_t(y) * f.linesize[0]);
  const float* cbv = cv;
  const float* crv = cv + f.cv_plane;
  for (int32_t x = x_from; x < f.width; ++x) {
    // Even pixels sit on a chroma column, odd ones halfway to the next.
    const int32_t h = x >> 1;
    float cb = cbv[h], cr = crv[h];
    if (x & 1) {
      cb = 0.5f * cb + 0.5f * cbv[h + 1];
      cr = 0.5f * cr + 0.5f * crv[h + 1];
    }
    const float kd = f.kd_k[0] * cb + f.kd_k[1] * cr;
    const float q = (f.q_k[0] * (cb * cb) + f.q_k[1] * (cb * cr)) + f.q_k[2] * (cr * cr);
    const float b = src[x * 4 + 0], g = src[x * 4 + 1], r = src[x * 4 + 2];
    const float lum = (f.lum_k[0] * (r * r) + f.lum_k[1] * (g * g)) + f.lum_k[2] * (b * b);
    const float arg = lum + q;
    // The root of a negative value is NaN, which the UNORM write saturates
    // to 0: no luma can restore the luminance, and the pixel gets black's code.
    float yv = arg >= 0.0f ? std::sqrt(arg) - kd : 0.0f;
    yv = yv > 0.0f ? yv : 0.0f;
    yv = yv < 1.0f ? yv : 1.0f;
    dst[x] = static_cast<T>(static_cast<int32_t>(yv * f.iy_scale + f.iy_add) >> f.shift);
  }
}

}  // namespace

void convert_pair_portable(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from) {
  switch (f.out) {
    case ConvertOut::kNv12: return pair<ConvertOut::kNv12>(f, cy, with_luma, x_from);
    case ConvertOut::kP010: return pair<ConvertOut::kP010>(f, cy, with_luma, x_from);
    case ConvertOut::kPlanar8: return pair<ConvertOut::kPlanar8>(f, cy, with_luma, x_from);
    case ConvertOut::kPlanar10: return pair<ConvertOut::kPlanar10>(f, cy, with_luma, x_from);
  }
}

// The chroma the decoder interpolates vertically at row y (MPEG-2 siting:
// chroma row j sits between luma rows 2j and 2j + 1), decoded, with the last
// column repeated for the odd pixel at the right edge.
void improved_chroma_row_portable(const ConvertFrame& f, int32_t y, float* cv) {
  const int32_t j = y >> 1;
  int32_t ja, jb;
  float wa, wb;
  if ((y & 1) == 0) {
    ja = std::max(j - 1, 0), jb = j, wa = 0.25f, wb = 0.75f;
  } else {
    ja = j, jb = std::min(j + 1, f.chroma_h - 1), wa = 0.75f, wb = 0.25f;
  }
  const uint16_t* ra = f.scratch + size_t(ja) * f.scratch_stride;
  const uint16_t* rb = f.scratch + size_t(jb) * f.scratch_stride;
  const float scale = f.scratch_scale;
  for (int c = 0; c < 2; ++c) {
    float* out = cv + c * f.cv_plane;
    for (int32_t i = 0; i < f.chroma_w; ++i)
      out[i] = chroma_decode(wa * (float(ra[2 * i + c]) * scale) + wb * (float(rb[2 * i + c]) * scale));
    out[f.chroma_w] = out[f.chroma_w - 1];
  }
}

void improved_luma_portable(const ConvertFrame& f, int32_t y, const float* cv, int32_t x_from) {
  switch (f.out) {
    case ConvertOut::kNv12: return improved_luma<ConvertOut::kNv12>(f, y, cv, x_from);
    case ConvertOut::kP010: return improved_luma<ConvertOut::kP010>(f, y, cv, x_from);
    case ConvertOut::kPlanar8: return improved_luma<ConvertOut::kPlanar8>(f, y, cv, x_from);
    case ConvertOut::kPlanar10: return improved_luma<ConvertOut::kPlanar10>(f, y, cv, x_from);
  }
}
