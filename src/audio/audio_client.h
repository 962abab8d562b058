#pragma once
// One running stream of the sound system, as the capture thread sees it.
#include <cstdint>

class AutoResetEvent;

// Packet flag: the packet's bytes are silence and need not be read.
constexpr uint32_t AUDIO_BUFFER_SILENT = 2;

struct AudioBuffer {
  const uint8_t* data = nullptr;
  uint32_t frames = 0;  // 0: no packet queued
  uint32_t flags = 0;
  uint64_t device_position = 0;  // running frame count of the stream at the packet's first frame
  uint64_t qpc_position = 0;     // capture time of the first frame, 100 ns on the platform clock
};

// One running stream. Calls come from the capture thread (buffers) and from
// the thread that opened the stream (start, stop, destruction).
class AudioClient {
 public:
  virtual ~AudioClient() = default;
  // Signalled (auto-reset) whenever packets are ready. Set before start().
  virtual void set_event_handle(AutoResetEvent* event) = 0;
  virtual bool start() = 0;
  // The recording ends. Never waits on the sound server for long: it runs
  // under the lock recording stop holds for the final drain. Packets may
  // still come; the capture thread keeps those captured before the stop and
  // lets the rest go. A stream that holds sound back (application audio)
  // hands it out now.
  virtual void stop() = 0;
  // The oldest queued packet, left in place until release_buffer(frames).
  // false: the stream failed; frames 0: nothing queued.
  virtual bool get_buffer(AudioBuffer* out) = 0;
  virtual void release_buffer(uint32_t frames) = 0;
  // Capture thread, after get_buffer reported a failed stream: one bounded
  // attempt (well under a second) to set the stream up again, started, on
  // the same device (the output's monitor follows the default output). A
  // stream never moves to another device on its own. false: still gone.
  virtual bool reopen() { return false; }
};
