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
