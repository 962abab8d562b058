#pragma once
// Frame intake: the handler the capture session calls for every frame.
#include <cstdint>

#include "capture/capture_state.h"

// Paces, governs and submits one frame; a null frame means the target went
// away. Always returns true: stops are requested by message.
bool on_frame_arrived(Capture* capture, const CapturedFrame* frame);

// Zeroes the gate, the window and the per-recording intake state. Recording
// start calls it after encoder set-up has succeeded.
void intake_reset();

// Whether the length limit is reached at recording-clock time t (paused
// time left out); when it is, the recording's end is fixed at the limit.
// Frame intake and the watchdog timer both ask it.
bool length_limit_reached(int64_t t);
// Whether the length or size limit is reached at intake time t.
bool intake_limit_reached(int64_t t);

// Ticks per second of the counter (the platform default when unset).
int64_t intake_qpc_frequency();
