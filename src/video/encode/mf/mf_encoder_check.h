#pragma once
// Whether Media Foundation has a video encoder for a recording's codec and
// input: on the capture adapter (by its LUID) when hardware is asked for,
// in software otherwise.
#include <cstdint>
#include <string>

#include "video/encode/media_writer.h"

struct MfEncoderCheck {
  int32_t result = 0;   // of the enumeration; negative: it failed
  uint32_t count = 0;   // encoders found
  std::string name;     // the first one's friendly name; empty when none
};

// Enumerates with MFTEnum2 and releases what it found: the enumeration only
// proves that a suitable encoder exists; the sink writer loads its own.
MfEncoderCheck mf_check_video_encoder(const VideoEncoderRequest& request);
