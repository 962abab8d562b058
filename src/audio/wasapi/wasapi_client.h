#pragma once
// Streams of the Windows sound engine (shared mode) as the capture core
// sees them.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <memory>

#include "audio/audio_client.h"
#include "platform/win32/com_ptr.h"

// Initialises `client` in shared mode for capture with `flags` (event-driven
// always), `duration` (100 ns) and `format`, and wraps it with its capture
// service. Null when any step fails.
std::unique_ptr<AudioClient> wasapi_open_capture(ComPtr<IAudioClient> client, DWORD flags, REFERENCE_TIME duration,
                                                 const WAVEFORMATEX* format);

// The silent stream beside a system loopback, already started: one second
// of silence handed to the output, so that its engine keeps producing
// loopback packets while nothing plays. Null when it cannot run.
std::unique_ptr<AudioClient> wasapi_open_silent_render(IMMDevice* device);

// The calling thread is in COM's multithreaded apartment unless it already
// joined one; it stays until the thread ends.
void wasapi_join_com();
