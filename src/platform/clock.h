#pragma once
// Monotonic clock in 100-nanosecond ticks. Every time exchanged between
// capture, frame intake, audio, the watchdog and the encoder uses it, so a
// capture time and a counter reading need no conversion.
#include <cstdint>

constexpr int64_t kQpcFrequency = 10'000'000;

int64_t qpc_now();

// Tests drive time by hand; nullptr restores the real clock.
using ClockSource = int64_t (*)();
void clock_set_source(ClockSource source);

void sleep_ms(uint32_t ms);

// Milliseconds from counter reading `since` to now; 0 for 0 (no reading
// taken) and for a reading in the future.
inline uint64_t elapsed_ms(int64_t since) {
  const int64_t now = qpc_now();
  if (since == 0 || since >= now) return 0;
  return static_cast<uint64_t>(now - since) / (kQpcFrequency / 1000);
}
