// How full an audio capture ring is, as frame intake and the watchdog see it.
// Read without a lock: the positions only move forward, so the result is a
// fair estimate even while the capture thread writes.
#include "audio/audio_state.h"
#include "video/intake/intake_links.h"

bool audio_capture_level(const AudioCapture& capture, uint32_t* fill, uint32_t* size) {
  if (capture.audio_client == nullptr) return false;
  *size = capture.ring_size;
  // 32-bit positions: the difference is right across a wrap.
  *fill = capture.ring_size != 0 ? capture.write_pos.load(std::memory_order_acquire) -
                                       capture.read_pos.load(std::memory_order_acquire)
                                 : 0;
  return true;
}
