#pragma once
// What frame intake needs from its neighbours: the encoder it feeds and the
// audio rings whose fill it watches (the stop request is core/message_loop.h).
#include <cstdint>

#include "video/encode/encoder.h"
#include "capture/image.h"
#include "core/message_loop.h"  // post_stop_request

struct AudioCapture;

// encoder_submit_video (video/encode/encoder.h) hands one frame to the encoder;
// false when the encoder refused it.
// The encoder's write_failed flag (atomic read).
bool encoder_write_failed();
// Bytes the writer has processed; false while no statistics are available.
bool encoder_written_bytes(uint64_t* bytes);
// Whether the stream is open; when it is, its ring's fill and size in bytes
// (size 0 while the ring does not exist). Read without a lock.
bool audio_capture_level(const AudioCapture& capture, uint32_t* fill, uint32_t* size);
