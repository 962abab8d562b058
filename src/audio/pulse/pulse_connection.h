#pragma once
// A private connection to the sound server: a threaded main loop and its
// context. Every pa_* call on it runs with the loop locked.
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "audio/audio_state.h"

class PulseConnection {
 public:
  // Connects within `timeout_ms`; null when no server answers.
  static std::unique_ptr<PulseConnection> open(const char* client_name, uint32_t timeout_ms);
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  void lock() { pa_threaded_mainloop_lock(loop_); }
  void unlock() { pa_threaded_mainloop_unlock(loop_); }
  pa_context* context() const { return context_; }
  pa_threaded_mainloop* loop() const { return loop_; }
  const pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  // With the loop locked: lets the loop run until `done` holds or the time
  // runs out (false). Set-up paths only.
  bool wait_until(const std::function<bool()>& done, uint32_t timeout_ms);
  // With the loop locked: waits for `op` (may be null: false) and unrefs it.
  bool wait_operation(pa_operation* op, uint32_t timeout_ms);

 private:
  PulseConnection() = default;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

class PulseLock {
 public:
  explicit PulseLock(PulseConnection* c) : c_(c) { c_->lock(); }
  ~PulseLock() { c_->unlock(); }
  PulseLock(const PulseLock&) = delete;
  PulseLock& operator=(const PulseLock&) = delete;

 private:
  PulseConnection* c_;
};

// How long any one set-up request to the server may take.
constexpr uint32_t kPulseRequestTimeoutMs = 5000;

// The sample layout that carries `f` on the wire; false for layouts the
// server cannot take.
bool pulse_spec_from_format(const WaveFormat& f, pa_sample_spec* ss, pa_channel_map* map);
// The format a capture of a device with `ss` delivers: its rate and
// channels, as 16-bit integers when the device uses them, else 32-bit float.
WaveFormat pulse_capture_format(const pa_sample_spec& ss, const pa_channel_map& map);
