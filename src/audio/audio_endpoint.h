#pragma once
// What the capture core needs from a sound system. A backend (pulse/) opens
// streams and hands out packets; the capture thread, the ring, the packet
// timing and the mixer stay in the core.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_state.h"

class AudioEndpoints {
 public:
  virtual ~AudioEndpoints() = default;
  // Everything the default output plays: `capture` in the output's own format
  // (stored in *format), `render` a started silent playback stream that keeps
  // the output producing packets while nothing plays.
  virtual bool open_system_loopback(std::unique_ptr<AudioClient>* render,
                                    std::unique_ptr<AudioClient>* capture, WaveFormat* format) = 0;
  // Process owning a top-level window; 0 when unknown.
  virtual uint32_t window_process_id(uint64_t window) = 0;
  // Only the sound of process `pid` and its descendants, in `format`, with
  // capture times that can always be trusted. Waits at most `timeout_ms` for
  // the sound system to set it up.
  virtual std::unique_ptr<AudioClient> open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                             uint32_t timeout_ms) = 0;
  // Input `device_id` (empty: the default input), converted to `format`.
  virtual std::unique_ptr<AudioClient> open_microphone(const std::string& device_id,
                                                       const WaveFormat& format) = 0;
  // Active inputs that are not monitors of an output, in the server's order.
  virtual uint32_t enumerate_microphones(std::string* names, std::string* ids, uint32_t max) = 0;
  virtual bool application_audio_supported() = 0;
};

// The endpoints in use: those installed by audio_set_endpoints, else the
// PulseAudio backend.
AudioEndpoints* audio_endpoints();
// Tests install a scripted sound system; nullptr restores the default.
void audio_set_endpoints(AudioEndpoints* endpoints);

// The sound system of the platform the build is for (PulseAudio on Linux).
AudioEndpoints* system_audio_endpoints();
