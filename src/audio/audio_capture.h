#pragma once
// Opening, running and closing the audio capture streams of a recording, and
// the list of inputs for the settings dialog.
#include <cstdint>
#include <string>

#include "audio/audio_state.h"
#include "platform/mul_div.h"

// How long application-audio set-up may take before it counts as a failure.
constexpr uint32_t kApplicationAudioTimeoutMs = 5000;
constexpr uint32_t kMaxMicrophones = 32;

// Application audio of the window's process tree (`window` an X window id),
// or, with window 0, everything the default output plays.
bool open_loopback_capture(AudioCapture* capture, uint64_t window);
// Application audio of process `pid` and its descendants.
bool open_process_loopback_capture(AudioCapture* capture, uint32_t pid);
// The input `device_id` (empty: the default input), in `imposed_format` when
// given, else in the default capture format. A missing input fails.
bool open_microphone_capture(AudioCapture* capture, const std::string& device_id,
                             const WaveFormat* imposed_format);
// Stops the stream (and its silent companion) and lets the capture thread
// put the last packets captured before `stop_time` (counter ticks; 0: now)
// into the ring, waiting a bounded time for it. The record stays open for
// the final drain.
void audio_capture_stop(AudioCapture* capture, int64_t stop_time);
// Ends the capture thread and frees what the record owns; the caller zeroes
// the record afterwards.
void close_capture(AudioCapture* capture);
// Puts a closed record back to all zero.
void audio_capture_zero(AudioCapture* capture);

struct AudioPacket {
  const uint8_t* data = nullptr;  // points into the ring
  uint32_t frames = 0;
  uint64_t time = 0;  // counter ticks
};

// The oldest unreleased packet, not released. `start_time` is the encoder's
// stream start time (never 0 here).
bool read_packet(AudioCapture* capture, uint64_t start_time, AudioPacket* out);

// Fills up to 32 entries of either array (null skips it); returns the count.
uint32_t enumerate_microphones(std::string* names, std::string* ids);
bool application_audio_supported();
