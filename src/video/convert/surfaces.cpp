#include "video/convert/surfaces.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint32_t kMaxDimension = 16384;  // the largest texture the device takes
constexpr int32_t kTail = 64;              // bytes readable past the last row

int32_t align64(int64_t n) { return static_cast<int32_t>((n + 63) & ~int64_t(63)); }
}  // namespace

bool create_texture(Texture2D& tex, int32_t width, int32_t height) {
  tex.data = nullptr;
  tex.width = tex.height = tex.stride = 0;
  tex.memory.reset();
  if (width <= 0 || height <= 0 || uint32_t(width) > kMaxDimension || uint32_t(height) > kMaxDimension) return false;
  int32_t stride = align64(int64_t(width) * 4);
  if (!tex.memory.allocate(size_t(stride) * size_t(height) + kTail)) return false;
  tex.data = tex.memory.data();
  tex.width = width;
  tex.height = height;
  tex.stride = stride;
  return true;
}

void copy_to_texture(Texture2D& tex, const BgraImage& image, Rect box) {
  if (!tex.data || !image.data || image.width <= 0 || image.height <= 0) return;
  // Clip the box to the picture, then to the texture.
  int32_t left = std::max(box.left, 0), top = std::max(box.top, 0);
  int32_t right = std::min(box.right, image.width), bottom = std::min(box.bottom, image.height);
  if (right <= left || bottom <= top) return;
  int32_t w = std::min(right - left, tex.width);
  int32_t h = std::min(bottom - top, tex.height);
  if (w <= 0 || h <= 0) return;
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(tex.data + size_t(y) * tex.stride, image.data + size_t(top + y) * image.stride + size_t(left) * 4,
                size_t(w) * 4);
}

bool create_surface_set(SurfaceSet& set, const CaptureDevice&, uint32_t out_width, uint32_t out_height, uint32_t format,
                        SurfaceLayout layout) {
  set.memory.reset();
  for (int i = 0; i < 3; ++i) {
    set.data[i] = nullptr;
    set.linesize[i] = 0;
  }
  set.width = set.height = 0;
  if (format != SURFACE_FORMAT_NV12 && format != SURFACE_FORMAT_P010) return false;
  if (layout != SURFACE_LAYOUT_INTERLEAVED && layout != SURFACE_LAYOUT_PLANAR) return false;
  if (out_width == 0 || out_height == 0 || out_width > kMaxDimension || out_height > kMaxDimension) return false;
  const int64_t bytes = format == SURFACE_FORMAT_P010 ? 2 : 1;
  const int64_t cw = (out_width + 1) / 2, ch = (out_height + 1) / 2;
  int32_t luma = align64(out_width * bytes);
  size_t luma_size = size_t(luma) * out_height;
  size_t total;
  if (layout == SURFACE_LAYOUT_INTERLEAVED) {
    set.linesize[0] = luma;
    set.linesize[1] = align64(cw * 2 * bytes);
    total = luma_size + size_t(set.linesize[1]) * ch;
  } else {
    set.linesize[0] = luma;
    set.linesize[1] = set.linesize[2] = align64(cw * bytes);
    total = luma_size + 2 * size_t(set.linesize[1]) * ch;
  }
  if (!set.memory.allocate(total + kTail)) return false;
  uint8_t* base = set.memory.data();
  set.data[0] = base;
  set.data[1] = base + luma_size;
  if (layout == SURFACE_LAYOUT_PLANAR) set.data[2] = set.data[1] + size_t(set.linesize[1]) * ch;
  set.format = static_cast<SurfaceFormat>(format);
  set.layout = layout;
  set.width = out_width;
  set.height = out_height;
  return true;
}
