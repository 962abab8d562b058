#pragma once
// Plain streams on one server connection: a capture of a source (an input,
// or the monitor of an output) and the silent playback that keeps an output
// running.
#include <atomic>
#include <functional>
#include <mutex>
#include <memory>
#include <string>

#include "audio/audio_client.h"
#include "audio/pulse/pulse_connection.h"

// Finds the source to record again after the server came back: sets its
// name and, for the monitor of the default output, a started silent stream
// that keeps that output running. Bounded by `timeout_ms`.
using PulseSourceResolver = std::function<bool(PulseConnection* c, uint32_t timeout_ms, std::string* source,
                                               std::unique_ptr<AudioClient>* keeper)>;

class PulseRecordClient final : public AudioClient {
 public:
  // Records `source` in `format`, corked until start(). The stream never
  // follows the source's replacement: when the source goes away, the stream
  // fails. `resolve` (may be empty: no reopening) finds the source again.
  // Null when the server refuses.
  static std::unique_ptr<PulseRecordClient> open(std::unique_ptr<PulseConnection> connection,
                                                 const std::string& source, const WaveFormat& format,
                                                 PulseSourceResolver resolve);
  ~PulseRecordClient() override;

  // Callbacks run with the loop locked, so once this returns none is still
  // using the previous event.
  void set_event_handle(AutoResetEvent* event) override;
  bool start() override;
  void stop() override;
  bool get_buffer(AudioBuffer* out) override;
  void release_buffer(uint32_t frames) override;
  bool reopen() override;

 private:
  PulseRecordClient() = default;
  static void read_cb(pa_stream* s, size_t bytes, void* self);
  static void state_cb(pa_stream* s, void* self);
  static void latency_cb(pa_stream* s, void* self);
  // With c locked: a new record stream on `source`, ready.
  pa_stream* connect(PulseConnection* c, const std::string& source, bool corked, uint32_t timeout_ms);
  // Whether the packet of `frames` at frames_read_, read now, is part of
  // sound the server held back: after this process stood still (then
  // catching_up_ is set until the reading keeps to the clock again), or
  // more than a few fragments waiting.
  bool backlogged(uint64_t frames);
  // The capture time given for the packet at frames_read_, from the time
  // measured for it now.
  int64_t packet_time(int64_t measured, bool backlogged);

  // Guards the connection, the stream and the keeper against replacement by
  // reopen() while the thread that owns the recording stops it.
  std::mutex swap_;
  std::unique_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
  std::unique_ptr<AudioClient> keeper_;  // a reopened output's silent stream
  PulseSourceResolver resolve_;
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  std::atomic<AutoResetEvent*> event_{nullptr};
  std::atomic<bool> stopped_{false};
  uint32_t block_align_ = 0;
  uint32_t rate_ = 0;
  uint64_t frames_read_ = 0;  // device position: running frame count
  int64_t lost_at_ = 0;       // clock when the stream was found failed
  // Capture times: the stream's frames are contiguous, so a packet's time
  // is the anchor's plus its frames at the nominal rate, nudged towards the
  // measured time (which jitters by milliseconds) by a sixteenth of the
  // difference each packet. That follows a device clock that runs off, while
  // one late wake-up no longer shows as a gap in the sound.
  bool anchored_ = false;
  int64_t last_look_ = 0;          // counter value of the last get_buffer()
  bool stood_still_ = false;       // seen a quarter of a second without one
  bool catching_up_ = false;       // reading what the server kept during a stall
  int64_t pace_time_ = 0;          // since then (counter value) ...
  uint64_t pace_frames_ = 0;       // ... with the frames read up to here, the reading kept to the clock
  bool awaiting_timing_ = false;   // caught up; the latency figure is still the old one
  uint32_t awaited_update_ = 0;    // timing_updates_ when it was asked for
  int64_t awaiting_until_ = 0;     // counter value after which the old one is taken
  std::atomic<uint32_t> timing_updates_{0};  // latency figures received (loop thread)
  int64_t anchor_time_ = 0;
  uint64_t anchor_frames_ = 0;
  int64_t correction_ = 0;
  bool peeked_ = false;
};

class PulseSilentPlayback final : public AudioClient {
 public:
  // Plays silence on `sink` in its own format until stopped; corked until
  // start() unless `corked` is false.
  static std::unique_ptr<PulseSilentPlayback> open(std::unique_ptr<PulseConnection> connection,
                                                   const std::string& sink, const pa_sample_spec& ss,
                                                   const pa_channel_map& map,
                                                   uint32_t timeout_ms = kPulseRequestTimeoutMs,
                                                   bool corked = true);
  ~PulseSilentPlayback() override;

  void set_event_handle(AutoResetEvent*) override {}
  bool start() override;
  void stop() override;
  bool get_buffer(AudioBuffer* out) override { *out = AudioBuffer{}; return false; }
  void release_buffer(uint32_t) override {}

 private:
  PulseSilentPlayback() = default;
  static void write_cb(pa_stream* s, size_t bytes, void* self);

  std::unique_ptr<PulseConnection> connection_;
  pa_stream* stream_ = nullptr;
};

// Connects `stream` for recording from `source` and waits until it runs.
bool pulse_connect_record(PulseConnection* c, pa_stream* stream, const char* source, uint32_t fragment_bytes,
                          pa_stream_flags_t extra_flags, uint32_t timeout_ms = kPulseRequestTimeoutMs);
// Capture time of the first frame of the fragment about to be read, on the
// platform clock.
int64_t pulse_fragment_capture_time(pa_stream* stream, uint64_t fragment_frames, uint32_t rate);
