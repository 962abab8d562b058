#pragma once
// CPU "textures": a B8G8R8A8 picture and the encoder's Y'CbCr surfaces.
#include <cstdint>

#include "capture/device.h"
#include "video/convert/aligned_buffer.h"
#include "capture/image.h"

// Rows of 8-bit B, G, R, A, `stride` bytes apart. Either owns its memory or,
// for the resize stage's output when no scaling is needed, aliases another
// texture (see ResizeStage).
struct Texture2D {
  uint8_t* data = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  AlignedBuffer memory;
};

bool create_texture(Texture2D& tex, int32_t width, int32_t height);

// Copies `box` of the picture to the top-left corner of the texture, clipped
// to both (a copy-region call: what falls outside keeps its old content).
void copy_to_texture(Texture2D& tex, const BgraImage& image, Rect box);

// The values of the DXGI formats the surface set is described by.
enum SurfaceFormat : uint32_t { SURFACE_FORMAT_NV12 = 103, SURFACE_FORMAT_P010 = 104 };

// How the planes are laid out in memory. The values are the same in both:
// - SURFACE_LAYOUT_INTERLEAVED: Y plane plus one CbCr plane (NV12: 8-bit;
//   P010: 16-bit words, the 10 bits in the top bits, as a 16-bit UNORM write
//   produces them). FFmpeg: AV_PIX_FMT_NV12 / AV_PIX_FMT_P010LE.
// - SURFACE_LAYOUT_PLANAR: Y, Cb and Cr planes (8-bit, or 16-bit words
//   holding the P010 value shifted down to the low 10 bits).
//   FFmpeg: AV_PIX_FMT_YUV420P / AV_PIX_FMT_YUV420P10LE.
enum SurfaceLayout : uint32_t { SURFACE_LAYOUT_INTERLEAVED = 0, SURFACE_LAYOUT_PLANAR = 1 };

// One encoder input picture. Plane pointers and line sizes are in the order an
// AVFrame wants them (data[0] luma; data[1] CbCr or Cb; data[2] Cr or null).
// Chroma planes are ceil(width / 2) x ceil(height / 2). Rows are 64-byte
// aligned and the memory is padded so SIMD readers may overrun a little.
struct SurfaceSet {
  SurfaceFormat format = SURFACE_FORMAT_NV12;
  SurfaceLayout layout = SURFACE_LAYOUT_INTERLEAVED;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int32_t linesize[3] = {0, 0, 0};
  AlignedBuffer memory;
};

// False for sizes of 0 or above 16384 and when memory cannot be had.
bool create_surface_set(SurfaceSet& set, const CaptureDevice& device, uint32_t out_width, uint32_t out_height,
                        uint32_t format, SurfaceLayout layout = SURFACE_LAYOUT_INTERLEAVED);

