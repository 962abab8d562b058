#include "video/encode/media_sample.h"

void sample_add_ref(MediaSample* sample) { sample->refs.fetch_add(1, std::memory_order_relaxed); }

void sample_release(MediaSample* sample) {
  if (sample->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  SampleReturnCallback* callback = sample->allocator.load(std::memory_order_acquire);
  if (callback && callback->invoke) callback->invoke(callback, sample);
}
