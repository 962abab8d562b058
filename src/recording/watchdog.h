#pragma once
// The process-lifetime watchdog thread: heartbeat, audio clamp, stream ticks
// on a still screen, write-failure and stall detection. It never stops a
// recording itself; it posts the stop request to the main window.
#include <cstdint>

// Thread procedure: one tick per wake-up until watchdog_quit is set.
uint32_t watchdog_worker();

// One wake-up's work (the part after the tick flag was taken). Exposed for tests.
void watchdog_tick();
