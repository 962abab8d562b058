#pragma once
// The sound of one process and its descendants, through the engine's
// process-loopback virtual device.
#include <windows.h>
#include <audioclient.h>

#include <cstdint>

#include "platform/win32/com_ptr.h"

// Activates an audio client for `pid`'s process tree, waiting at most
// `timeout_ms` for the engine. Null on failure or time-out.
ComPtr<IAudioClient> activate_process_loopback(uint32_t pid, uint32_t timeout_ms);
