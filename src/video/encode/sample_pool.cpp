#include "video/encode/sample_pool.h"

#include <bit>

#include "platform/address_wait.h"

int32_t pool_claim(std::atomic<uint32_t>& mask) {
  uint32_t value = mask.load(std::memory_order_acquire);
  while (value != 0) {
    uint32_t bit = value & (~value + 1);
    // Only this claim may take the bit: a concurrent claim of the same bit
    // makes the exchange fail and we look again.
    if (mask.compare_exchange_weak(value, value & ~bit, std::memory_order_acq_rel)) {
      return std::countr_zero(bit);
    }
  }
  return -1;
}

int32_t pool_claim_wait(std::atomic<uint32_t>& mask, uint32_t wait_ms) {
  if (mask.load(std::memory_order_acquire) == 0) address_wait(mask, 0, wait_ms);
  return pool_claim(mask);
}

void pool_return(std::atomic<uint32_t>& mask, uint32_t index) {
  mask.fetch_or(1u << index, std::memory_order_acq_rel);
  address_wake_one(mask);
}

namespace {
void return_to_pool(SampleReturnCallback* self, MediaSample* sample) {
  for (uint32_t i = 0; i < self->pool_size; ++i) {
    if (self->pool[i] != sample) continue;
    // The pool's reference again; the callback stays registered so that a
    // stray release can never destroy a pooled sample.
    sample->refs.store(1, std::memory_order_release);
    pool_return(*self->mask, i);
    return;
  }
  // Not one of ours (a pool already torn down): keep the reference with the
  // sample so its count never drops below zero; its owner frees the memory.
  sample->refs.store(1, std::memory_order_release);
}
}  // namespace

void pool_callback_init(SampleReturnCallback* callback, MediaSample* const* pool, uint32_t pool_size,
                        std::atomic<uint32_t>* mask) {
  callback->invoke = return_to_pool;
  callback->pool = pool;
  callback->pool_size = pool_size;
  callback->mask = mask;
}

void pool_track(MediaSample* sample, SampleReturnCallback* callback) {
  sample->allocator.store(callback, std::memory_order_release);
}
