#pragma once
// B8G8R8A8 to limited-range Y'CbCr 4:2:0 (BT.601 or BT.709), either with one
// luma value per pixel from the stored R'G'B' ("single") or with luma
// recomputed so every pixel keeps its luminance after chroma sharing
// ("improved").
#include <cstdint>

#include "capture/device.h"
#include "video/convert/compute_context.h"
#include "video/convert/surfaces.h"

// Six rows of four floats: rows 0-2 R'G'B' -> Y', Cb, Cr; rows 3-5 back.
struct ColorMatrix {
  float m[6][4];
};
extern const ColorMatrix kMatrixBt601;
extern const ColorMatrix kMatrixBt709;

struct ConvertStage {
  Texture2D* const* source = nullptr;  // address of the resize stage's output_texture
  ColorMatrix matrix{};
  bool improved = false;
  bool hd_color = false;
  AlignedBuffer chroma_scratch;  // improved: the chroma plane as the luma pass reads it
  int32_t chroma_scratch_stride = 0;  // in 16-bit elements
  AlignedBuffer band_rows[kMaxComputeThreads];  // per thread: one interpolated chroma row
  uint32_t out_width = 0, out_height = 0;
};

// `texture` is the resize stage's output_texture member (read at every run,
// so it follows the stage). False for sizes of 0 or above 16384.
bool create_convert_stage(ConvertStage& stage, const CaptureDevice& device, Texture2D* const* texture,
                          uint32_t out_width, uint32_t out_height, bool hd_color, bool improved);
// Converts the source picture into the planes of `set`. Does nothing when the
// source or the set is not of the stage's output size.
void run_convert(ConvertStage& stage, ComputeContext& context, SurfaceSet& set);

// The kernels' description of one conversion of the source into `set`; false
// when run_convert would do nothing.
struct ConvertFrame;
bool convert_frame(const ConvertStage& stage, const SurfaceSet& set, ConvertFrame& f);
// The coefficients of `f` (scratch scale, the folded matrix rows and offsets,
// the improved luma's forms) for the codes of NV12 or, with p010, P010. Every
// implementation of the conversion takes them from here.
void fold_convert_coefficients(const ColorMatrix& matrix, bool p010, ConvertFrame& f);
