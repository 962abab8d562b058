#pragma once
// Rate control and stream structure through a stream's ICodecAPI.
#include <windows.h>
#include <strmif.h>

#include "video/encode/media_writer.h"

// Sets, in order, the rate-control mode, the mean bit rate, the key-frame
// distance, low latency and the B-picture count. Each value's result is
// ignored: an encoder keeps its own value for a setting it refuses.
void mf_apply_codec_settings(ICodecAPI* api, const CodecSettings& settings);
