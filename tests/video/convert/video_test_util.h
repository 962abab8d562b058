#pragma once
// Pictures and surfaces for the conversion tests.
#include <cstdint>
#include <random>
#include <vector>

#include "video/convert/convert_stage.h"
#include "video/convert/resize_stage.h"

struct Bgra {
  uint8_t b, g, r;
};

// A resize stage without scaling holds the picture the conversion reads.
inline void fill_texture(Texture2D& tex, Bgra c) {
  for (int y = 0; y < tex.height; ++y)
    for (int x = 0; x < tex.width; ++x) {
      uint8_t* p = tex.data + size_t(y) * tex.stride + size_t(x) * 4;
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
    }
}

inline void set_pixel(Texture2D& tex, int x, int y, Bgra c) {
  uint8_t* p = tex.data + size_t(y) * tex.stride + size_t(x) * 4;
  p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

inline void fill_random(Texture2D& tex, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < tex.height; ++y)
    for (int x = 0; x < tex.width * 4; ++x) tex.data[size_t(y) * tex.stride + x] = uint8_t(rng());
}

// Sample values of a surface, whatever its layout: the value as stored.
inline uint32_t luma_at(const SurfaceSet& s, int x, int y) {
  const uint8_t* row = s.data[0] + size_t(y) * s.linesize[0];
  return s.format == SURFACE_FORMAT_P010 ? reinterpret_cast<const uint16_t*>(row)[x] : row[x];
}
inline uint32_t chroma_at(const SurfaceSet& s, int x, int y, int c) {
  bool wide = s.format == SURFACE_FORMAT_P010;
  if (s.layout == SURFACE_LAYOUT_PLANAR) {
    const uint8_t* row = s.data[1 + c] + size_t(y) * s.linesize[1 + c];
    return wide ? reinterpret_cast<const uint16_t*>(row)[x] : row[x];
  }
  const uint8_t* row = s.data[1] + size_t(y) * s.linesize[1];
  return wide ? reinterpret_cast<const uint16_t*>(row)[2 * x + c] : row[2 * x + c];
}
