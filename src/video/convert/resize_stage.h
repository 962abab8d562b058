#pragma once
// Separable Mitchell-Netravali scaling (B = C = 1/3) of the captured picture
// to the output size, on the stored sRGB values or on linear light.
#include <cstdint>
#include <vector>

#include "capture/device.h"
#include "video/convert/compute_context.h"
#include "video/convert/surfaces.h"

// Taps of one output position along one direction: input indices
// [first, first + count), weights already divided by their sum.
struct ResizeTaps {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<float> weights;  // max_taps per output position, zero padded
  int32_t max_taps = 0;
};

struct ResizeStage {
  Texture2D input_texture;          // in_width x in_height: the copy target of every frame
  Texture2D* output_texture = nullptr;  // &input_texture when no scaling is needed
  Texture2D scaled_texture;         // out_width x out_height storage when scaling
  bool scaling = false;             // false: run_resize does nothing
  bool gamma = false;               // linear-light variants
  ResizeTaps horizontal, vertical;  // computed once at creation
  // The out_width-wide intermediate, 8 bits per channel: each row holds a B,
  // a G and an R segment of plane_stride bytes. Each band of output rows makes
  // the intermediate rows it needs just before it needs them, into a ring of
  // mid_rows rows of its own, so they are still in the cache when the second
  // pass reads them.
  int32_t mid_stride = 0;
  int32_t mid_rows = 0;
  int32_t plane_stride = 0;
  // Per-thread memory of the kernels, one block per band of rows (separate
  // allocations, so an overrun cannot silently land in a neighbour's block).
  struct BandScratch {
    AlignedBuffer mid, row, ring, tags, acc, out_pair;
  };
  BandScratch bands[kMaxComputeThreads];
  int32_t ring_rows = 0;
  uint32_t in_width = 0, in_height = 0, out_width = 0, out_height = 0;
};

// The output is never larger than the input; sizes of 0, above 16384 or an
// output larger than the input along either axis are refused (false).
bool create_resize_stage(ResizeStage& stage, const CaptureDevice& device, uint32_t in_width, uint32_t in_height,
                         uint32_t out_width, uint32_t out_height, bool gamma);
// Scales input_texture into *output_texture; nothing when no scaling is set up.
void run_resize(ResizeStage& stage, ComputeContext& context);

// The same scaling with the output handed over as it is made instead of
// stored: rows_ready(ctx, band, rows, stride, y, n) gets output rows y ..
// y + n - 1 (y even, n 1 or 2, on the thread of that band) in a buffer of the
// band's own, valid until it returns. Only when scaling is set up.
using ResizeRowsFn = void (*)(void* ctx, int band, const uint8_t* rows, int32_t stride, int32_t y, int32_t n);
void run_resize_rows(ResizeStage& stage, ComputeContext& context, ResizeRowsFn rows_ready, void* ctx);

// The filter itself, for tests: k(x) for the Mitchell-Netravali cubic.
float mitchell_kernel(float x);
// Taps along one axis for an in_size -> out_size reduction.
void compute_resize_taps(ResizeTaps& taps, uint32_t in_size, uint32_t out_size, bool normalise);
