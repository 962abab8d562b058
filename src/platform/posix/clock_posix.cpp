#include "platform/clock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<ClockSource> g_source{nullptr};

int64_t monotonic_ticks() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kQpcFrequency + ts.tv_nsec / 100;
}
}  // namespace

int64_t qpc_now() {
  ClockSource s = g_source.load(std::memory_order_relaxed);
  return s ? s() : monotonic_ticks();
}

void clock_set_source(ClockSource source) { g_source.store(source); }

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
