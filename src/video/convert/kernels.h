#pragma once
// Row kernels of the scaling and conversion passes. Each has a portable
// version and, on x86-64, an AVX2 version picked at run time. The conversion
// kernels compute the same operations in the same order on both paths and
// give identical values. The vector scaling kernels round each multiply-add
// once (fused); the portable ones do the same when told to (tests compare the
// two bit for bit that way) and otherwise round twice, which can move a value
// that lies within a hair of a rounding boundary by one code.
#include <cstddef>
#include <cstdint>

// Horizontal scaling of input rows into the 8-bit planar intermediate
// (B, G and R segments of `plane_stride` bytes in each row).
struct HorizontalJob {
  const uint8_t* src;
  int32_t src_stride;
  int32_t in_width;
  int32_t out_width;
  uint8_t* mid;
  int32_t mid_stride;
  int32_t mid_rows;              // rows the intermediate holds: row y is at y % mid_rows
  int32_t plane_stride;
  const int32_t* first;
  const int32_t* count;          // taps with a weight (the rest are zero padding)
  int32_t taps;                  // weights per output pixel (zero padded)
  const float* weights;          // out_width * taps
  bool gamma;                    // linear-light values; else the codes as they are (0..255)
};

// Vertical scaling of the intermediate into B8G8R8A8 output rows.
struct VerticalJob {
  const uint8_t* mid;
  int32_t mid_stride;
  int32_t mid_rows;
  int32_t plane_stride;
  int32_t in_height;
  int32_t out_width;
  uint8_t* dst;
  int32_t dst_stride;
  int32_t dst_rows;              // rows dst holds: output row y is at y % dst_rows
  const int32_t* first;
  const int32_t* count;
  int32_t taps;
  const float* weights;  // out_height * taps
  bool gamma;
};

// Output pixels per chunk of the vector horizontal kernel, which decodes
// the input columns of a chunk for 8 rows at once (24 floats per column).
inline constexpr int32_t kResizeChunk = 256;
// Rows the first pass makes at a time: the vector kernels' block of rows.
inline constexpr int32_t kResizeRows = 8;
inline constexpr int32_t kResizeRowsAvx512 = 16;

// Per-thread memory of the scaling kernels.
struct ResizeScratch {
  float* row;        // decoded input: a row, or a chunk's columns of 8 or 16 rows
  float* ring;       // ring_rows decoded intermediate rows of 3 * plane_stride floats
  int32_t* ring_tag; // which intermediate row each ring slot holds (-1: none)
  int32_t ring_rows;
  float* acc;        // 3 * plane_stride floats
};

void horizontal_rows_portable(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
void vertical_rows_portable(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
void horizontal_rows_avx2(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
void vertical_rows_avx2(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
// The AVX-512 first pass works on blocks of 16 rows (kResizeRowsAvx512).
void horizontal_rows_avx512(const HorizontalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
void vertical_rows_avx512(const VerticalJob& job, ResizeScratch& s, int32_t y0, int32_t y1);
// The vector kernels' sRGB store on its own, over n values (for tests: it
// must give srgb_encode_code's codes). Only after the CPU check.
void srgb_encode_codes_avx2(const float* v, uint8_t* codes, size_t n);

// Chosen once per process: AVX2 when the CPU has it (and FRELVANTA_NO_AVX2 is
// not set in the environment), else the portable kernels.
bool kernels_use_avx2();
// The AVX-512 forms of the scaling passes and of the NV12 conversion, on top
// of AVX2, when the CPU has AVX-512F and BW (and FRELVANTA_NO_AVX512 is not
// set); they give the same bytes.
bool kernels_use_avx512();
// Tests switch paths to compare them.
void kernels_force_portable(bool portable);
void kernels_force_avx2(bool avx2_only);
void kernels_fuse_portable(bool fused);

// One conversion run: the source picture, the planes and the coefficients.
enum class ConvertOut { kNv12, kP010, kPlanar8, kPlanar10 };

struct ConvertFrame {
  ConvertOut out;
  const uint8_t* src;
  int32_t src_stride;
  int32_t width, height;         // picture and luma plane
  int32_t chroma_w, chroma_h;    // half, rounded up
  uint8_t* plane[3];
  int32_t linesize[3];
  uint16_t* scratch;             // improved: interleaved Cb, Cr as the chroma view holds them
  int32_t scratch_stride;        // in elements
  float scratch_scale;           // 1/255 or 1/65535: scratch value -> view value
  // The single conversion's writes, folded: the stored value is
  // (k0 R + k1 G) + k2 B + add, truncated, then shifted right by `shift`
  // (the planar 10-bit layout). R, G, B are source bytes for luma and the
  // weighted column sums (8 times the filtered value) for chroma; k is the
  // matrix row times the limited-range scale and the UNORM scale (255 or
  // 65535), add the offset plus 0.5 for rounding. Values never leave the
  // range, so no clamp is needed.
  float y_k[3], y_add;
  float cb_k[3], cr_k[3], c_add;
  int32_t shift;
  // The improved luma, folded from rows 3-5 and the luminance weights K:
  // K.d = kd_k . (Cb, Cr); (K.d)^2 - K.d^2 = q_k . (Cb^2, Cb Cr, Cr^2);
  // L = lum_k . (R^2, G^2, B^2) of the source bytes (K / 255^2); the code is
  // Y' * iy_scale + iy_add, truncated, shifted right by `shift`.
  float kd_k[2];
  float q_k[3];
  float lum_k[3];
  float iy_scale, iy_add;
  int32_t cv_plane;              // floats from the Cb to the Cr half of a chroma row
};

// Chroma row cy (and, unless improved, the luma of its two rows), from chroma
// column x_from (luma column 2 * x_from) to the end.
void convert_pair_portable(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from);
// Improved luma of row y from column x_from. `cv` holds the chroma of the row,
// interpolated vertically and decoded to -0.5..0.5: Cb of chroma columns
// 0 .. chroma_w at cv, Cr at cv + cv_plane, the last column repeated once
// (filled by improved_chroma_row_portable).
void improved_chroma_row_portable(const ConvertFrame& f, int32_t y, float* cv);
void improved_luma_portable(const ConvertFrame& f, int32_t y, const float* cv, int32_t x_from);

void convert_pair_avx2(const ConvertFrame& f, int32_t cy, bool with_luma);
// From chroma column x_from (luma column 2 * x_from) to the end.
void convert_pair_avx2_from(const ConvertFrame& f, int32_t cy, bool with_luma, int32_t x_from);
// NV12 in 512-bit vectors; the other outputs as AVX2.
void convert_pair_avx512(const ConvertFrame& f, int32_t cy, bool with_luma);
void improved_luma_row_avx512(const ConvertFrame& f, int32_t y, float* cv);
void improved_luma_row_avx2(const ConvertFrame& f, int32_t y, float* cv);
