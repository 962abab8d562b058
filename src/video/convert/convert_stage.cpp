#include "video/convert/convert_stage.h"

#include <algorithm>
#include <cmath>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"

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

// One interpolated chroma row: a Cb and a Cr half of chroma_w + 1 floats,
// padded so the vector kernel's last loads stay inside.
int32_t cv_plane(uint32_t width) { return int32_t(((width + 1) / 2 + 1 + 15) & ~15u); }
size_t cv_floats(uint32_t width) { return size_t(cv_plane(width)) * 2; }

// Luminance weights of the improved luma solve, whatever the matrix.
constexpr double kLuminance[3] = {0.2126, 0.7152, 0.0722};

}  // namespace

bool create_convert_stage(ConvertStage& stage, const CaptureDevice&, Texture2D* const* texture, uint32_t out_width,
                          uint32_t out_height, bool hd_color, bool improved) {
  stage.source = nullptr;
  stage.out_width = stage.out_height = 0;
  stage.chroma_scratch.reset();
  for (AlignedBuffer& b : stage.band_rows) b.reset();
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
  for (AlignedBuffer& b : stage.band_rows)
    if (!b.allocate(cv_floats(out_width) * sizeof(float))) return false;
  stage.source = texture;
  stage.out_width = out_width;
  stage.out_height = out_height;
  return true;
}

void fold_convert_coefficients(const ColorMatrix& matrix, bool p010, ConvertFrame& f) {
  f.scratch_scale = p010 ? 1.0f / 65535.0f : 1.0f / 255.0f;
  const auto& m = matrix.m;
  // Y'code = Y' 219/255 + 16/255 and Ccode = C 224/255 + 128/255, written as
  // round(code * 255) or round(code * 65535) = round(code * 255 * 257).
  const float unit = p010 ? 257.0f : 1.0f;
  for (int c = 0; c < 3; ++c) {
    f.y_k[c] = m[0][c] * 219.0f / 255.0f * unit;
    f.cb_k[c] = m[1][c] * 224.0f / (8.0f * 255.0f) * unit;
    f.cr_k[c] = m[2][c] * 224.0f / (8.0f * 255.0f) * unit;
  }
  // Improved luma: with d = rows 3-5 times (0, Cb, Cr), the solve needs K.d
  // and (K.d)^2 - K.d^2, a linear and a quadratic form in Cb and Cr whose
  // coefficients are worked out here once (in double precision).
  double ka = 0, kc = 0, saa = 0, sac = 0, scc = 0;
  for (int c = 0; c < 3; ++c) {
    const double a = m[3 + c][1], b = m[3 + c][2];
    ka += kLuminance[c] * a;
    kc += kLuminance[c] * b;
    saa += kLuminance[c] * a * a;
    sac += kLuminance[c] * a * b;
    scc += kLuminance[c] * b * b;
  }
  f.kd_k[0] = float(ka);
  f.kd_k[1] = float(kc);
  f.q_k[0] = float(ka * ka - saa);
  f.q_k[1] = float(2.0 * (ka * kc - sac));
  f.q_k[2] = float(kc * kc - scc);
  // Source bytes squared: L = K . (code / 255)^2; channel order R, G, B.
  for (int c = 0; c < 3; ++c) f.lum_k[c] = float(kLuminance[c] / (255.0 * 255.0));
  f.iy_scale = 219.0f * unit;
  f.iy_add = 16.0f * unit + 0.5f;
  f.y_add = 16.0f * unit + 0.5f;
  f.c_add = 128.0f * unit + 0.5f;
}

bool convert_frame(const ConvertStage& stage, const SurfaceSet& set, ConvertFrame& f) {
  if (!stage.source || !*stage.source) return false;
  const Texture2D& src = **stage.source;
  if (!src.data || uint32_t(src.width) != stage.out_width || uint32_t(src.height) != stage.out_height) return false;
  if (!set.data[0] || set.width != stage.out_width || set.height != stage.out_height) return false;
  f = ConvertFrame{};
  const bool p010 = set.format == SURFACE_FORMAT_P010;
  if (set.layout == SURFACE_LAYOUT_PLANAR)
    f.out = p010 ? ConvertOut::kPlanar10 : ConvertOut::kPlanar8;
  else
    f.out = p010 ? ConvertOut::kP010 : ConvertOut::kNv12;
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
  fold_convert_coefficients(stage.matrix, p010, f);
  f.cv_plane = cv_plane(f.width);
  f.shift = f.out == ConvertOut::kPlanar10 ? 6 : 0;
  return true;
}

void run_convert(ConvertStage& stage, ComputeContext& context, SurfaceSet& set) {
  ConvertFrame f;
  if (!convert_frame(stage, set, f)) return;
  const bool avx2 = kernels_use_avx2();
  const bool avx512 = kernels_use_avx512();
  const bool improved = stage.improved;
  // Pass 1: chroma (and the single conversion's luma), a band of chroma rows
  // per thread. Pass 2 (improved): luma from the finished chroma plane.
  context.for_bands(f.chroma_h, 8, [&](int, int c0, int c1) {
    for (int32_t cy = c0; cy < c1; ++cy) {
      if (avx512)
        convert_pair_avx512(f, cy, !improved);
      else
        avx2 ? convert_pair_avx2(f, cy, !improved) : convert_pair_portable(f, cy, !improved, 0);
    }
  });
  if (!improved) return;
  context.for_bands(f.height, 16, [&](int band, int y0, int y1) {
    float* cv = reinterpret_cast<float*>(stage.band_rows[band].data());
    for (int32_t y = y0; y < y1; ++y) {
      if (avx512) {
        improved_luma_row_avx512(f, y, cv);
      } else if (avx2) {
        improved_luma_row_avx2(f, y, cv);
      } else {
        improved_chroma_row_portable(f, y, cv);
        improved_luma_portable(f, y, cv, 0);
      }
    }
  });
}
