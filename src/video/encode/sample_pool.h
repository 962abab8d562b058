#pragma once
// Pools of tracked samples: a mask word with bit i set while sample i is free.
// Claims clear the lowest set bit, returns set it again and wake one waiter.
#include <atomic>
#include <cstdint>

#include "video/encode/media_sample.h"

// Claims the lowest free sample; -1 when the mask is 0.
int32_t pool_claim(std::atomic<uint32_t>& mask);
// Claims, waiting once up to `wait_ms` for a return when none is free.
int32_t pool_claim_wait(std::atomic<uint32_t>& mask, uint32_t wait_ms);
// Marks sample `index` free and wakes one waiter.
void pool_return(std::atomic<uint32_t>& mask, uint32_t index);

// Makes `callback` return samples into `pool` / `mask`.
void pool_callback_init(SampleReturnCallback* callback, MediaSample* const* pool, uint32_t pool_size,
                        std::atomic<uint32_t>* mask);

// Hands a claimed sample to the writer: registers the pool's callback, so the
// sample comes back when the last reference goes.
void pool_track(MediaSample* sample, SampleReturnCallback* callback);
