#pragma once
// A screen-cast stream from PipeWire as a capture source: the stream runs
// on PipeWire's own loop thread and hands each new picture (BGRx or BGRA in
// memory) to the sink there, paced like the X11 source.
#include <cstdint>
#include <functional>
#include <vector>

#include "capture/capture_service.h"

// Connects to PipeWire through `fd` (taken over, closed on failure too) and
// to `node`, and waits for the picture format. `on_delete` runs when the
// source is deleted (the portal session ends with it). Null on failure.
CaptureSource* pipewire_open_source(int fd, uint32_t node, int32_t* width, int32_t* height, uint32_t* rate_num,
                                    uint32_t* rate_den, std::function<void()> on_delete);

// The newest picture of a source that was not started, as rows of B, G, R,
// A packed 4 * width bytes apart; waits a little for the first one.
bool pipewire_source_still(CaptureSource* source, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height);

// The compositor or the user ended the stream's session: the source reports
// a closed target. Safe from any thread while the source exists.
void pipewire_source_session_closed(CaptureSource* source);
