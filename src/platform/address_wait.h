#pragma once
// Waits on a 32-bit atomic until its value differs from `undesired`, a wake
// arrives, or the time-out passes. Spurious returns are possible, as with
// the platform primitive it stands for: callers re-check their condition.
#include <atomic>
#include <cstdint>

#include "platform/event.h"  // kWaitInfinite

// Returns false on time-out.
bool address_wait(const std::atomic<uint32_t>& word, uint32_t undesired, uint32_t timeout_ms);
bool address_wait(const std::atomic<int32_t>& word, int32_t undesired, uint32_t timeout_ms);
void address_wake_one(std::atomic<uint32_t>& word);
void address_wake_all(std::atomic<uint32_t>& word);
void address_wake_one(std::atomic<int32_t>& word);
void address_wake_all(std::atomic<int32_t>& word);
