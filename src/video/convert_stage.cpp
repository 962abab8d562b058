#include "video/convert_stage.h"

#include <algorithm>
#include <cmath>

#include "video/color_math.h"

#define FV_MULTIVERSION __attribute__((target_clones("avx2", "default")))

// Rows 0-2: R'G'B' -> Y', Cb, Cr; rows 3-5: Y'CbCr -> R'G'B'.
const ColorMatrix kMatrixBt601 = {{{0.299f, 0.587f, 0.114f, 0.0f},
                                   {-0.168736f, -0.331264f, 0.5f, 0.0f},
                                   {0.5f, -0.418688f, -0.081312f, 0.0f},
                                   {1.0f, 0.0f, 1.402f, 0.0f},
                                   {1.0f, -0.344136f, -0.714136f, 0.0f},
                                   {1.0f, 1.772f, 0.0f, 0.0f}}};
const ColorMatrix kMatrixBt709 = {{{0.2126f, 0.7152f, 0.0722f, 0.0f},
                                   {-0.1146f, -0.3854f, 0.5f, 0.0f},
                                   {0.5f, -0.4542f, -0.0458f, 0.0f},
                                   {1.0f, 0.0f, 1.5748f, 0.0f},
                                   {1.0f, -0.1873f, -0.4681f, 0.0f},
                                   {1.0f, 1.8556f, 0.0f, 0.0f}}};

namespace {

constexpr uint32_t kMaxDimension = 16384;
// Luminance weights of the improved luma solve, whatever the matrix.
constexpr float kKr = 0.2126f, kKg = 0.7152f, kKb = 0.0722f;

// Where the values go: the format's precision and the memory layout.
enum class Out { kNv12, kP010, kPlanar8, kPlanar10 };

template <Out kOut>
struct Writer {
  using T = std::conditional_t<kOut == Out::kNv12 || kOut == Out::kPlanar8, uint8_t, uint16_t>;
  static T value(float code) {
    if constexpr (kOut == Out::kNv12 || kOut == Out::kPlanar8)
      return unorm8(code);
    else if constexpr (kOut == Out::kP010)
      return unorm16(code);
    else
      return static_cast<uint16_t>(unorm16(code) >> 6);
  }
  // The chroma as the chroma view of the interleaved surface holds it, which
  // is what the improved luma pass samples.
  static uint16_t view_code(float code) {
    if constexpr (kOut == Out::kNv12 || kOut == Out::kPlanar8)
      return unorm8(code);
    else
      return unorm16(code);
  }
  static constexpr float kViewScale =
      (kOut == Out::kNv12 || kOut == Out::kPlanar8) ? 1.0f / 255.0f : 1.0f / 65535.0f;
  static constexpr bool kPlanar = kOut == Out::kPlanar8 || kOut == Out::kPlanar10;
};

struct Frame {
  const uint8_t* src;
  int32_t src_stride;
  int32_t width, height;         // picture and luma plane
  int32_t chroma_w, chroma_h;    // ceil of half
  uint8_t* plane[3];
  int32_t linesize[3];
  uint16_t* scratch;             // improved: interleaved Cb, Cr codes
  int32_t scratch_stride;        // in elements
  float y_coef[3];               // row 0 over 255 (source bytes in)
  float cb_coef[3], cr_coef[3];  // rows 1, 2 over 8 * 255 (weighted column sums in)
  float inv[3][2];               // rows 3-5, Cb and Cr columns
};

// Y' of each pixel of one source row, written to one luma row.
template <Out kOut>
FV_MULTIVERSION void luma_row(const Frame& f, const uint8_t* src, typename Writer<kOut>::T* dst) {
  const float c0 = f.y_coef[0], c1 = f.y_coef[1], c2 = f.y_coef[2];
  for (int32_t x = 0; x < f.width; ++x) {
    float b = src[x * 4 + 0], g = src[x * 4 + 1], r = src[x * 4 + 2];
    dst[x] = Writer<kOut>::value(luma_code(c0 * r + c1 * g + c2 * b));
  }
}

// The chroma of one row pair: weights 1/4, 1/2, 1/4 over columns 2x - 1,
// 2x, 2x + 1 (clamped) and 1/2, 1/2 over the two rows, from the column sums
// `sum` (3 channels per column, with one clamped column before and after).
template <Out kOut>
FV_MULTIVERSION void chroma_row(const Frame& f, const int32_t* sum, int32_t cy) {
  using W = Writer<kOut>;
  using T = typename W::T;
  T* uv = reinterpret_cast<T*>(f.plane[1] + size_t(cy) * f.linesize[1]);
  T* v_plane = W::kPlanar ? reinterpret_cast<T*>(f.plane[2] + size_t(cy) * f.linesize[2]) : nullptr;
  uint16_t* scratch = f.scratch ? f.scratch + size_t(cy) * f.scratch_stride : nullptr;
  for (int32_t x = 0; x < f.chroma_w; ++x) {
    const int32_t* s = sum + (2 * x) * 3;  // sum[-1] is at index 0
    float tr = float(s[2] + 2 * s[5] + s[8]);
    float tg = float(s[1] + 2 * s[4] + s[7]);
    float tb = float(s[0] + 2 * s[3] + s[6]);
    float cb = chroma_code(f.cb_coef[0] * tr + f.cb_coef[1] * tg + f.cb_coef[2] * tb);
    float cr = chroma_code(f.cr_coef[0] * tr + f.cr_coef[1] * tg + f.cr_coef[2] * tb);
    if constexpr (W::kPlanar) {
      uv[x] = W::value(cb);
      v_plane[x] = W::value(cr);
    } else {
      uv[2 * x] = W::value(cb);
      uv[2 * x + 1] = W::value(cr);
    }
    if (scratch) {
      scratch[2 * x] = W::view_code(cb);
      scratch[2 * x + 1] = W::view_code(cr);
    }
  }
}

// Column sums of B, G, R over the two source rows of chroma row cy, with the
// clamped columns -1 and width (and width + 1 for odd widths) filled in.
FV_MULTIVERSION void column_sums(const Frame& f, int32_t cy, int32_t* sum) {
  const int32_t r0 = std::min(2 * cy, f.height - 1), r1 = std::min(2 * cy + 1, f.height - 1);
  const uint8_t* a = f.src + size_t(r0) * f.src_stride;
  const uint8_t* b = f.src + size_t(r1) * f.src_stride;
  int32_t* s = sum + 3;
  for (int32_t x = 0; x < f.width; ++x) {
    s[x * 3 + 0] = a[x * 4 + 0] + b[x * 4 + 0];
    s[x * 3 + 1] = a[x * 4 + 1] + b[x * 4 + 1];
    s[x * 3 + 2] = a[x * 4 + 2] + b[x * 4 + 2];
  }
  for (int c = 0; c < 3; ++c) {
    sum[c] = s[c];
    s[f.width * 3 + c] = s[(f.width - 1) * 3 + c];
    s[(f.width + 1) * 3 + c] = s[(f.width - 1) * 3 + c];
  }
}

// Improved luma of one row: the chroma the decoder will interpolate at this
// pixel (MPEG-2 siting), then Y' such that the square-law luminance of
// Y' + d equals the source pixel's.
template <Out kOut>
FV_MULTIVERSION void improved_luma_row(const Frame& f, int32_t y, float* cv) {
  using W = Writer<kOut>;
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
  const int32_t n = f.chroma_w * 2;
  const float scale = W::kViewScale;
  for (int32_t i = 0; i < n; ++i) cv[i] = wa * (float(ra[i]) * scale) + wb * (float(rb[i]) * scale);
  cv[n] = cv[n - 2];
  cv[n + 1] = cv[n - 1];

  const uint8_t* src = f.src + size_t(y) * f.src_stride;
  auto* dst = reinterpret_cast<typename W::T*>(f.plane[0] + size_t(y) * f.linesize[0]);
  const float i1r = f.inv[0][0], i2r = f.inv[0][1], i1g = f.inv[1][0], i2g = f.inv[1][1], i1b = f.inv[2][0],
              i2b = f.inv[2][1];
  for (int32_t x = 0; x < f.width; ++x) {
    const int32_t h = x >> 1;
    float ccb, ccr;
    if ((x & 1) == 0) {
      ccb = cv[2 * h];
      ccr = cv[2 * h + 1];
    } else {
      ccb = 0.5f * cv[2 * h] + 0.5f * cv[2 * h + 2];
      ccr = 0.5f * cv[2 * h + 1] + 0.5f * cv[2 * h + 3];
    }
    float cb = chroma_decode(ccb), cr = chroma_decode(ccr);
    float dr = i1r * cb + i2r * cr, dg = i1g * cb + i2g * cr, db = i1b * cb + i2b * cr;
    float b = float(src[x * 4 + 0]) / 255.0f, g = float(src[x * 4 + 1]) / 255.0f, r = float(src[x * 4 + 2]) / 255.0f;
    float lum = kKr * (r * r) + kKg * (g * g) + kKb * (b * b);
    float kd = kKr * dr + kKg * dg + kKb * db;
    float kd2 = kKr * (dr * dr) + kKg * (dg * dg) + kKb * (db * db);
    float arg = lum + kd * kd - kd2;
    // The root of a negative value is NaN, which the UNORM write saturates
    // to 0: no luminance can be restored, so the pixel gets black's code.
    float yv = std::sqrt(arg > 0.0f ? arg : 0.0f) - kd;
    yv = arg >= 0.0f ? yv : 0.0f;
    yv = yv > 0.0f ? yv : 0.0f;
    yv = yv < 1.0f ? yv : 1.0f;
    dst[x] = W::value(luma_code(yv));
  }
}

size_t sum_ints(uint32_t width) { return (size_t(width) + 4) * 3; }
size_t cv_floats(uint32_t width) { return (size_t(width + 1) / 2 + 2) * 2; }

template <Out kOut>
void run(ConvertStage& st, ComputeContext& context, const Frame& f) {
  using T = typename Writer<kOut>::T;
  // Pass 1: chroma (and the single conversion's luma), one band of chroma rows
  // per thread. Pass 2 (improved): luma from the finished chroma plane.
  context.for_bands(f.chroma_h, 8, [&](int band, int c0, int c1) {
    int32_t* sum = reinterpret_cast<int32_t*>(st.scratch.data() + st.scratch_per_thread * size_t(band));
    for (int32_t cy = c0; cy < c1; ++cy) {
      column_sums(f, cy, sum);
      chroma_row<kOut>(f, sum, cy);
      if (!st.improved) {
        for (int32_t r = 2 * cy; r < std::min(2 * cy + 2, f.height); ++r)
          luma_row<kOut>(f, f.src + size_t(r) * f.src_stride, reinterpret_cast<T*>(f.plane[0] + size_t(r) * f.linesize[0]));
      }
    }
  });
  if (!st.improved) return;
  context.for_bands(f.height, 16, [&](int band, int y0, int y1) {
    float* cv = reinterpret_cast<float*>(st.scratch.data() + st.scratch_per_thread * size_t(band));
    for (int32_t y = y0; y < y1; ++y) improved_luma_row<kOut>(f, y, cv);
  });
}

}  // namespace

bool create_convert_stage(ConvertStage& stage, const CaptureDevice&, Texture2D* const* texture, uint32_t out_width,
                          uint32_t out_height, bool hd_color, bool improved) {
  stage.source = nullptr;
  stage.out_width = stage.out_height = 0;
  stage.chroma_scratch.reset();
  stage.scratch.reset();
  if (!texture || out_width == 0 || out_height == 0 || out_width > kMaxDimension || out_height > kMaxDimension)
    return false;
  stage.matrix = hd_color ? kMatrixBt709 : kMatrixBt601;
  stage.hd_color = hd_color;
  stage.improved = improved;
  const size_t cw = (out_width + 1) / 2, ch = (out_height + 1) / 2;
  if (improved) {
    stage.chroma_scratch_stride = int32_t((cw * 2 + 31) & ~size_t(31));
    if (!stage.chroma_scratch.allocate(size_t(stage.chroma_scratch_stride) * ch * sizeof(uint16_t))) return false;
  }
  size_t per = std::max(sum_ints(out_width) * sizeof(int32_t), cv_floats(out_width) * sizeof(float));
  stage.scratch_per_thread = (per + 63) & ~size_t(63);
  if (!stage.scratch.allocate(stage.scratch_per_thread * kMaxComputeThreads)) return false;
  stage.source = texture;
  stage.out_width = out_width;
  stage.out_height = out_height;
  return true;
}

void run_convert(ConvertStage& stage, ComputeContext& context, SurfaceSet& set) {
  if (!stage.source || !*stage.source) return;
  const Texture2D& src = **stage.source;
  if (!src.data || uint32_t(src.width) != stage.out_width || uint32_t(src.height) != stage.out_height) return;
  if (!set.data[0] || set.width != stage.out_width || set.height != stage.out_height) return;
  Frame f{};
  f.src = src.data;
  f.src_stride = src.stride;
  f.width = src.width;
  f.height = src.height;
  f.chroma_w = (f.width + 1) / 2;
  f.chroma_h = (f.height + 1) / 2;
  for (int i = 0; i < 3; ++i) {
    f.plane[i] = set.data[i];
    f.linesize[i] = set.linesize[i];
  }
  f.scratch = stage.improved ? reinterpret_cast<uint16_t*>(stage.chroma_scratch.data()) : nullptr;
  f.scratch_stride = stage.chroma_scratch_stride;
  const auto& m = stage.matrix.m;
  for (int c = 0; c < 3; ++c) {
    f.y_coef[c] = m[0][c] / 255.0f;
    f.cb_coef[c] = m[1][c] / (8.0f * 255.0f);
    f.cr_coef[c] = m[2][c] / (8.0f * 255.0f);
    f.inv[c][0] = m[3 + c][1];
    f.inv[c][1] = m[3 + c][2];
  }
  const bool p010 = set.format == SURFACE_FORMAT_P010;
  if (set.layout == SURFACE_LAYOUT_PLANAR)
    p010 ? run<Out::kPlanar10>(stage, context, f) : run<Out::kPlanar8>(stage, context, f);
  else
    p010 ? run<Out::kP010>(stage, context, f) : run<Out::kNv12>(stage, context, f);
}
