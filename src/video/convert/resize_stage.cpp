#include "video/convert/resize_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/convert/color_math.h"
#include "video/convert/kernels.h"

namespace {
constexpr uint32_t kMaxDimension = 16384;
}

float mitchell_kernel(float x) {
  float a = std::fabs(x);
  if (a < 1.0f) return (21.0f * a * a * a - 36.0f * a * a + 16.0f) / 18.0f;
  if (a < 2.0f) return (-7.0f * a * a * a + 36.0f * a * a - 60.0f * a + 32.0f) / 18.0f;
  return 0.0f;
}

void compute_resize_taps(ResizeTaps& taps, uint32_t in_size, uint32_t out_size, bool normalise) {
  const float s = static_cast<float>(out_size) / static_cast<float>(in_size);
  const float radius = 2.0f / s;
  const int32_t last_index = static_cast<int32_t>(in_size) - 1;
  taps.first.assign(out_size, 0);
  taps.count.assign(out_size, 0);
  int32_t max_taps = 1;
  for (uint32_t o = 0; o < out_size; ++o) {
    float c = (static_cast<float>(o) + 0.5f) / s;
    int32_t first = std::clamp(static_cast<int32_t>(c - radius + 0.5f), 0, last_index);
    int32_t last = std::clamp(static_cast<int32_t>(c + radius + 0.5f), 0, last_index);
    // The window excludes `last`, which leaves it empty along an axis of one
    // pixel; that pixel then stands alone rather than dividing 0 by 0.
    if (last <= first) last = first + 1;
    taps.first[o] = first;
    taps.count[o] = last - first;
    max_taps = std::max(max_taps, last - first);
  }
  taps.max_taps = max_taps;
  taps.weights.assign(size_t(out_size) * max_taps, 0.0f);
  for (uint32_t o = 0; o < out_size; ++o) {
    float c = (static_cast<float>(o) + 0.5f) / s;
    float* w = &taps.weights[size_t(o) * max_taps];
    float sum = 0.0f;
    for (int32_t k = 0; k < taps.count[o]; ++k) {
      float x = s * (c - (static_cast<float>(taps.first[o] + k) + 0.5f));
      w[k] = mitchell_kernel(x);
      sum += w[k];
    }
    if (normalise && sum != 0.0f)
      for (int32_t k = 0; k < taps.count[o]; ++k) w[k] /= sum;
  }
}

namespace {

// Per thread: decoded input (a row, or the columns of a chunk of 8 rows,
// padded with zeros for the zero-weight taps past the picture's end), a ring
// of decoded intermediate rows with their tags, and one row of accumulators.
bool allocate_scratch(ResizeStage& st) {
  const size_t mid_floats = size_t(st.plane_stride) * 3;
  const int32_t taps = st.horizontal.max_taps;
  size_t row_floats = (size_t(st.in_width) + taps + 4) * 4;
  for (uint32_t x0 = 0; x0 < st.out_width; x0 += kResizeChunk) {
    uint32_t x1 = std::min<uint32_t>(x0 + kResizeChunk, st.out_width);
    int32_t i1 = std::min<int32_t>(st.horizontal.first[x1 - 1] + taps, int32_t(st.in_width));
    // Room for the columns of 16 rows (48 floats each).
    row_floats = std::max(row_floats, size_t(i1 - st.horizontal.first[x0] + taps + 1) * 48);
  }
  for (ResizeStage::BandScratch& b : st.bands) {
    if (!b.mid.allocate(size_t(st.mid_stride) * st.mid_rows + 64) || !b.row.allocate(row_floats * sizeof(float)) ||
        !b.out_pair.allocate(size_t(st.scaled_texture.stride) * 2) ||
        !b.ring.allocate(size_t(st.ring_rows) * mid_floats * sizeof(float)) ||
        !b.tags.allocate(size_t(st.ring_rows) * sizeof(int32_t)) || !b.acc.allocate(mid_floats * sizeof(float)))
      return false;
  }
  return true;
}

ResizeScratch band_scratch(ResizeStage& st, int band) {
  ResizeStage::BandScratch& b = st.bands[band];
  ResizeScratch s;
  s.row = reinterpret_cast<float*>(b.row.data());
  s.ring = reinterpret_cast<float*>(b.ring.data());
  s.ring_tag = reinterpret_cast<int32_t*>(b.tags.data());
  s.ring_rows = st.ring_rows;
  s.acc = reinterpret_cast<float*>(b.acc.data());
  return s;
}

}  // namespace

bool create_resize_stage(ResizeStage& stage, const CaptureDevice&, uint32_t in_width, uint32_t in_height,
                         uint32_t out_width, uint32_t out_height, bool gamma) {
  stage.output_texture = nullptr;
  stage.scaling = false;
  for (ResizeStage::BandScratch& b : stage.bands) b = ResizeStage::BandScratch{};
  stage.scaled_texture.memory.reset();
  stage.scaled_texture.data = nullptr;
  stage.in_width = stage.in_height = stage.out_width = stage.out_height = 0;
  if (in_width == 0 || in_height == 0 || out_width == 0 || out_height == 0 || in_width > kMaxDimension ||
      in_height > kMaxDimension || out_width > in_width || out_height > in_height)
    return false;
  if (!create_texture(stage.input_texture, int32_t(in_width), int32_t(in_height))) return false;
  stage.gamma = gamma;
  if (in_width == out_width && in_height == out_height) {
    stage.output_texture = &stage.input_texture;
  } else {
    if (!create_texture(stage.scaled_texture, int32_t(out_width), int32_t(out_height))) return false;
    compute_resize_taps(stage.horizontal, in_width, out_width, true);
    compute_resize_taps(stage.vertical, in_height, out_height, true);
    stage.plane_stride = int32_t((size_t(out_width) + 31) & ~size_t(31));
    stage.mid_stride = stage.plane_stride * 3;
    // The windows of a pair of output rows (the longest window plus the
    // longest step between neighbouring ones) and one block of rows made
    // ahead of them (8, or 16 for the AVX-512 kernels).
    int32_t step = 0;
    for (uint32_t y = 1; y < out_height; ++y)
      step = std::max(step, stage.vertical.first[y] - stage.vertical.first[y - 1]);
    stage.mid_rows = stage.vertical.max_taps + step + kResizeRowsAvx512;
    // The scratch layout depends on the sizes.
    stage.in_width = in_width;
    stage.out_width = out_width;
    stage.ring_rows = stage.vertical.max_taps;
    if (!allocate_scratch(stage)) return false;
    stage.output_texture = &stage.scaled_texture;
    stage.scaling = true;
  }
  stage.in_width = in_width;
  stage.in_height = in_height;
  stage.out_width = out_width;
  stage.out_height = out_height;
  return true;
}

namespace {

void resize_bands(ResizeStage& stage, ComputeContext& context, ResizeRowsFn rows_ready, void* ctx) {
  const bool avx2 = kernels_use_avx2();
  const bool avx512 = kernels_use_avx512();
  const int32_t block = avx512 ? kResizeRowsAvx512 : kResizeRows;
  HorizontalJob h{};
  h.src = stage.input_texture.data;
  h.src_stride = stage.input_texture.stride;
  h.in_width = int32_t(stage.in_width);
  h.out_width = int32_t(stage.out_width);
  h.mid_stride = stage.mid_stride;
  h.mid_rows = stage.mid_rows;
  h.plane_stride = stage.plane_stride;
  h.first = stage.horizontal.first.data();
  h.count = stage.horizontal.count.data();
  h.taps = stage.horizontal.max_taps;
  h.weights = stage.horizontal.weights.data();
  h.gamma = stage.gamma;
  VerticalJob v{};
  v.mid_stride = stage.mid_stride;
  v.mid_rows = stage.mid_rows;
  v.plane_stride = stage.plane_stride;
  v.in_height = int32_t(stage.in_height);
  v.out_width = int32_t(stage.out_width);
  v.dst = stage.output_texture->data;
  v.dst_stride = stage.output_texture->stride;
  v.dst_rows = int32_t(stage.out_height);
  v.first = stage.vertical.first.data();
  v.count = stage.vertical.count.data();
  v.taps = stage.vertical.max_taps;
  v.weights = stage.vertical.weights.data();
  v.gamma = stage.gamma;
  const int32_t in_height = int32_t(stage.in_height);
  const int32_t out_height = int32_t(stage.out_height);
  // Each band of output rows runs both passes: the first pass makes
  // intermediate rows in blocks of 8 or 16 as the second reaches them, a pair of
  // output rows at a time. The windows only move down, so a row once made
  // stays until the window has passed it. Neighbouring bands both make the
  // few rows their windows share. Bands start on even rows.
  context.for_bands((out_height + 1) / 2, 8, [&](int band, int p0, int p1) {
    ResizeScratch s = band_scratch(stage, band);
    HorizontalJob hb = h;
    VerticalJob vb = v;
    hb.mid = stage.bands[band].mid.data();
    vb.mid = hb.mid;
    if (rows_ready) {
      vb.dst = stage.bands[band].out_pair.data();
      vb.dst_rows = 2;
    }
    for (int32_t i = 0; i < s.ring_rows; ++i) s.ring_tag[i] = -1;  // the intermediate is new
    const int32_t y0 = 2 * p0, y1 = std::min(2 * p1, out_height);
    int32_t made = v.first[y0];
    for (int32_t y = y0; y < y1; y += 2) {
      const int32_t ye = std::min(y + 2, y1);
      int32_t need = 0;
      for (int32_t i = y; i < ye; ++i) need = std::max(need, v.first[i] + v.count[i]);
      if (made < need) {
        const int32_t end = std::min(made + (need - made + block - 1) / block * block, in_height);
        if (avx512)
          horizontal_rows_avx512(hb, s, made, end);
        else
          avx2 ? horizontal_rows_avx2(hb, s, made, end) : horizontal_rows_portable(hb, s, made, end);
        made = end;
      }
      if (avx512)
        vertical_rows_avx512(vb, s, y, ye);
      else
        avx2 ? vertical_rows_avx2(vb, s, y, ye) : vertical_rows_portable(vb, s, y, ye);
      if (rows_ready) rows_ready(ctx, band, vb.dst, vb.dst_stride, y, ye - y);
    }
  });
}

}  // namespace

void run_resize(ResizeStage& stage, ComputeContext& context) {
  if (stage.scaling) resize_bands(stage, context, nullptr, nullptr);
}

void run_resize_rows(ResizeStage& stage, ComputeContext& context, ResizeRowsFn rows_ready, void* ctx) {
  if (stage.scaling && rows_ready) resize_bands(stage, context, rows_ready, ctx);
}
