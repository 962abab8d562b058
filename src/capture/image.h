#pragma once
// Pictures exchanged between capture, frame intake and the encoder.
#include <cstdint>

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
};

// A captured picture in memory: rows of 8-bit B, G, R, A (alpha ignored),
// `stride` bytes apart. Valid only for the duration of the call it is
// handed to; the owner reuses the memory for the next frame.
struct BgraImage {
  const uint8_t* data = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
};

// A picture on the graphics device: a texture of the platform's device
// (ID3D11Texture2D on Windows, not owned) and its size. Valid only for the
// duration of the call it is handed to, like BgraImage.
struct GpuPicture {
  void* texture = nullptr;
  int32_t width = 0;
  int32_t height = 0;
};
