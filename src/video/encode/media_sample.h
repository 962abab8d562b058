#pragma once
// Tracked media samples: a picture or a block of PCM that the encoder hands
// to the media writer. A pooled sample is never destroyed when the writer lets
// go of it; its last release passes it to the callback registered as its
// allocator, which takes the pool's reference back.
#include <atomic>
#include <cstddef>
#include <cstdint>

// Pixel layouts of encoder input pictures. The two semi-planar values are the
// surface format numbers the conversion stage is created with.
enum PixelLayout : uint32_t {
  PIXEL_NONE = 0,
  PIXEL_NV12 = 103,       // 8-bit luma plane + interleaved CbCr plane
  PIXEL_P010 = 104,       // as NV12 with 16-bit words, value in the top 10 bits
  PIXEL_YUV420P = 1000,   // 8-bit, three planes
  PIXEL_YUV420P10 = 1001  // 16-bit words, value in the low 10 bits, three planes
};

struct MediaSample;

// Takes a pooled sample back when its last reference is released. Any thread.
struct SampleReturnCallback {
  void (*invoke)(SampleReturnCallback* self, MediaSample* sample) = nullptr;
  MediaSample* const* pool = nullptr;
  uint32_t pool_size = 0;
  std::atomic<uint32_t>* mask = nullptr;
};

struct MediaSample {
  // Picture: up to three planes. Audio: plane 0 holds `length` bytes of
  // `capacity`.
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int32_t linesize[3] = {0, 0, 0};
  PixelLayout layout = PIXEL_NONE;
  uint32_t width = 0, height = 0;
  size_t capacity = 0;
  size_t length = 0;

  int64_t time = 0;      // 100-ns units from the start of the file
  int64_t duration = 0;  // 100-ns units
  uint32_t discontinuity = 0;

  // The holder of a free pooled sample owns one reference.
  std::atomic<uint32_t> refs{1};
  std::atomic<SampleReturnCallback*> allocator{nullptr};
};

void sample_add_ref(MediaSample* sample);
// Dropping the last reference hands the sample to its allocator, if any; the
// memory itself always belongs to whoever created the sample.
void sample_release(MediaSample* sample);
