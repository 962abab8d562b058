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

// A picture on the graphics device: a B8G8R8A8 texture (an ID3D11Texture2D on
// Windows) lent for the duration of the call it is handed to, with its size.
// Null where capture delivers pictures in memory.
struct GpuPicture {
  void* texture = nullptr;
  int32_t width = 0;
  int32_t height = 0;
};
