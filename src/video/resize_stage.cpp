#include "video/resize_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/color_math.h"

#define FV_MULTIVERSION __attribute__((target_clones("avx2", "default")))

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

// Per band: one decoded input row (horizontal pass, padded with zero pixels
// for the zero-weight taps past its end) and one row of accumulators
// (vertical pass).
size_t hrow_floats(const ResizeStage& st) { return (size_t(st.in_width) + st.horizontal.max_taps + 4) * 4; }
size_t vrow_floats(const ResizeStage& st) { return size_t(st.out_width) * 4 + 16; }

float* band_scratch(ResizeStage& st, int band) {
  return reinterpret_cast<float*>(st.scratch.data() + st.scratch_per_thread * size_t(band));
}

template <bool kGamma>
inline uint8_t store_code(float v) {
  if constexpr (kGamma)
    return srgb_encode_code(v);
  else
    return unorm8(v);
}

template <bool kGamma>
FV_MULTIVERSION void horizontal_rows(const ResizeStage& st, float* rowf, int32_t y0, int32_t y1) {
  const float* lut = unorm8_table(kGamma);
  const Texture2D& in = st.input_texture;
  const int32_t n_in = static_cast<int32_t>(st.in_width) * 4;
  const int32_t out_w = static_cast<int32_t>(st.out_width);
  const int32_t taps = st.horizontal.max_taps;
  const float* weights = st.horizontal.weights.data();
  const int32_t* first = st.horizontal.first.data();
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* src = in.data + size_t(y) * in.stride;
    for (int32_t i = 0; i < n_in; ++i) rowf[i] = lut[src[i]];
    uint8_t* dst = st.mid.data() + size_t(y) * st.mid_stride;
    for (int32_t x = 0; x < out_w; ++x) {
      const float* w = weights + size_t(x) * taps;
      const float* p = rowf + size_t(first[x]) * 4;
      float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f;
      for (int32_t k = 0; k < taps; ++k) {
        a0 += w[k] * p[k * 4 + 0];
        a1 += w[k] * p[k * 4 + 1];
        a2 += w[k] * p[k * 4 + 2];
      }
      dst[x * 4 + 0] = store_code<kGamma>(a0);
      dst[x * 4 + 1] = store_code<kGamma>(a1);
      dst[x * 4 + 2] = store_code<kGamma>(a2);
      dst[x * 4 + 3] = 0;
    }
  }
}

template <bool kGamma>
FV_MULTIVERSION void vertical_rows(const ResizeStage& st, float* acc, int32_t y0, int32_t y1) {
  const float* lut = unorm8_table(kGamma);
  Texture2D& out = *st.output_texture;
  const int32_t n = static_cast<int32_t>(st.out_width) * 4;
  const int32_t taps = st.vertical.max_taps;
  for (int32_t y = y0; y < y1; ++y) {
    const float* w = st.vertical.weights.data() + size_t(y) * taps;
    const int32_t first = st.vertical.first[y], count = st.vertical.count[y];
    for (int32_t i = 0; i < n; ++i) acc[i] = 0.0f;
    for (int32_t k = 0; k < count; ++k) {
      const uint8_t* row = st.mid.data() + size_t(first + k) * st.mid_stride;
      const float wk = w[k];
      for (int32_t i = 0; i < n; ++i) acc[i] += wk * lut[row[i]];
    }
    uint8_t* dst = out.data + size_t(y) * out.stride;
    for (int32_t i = 0; i < n; i += 4) {
      dst[i + 0] = store_code<kGamma>(acc[i + 0]);
      dst[i + 1] = store_code<kGamma>(acc[i + 1]);
      dst[i + 2] = store_code<kGamma>(acc[i + 2]);
      dst[i + 3] = 0;
    }
  }
}

}  // namespace

bool create_resize_stage(ResizeStage& stage, const CaptureDevice&, uint32_t in_width, uint32_t in_height,
                         uint32_t out_width, uint32_t out_height, bool gamma) {
  stage.output_texture = nullptr;
  stage.scaling = false;
  stage.mid.reset();
  stage.scratch.reset();
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
    stage.mid_stride = int32_t((size_t(out_width) * 4 + 63) & ~size_t(63));
    if (!stage.mid.allocate(size_t(stage.mid_stride) * in_height + 64)) return false;
    stage.in_width = in_width;
    stage.out_width = out_width;
    size_t floats = std::max(hrow_floats(stage), vrow_floats(stage));
    stage.scratch_per_thread = (floats * sizeof(float) + 63) & ~size_t(63);
    stage.scratch_threads = kMaxComputeThreads;
    if (!stage.scratch.allocate(stage.scratch_per_thread * kMaxComputeThreads)) return false;
    stage.output_texture = &stage.scaled_texture;
    stage.scaling = true;
  }
  stage.in_width = in_width;
  stage.in_height = in_height;
  stage.out_width = out_width;
  stage.out_height = out_height;
  return true;
}

void run_resize(ResizeStage& stage, ComputeContext& context) {
  if (!stage.scaling) return;
  // Rows are independent within each pass; the second pass needs all of the
  // first, so the two run one after the other.
  context.for_bands(int(stage.in_height), 16, [&](int band, int y0, int y1) {
    float* rowf = band_scratch(stage, band);
    if (stage.gamma)
      horizontal_rows<true>(stage, rowf, y0, y1);
    else
      horizontal_rows<false>(stage, rowf, y0, y1);
  });
  context.for_bands(int(stage.out_height), 16, [&](int band, int y0, int y1) {
    float* acc = band_scratch(stage, band);
    if (stage.gamma)
      vertical_rows<true>(stage, acc, y0, y1);
    else
      vertical_rows<false>(stage, acc, y0, y1);
  });
}
