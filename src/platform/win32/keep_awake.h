#pragma once
// The system does not sleep while a recording runs; the display may still
// turn off.

enum class KeepAwakeMode { kNone, kPowerRequest, kExecutionState };

// On: a system-required power request where the system offers them, else
// the calling thread's execution state. Off: the request is cleared, or the
// execution state from before is restored (same thread). Returns the means
// now in force (kNone after off).
KeepAwakeMode keep_system_awake(bool on);
