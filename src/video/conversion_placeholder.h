#pragma once
// TEMPORARY stand-in for the resize and colour-conversion stages until they
// land; delete this file and its .cpp once the real stages are used.
#include <cstdint>

#include "video/media_sample.h"

struct PlaceholderSurface {
  PixelLayout layout = PIXEL_NONE;
  uint32_t width = 0, height = 0;
  uint8_t* data[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t linesize[4] = {0, 0, 0, 0};
  void* memory = nullptr;
};

// Input picture (BGRA, even size) plus the scaler that turns it into a surface.
struct PlaceholderConverter {
  uint8_t* input = nullptr;
  int32_t input_stride = 0;
  uint32_t in_width = 0, in_height = 0, out_width = 0, out_height = 0;
  void* scaler = nullptr;
};

bool placeholder_converter_create(PlaceholderConverter* c, uint32_t in_width, uint32_t in_height,
                                  uint32_t out_width, uint32_t out_height, bool hd_color,
                                  PixelLayout layout);
void placeholder_converter_clear(PlaceholderConverter* c);  // black, alpha 0
void placeholder_converter_run(PlaceholderConverter* c, PlaceholderSurface* surface);
void placeholder_converter_release(PlaceholderConverter* c);
bool placeholder_surface_create(PlaceholderSurface* s, uint32_t width, uint32_t height, PixelLayout layout);
void placeholder_surface_release(PlaceholderSurface* s);
