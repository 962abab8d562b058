#pragma once
#include <cstdint>
#include <memory>

#include "audio/audio_client.h"
#include "audio/audio_state.h"

// The sound of process `pid` and its descendants, as one stream in `format`
// (32-bit float). Each of their playback streams is followed through the
// server's per-stream monitor, so the streams keep playing where the user
// sent them and nothing in the server's routing changes; streams that start
// later are picked up as they appear. Null when the server is not reachable
// within `timeout_ms`.
std::unique_ptr<AudioClient> pulse_open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                         uint32_t timeout_ms);

// true when `pid` is `root` or one of its descendants (walks /proc).
bool process_in_tree(uint32_t pid, uint32_t root);
