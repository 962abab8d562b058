#include "audio/pulse/pulse_streams.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/event.h"

namespace {

void signal_loop_cb(pa_stream*, void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

bool wait_ready(PulseConnection* c, pa_stream* s, uint32_t timeout_ms) {
  bool settled = c->wait_until(
      [&] {
        pa_stream_state_t st = pa_stream_get_state(s);
        return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
      },
      timeout_ms);
  return settled && pa_stream_get_state(s) == PA_STREAM_READY;
}

void drop_stream(pa_stream* s) {
  if (!s) return;
  pa_stream_set_read_callback(s, nullptr, nullptr);
  pa_stream_set_write_callback(s, nullptr, nullptr);
  pa_stream_set_latency_update_callback(s, nullptr, nullptr);
  pa_stream_set_state_callback(s, nullptr, nullptr);
  if (pa_stream_get_state(s) == PA_STREAM_READY || pa_stream_get_state(s) == PA_STREAM_CREATING) {
    pa_stream_disconnect(s);
  }
  pa_stream_unref(s);
}
}  // namespace

bool pulse_connect_record(PulseConnection* c, pa_stream* stream, const char* source, uint32_t fragment_bytes,
                          pa_stream_flags_t extra_flags, uint32_t timeout_ms) {
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(-1);
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = fragment_bytes;
  pa_stream_set_state_callback(stream, signal_loop_cb, c->loop());
  auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                              PA_STREAM_ADJUST_LATENCY | extra_flags);
  if (pa_stream_connect_record(stream, source, &attr, flags) < 0) return false;
  return wait_ready(c, stream, timeout_ms);
}

int64_t pulse_fragment_capture_time(pa_stream* stream, uint64_t fragment_frames, uint32_t rate) {
  const int64_t now = qpc_now();
  // Everything not yet read (the fragment being read included) was captured
  // back to back before now; the server adds its own delay from the device
  // and the transfer. The stream's latency figure is not used: for the
  // monitor of an output it counts how far the output has rendered ahead,
  // which says nothing about when the client got the data.
  size_t unread = pa_stream_readable_size(stream);
  const pa_sample_spec* ss = pa_stream_get_sample_spec(stream);
  int64_t back = 0;
  if (unread != static_cast<size_t>(-1) && ss) {
    back = static_cast<int64_t>(pa_bytes_to_usec(unread, ss)) * 10;
  } else {
    back = static_cast<int64_t>(fragment_frames * 10'000'000 / (rate ? rate : 1));
  }
  if (const pa_timing_info* ti = pa_stream_get_timing_info(stream)) {
    back += static_cast<int64_t>(ti->source_usec + ti->transport_usec) * 10;
  }
  return now - back;
}

pa_stream* PulseRecordClient::connect(PulseConnection* c, const std::string& source, bool corked,
                                      uint32_t timeout_ms) {
  pa_stream* s = pa_stream_new(c->context(), "Frelvanta capture", &spec_, &map_);
  if (!s) return nullptr;
  pa_stream_set_read_callback(s, read_cb, this);
  // A fragment of 10 ms, the usual period of a sound device (a server that
  // is left to choose hands out seconds at a time).
  const uint32_t fragment = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec_));
  // Never moved: an input that goes away must not be replaced by whatever
  // the server would pick instead; the stream fails and is reopened on the
  // same source when it is back.
  auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | (corked ? PA_STREAM_START_CORKED : 0));
  if (!pulse_connect_record(c, s, source.c_str(), fragment, flags, timeout_ms)) {
    drop_stream(s);
    return nullptr;
  }
  // Wakes the capture thread at once when the stream fails.
  pa_stream_set_state_callback(s, state_cb, this);
  pa_stream_set_latency_update_callback(s, latency_cb, this);
  return s;
}

std::unique_ptr<PulseRecordClient> PulseRecordClient::open(std::unique_ptr<PulseConnection> connection,
                                                           const std::string& source, const WaveFormat& format,
                                                           PulseSourceResolver resolve) {
  std::unique_ptr<PulseRecordClient> client(new PulseRecordClient());
  if (!connection || source.empty() || !pulse_spec_from_format(format, &client->spec_, &client->map_)) {
    return nullptr;
  }
  client->block_align_ = format.nBlockAlign;
  client->rate_ = format.nSamplesPerSec;
  client->resolve_ = std::move(resolve);
  PulseConnection* c = connection.get();
  client->connection_ = std::move(connection);
  PulseLock lock(c);
  client->stream_ = client->connect(c, source, true, kPulseRequestTimeoutMs);
  if (!client->stream_) return nullptr;
  return client;
}

PulseRecordClient::~PulseRecordClient() {
  if (keeper_) keeper_->stop();
  keeper_.reset();
  if (!connection_) return;
  {
    PulseLock lock(connection_.get());
    drop_stream(stream_);
    stream_ = nullptr;
  }
  connection_.reset();
}

void PulseRecordClient::set_event_handle(AutoResetEvent* event) {
  std::lock_guard<std::mutex> guard(swap_);
  PulseLock lock(connection_.get());
  event_.store(event);
}

void PulseRecordClient::read_cb(pa_stream*, size_t, void* self) {
  auto* me = static_cast<PulseRecordClient*>(self);
  AutoResetEvent* e = me->event_.load();
  if (e) e->set();
}

void PulseRecordClient::state_cb(pa_stream* s, void* self) {
  auto* me = static_cast<PulseRecordClient*>(self);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(s))) return;
  AutoResetEvent* e = me->event_.load();
  if (e) e->set();
}

bool PulseRecordClient::start() {
  std::lock_guard<std::mutex> guard(swap_);
  PulseLock lock(connection_.get());
  stopped_ = false;
  // Returns once the server runs the stream, not when data flows: a device
  // that was idle may sleep through most of its long idle period first (an
  // idle null output: up to two seconds), and the recording must not wait
  // for it. Each packet carries its capture time, so sound that starts late
  // is still placed where it was captured.
  if (!connection_->wait_operation(pa_stream_cork(stream_, 0, nullptr, nullptr), kPulseRequestTimeoutMs)) {
    return false;
  }
  return pa_stream_get_state(stream_) == PA_STREAM_READY;
}

// Nothing is asked of the server, which may have stopped answering: the
// capture thread lets packets captured after the stop go unstored, and the
// stream ends when it is closed. Until then it keeps delivering, so that
// what was captured just before the stop still arrives.
void PulseRecordClient::stop() {
  std::lock_guard<std::mutex> guard(swap_);
  stopped_ = true;
}

bool PulseRecordClient::get_buffer(AudioBuffer* out) {
  *out = AudioBuffer{};
  PulseLock lock(connection_.get());
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
    if (lost_at_ == 0) lost_at_ = qpc_now();
    return false;
  }
  // The capture thread looks at least every tenth of a second, data or
  // not. A quarter of a second since the last look, once the stream runs:
  // this process stood still, and the server hands over what it kept
  // meanwhile, faster than it comes. (A quiet source that only delivers
  // late, such as an idle output waking up, is no such case: nothing was
  // kept for this side.)
  const int64_t now = qpc_now();
  if (anchored_ && last_look_ != 0 && now - last_look_ > 10'000'000 / 4) stood_still_ = true;
  last_look_ = now;
  const void* data = nullptr;
  size_t bytes = 0;
  if (pa_stream_peek(stream_, &data, &bytes) < 0) return false;
  if (bytes == 0) return true;
  uint64_t frames = bytes / block_align_;
  if (frames == 0) {  // a torn frame: nothing usable
    pa_stream_drop(stream_);
    return true;
  }
  peeked_ = true;
  out->data = static_cast<const uint8_t*>(data);
  out->frames = static_cast<uint32_t>(frames);
  out->flags = data ? 0 : AUDIO_BUFFER_SILENT;  // a hole in the stream reads as silence
  out->device_position = frames_read_;
  const bool held = backlogged(frames);
  out->qpc_position = static_cast<uint64_t>(packet_time(pulse_fragment_capture_time(stream_, frames, rate_), held));
  return true;
}

bool PulseRecordClient::backlogged(uint64_t frames) {
  const int64_t now = qpc_now();
  const uint64_t read = frames_read_ + frames;
  if (stood_still_) {
    stood_still_ = false;
    catching_up_ = true;
    pace_time_ = now;
    pace_frames_ = read;
  }
  if (catching_up_) {
    // The hand-over is over once the reading has kept to the clock for a
    // tenth of a second (a server that is itself busy hands over in spurts,
    // with pauses of several milliseconds between them). It may be shorter
    // than the stall: the server drops what it cannot hold.
    const int64_t span = now - pace_time_;
    const int64_t taken = static_cast<int64_t>((read - pace_frames_) * 10'000'000 / rate_);
    if (taken > span + span / 4 + 20 * 10000) {
      pace_time_ = now;
      pace_frames_ = read;
    } else if (span >= 10'000'000 / 10) {
      // The server's latency figure still dates from the hand-over (sound
      // on its way to this side then counts in it, up to 15 ms, and it is
      // renewed only every second and a half): the measurements are taken
      // up again with the next one.
      catching_up_ = false;
      pa_operation* op = pa_stream_update_timing_info(stream_, nullptr, nullptr);
      if (op) pa_operation_unref(op);
      awaiting_timing_ = op != nullptr;
      awaited_update_ = timing_updates_;
      awaiting_until_ = now + 10'000'000 / 2;
    }
  }
  if (awaiting_timing_ && (timing_updates_ != awaited_update_ || now >= awaiting_until_)) awaiting_timing_ = false;
  const size_t unread = pa_stream_readable_size(stream_);
  return catching_up_ || (unread != static_cast<size_t>(-1) && unread > uint64_t{rate_} / 25 * block_align_);
}

void PulseRecordClient::latency_cb(pa_stream*, void* self) { ++static_cast<PulseRecordClient*>(self)->timing_updates_; }

int64_t PulseRecordClient::packet_time(int64_t measured, bool backlogged) {
  // Beyond this the stream really lost or skipped data (the server dropped
  // what it could not hold while this process stood still, or the stream was
  // set up again): the measured time is taken as it is.
  constexpr int64_t kResync = 100 * 10000;
  if (anchored_ && rate_ != 0) {
    const int64_t predicted =
        anchor_time_ + static_cast<int64_t>((frames_read_ - anchor_frames_) * 10'000'000 / rate_) + correction_;
    const int64_t d = measured - predicted;
    // After this process stood still the server hands over what it held
    // for it, seconds of sound at once. The measurement only sees what has
    // reached this side, so it takes that old sound for new: by up to the
    // whole stall, and still by tens of milliseconds towards the end of the
    // hand-over, where following it would put the sound after the stall
    // early or late for seconds. The count of frames read places it where it
    // was captured. Once the backlog is read, a measurement that still
    // differs is a real loss.
    if (d >= -kResync && (catching_up_ || awaiting_timing_)) return predicted;
    if (d >= -kResync && d <= kResync) {
      correction_ += d / 16;
      return predicted + d / 16;
    }
    if (d > kResync && backlogged) return predicted;
  }
  anchored_ = true;
  anchor_time_ = measured;
  anchor_frames_ = frames_read_;
  correction_ = 0;
  return measured;
}

void PulseRecordClient::release_buffer(uint32_t frames) {
  PulseLock lock(connection_.get());
  if (!peeked_) return;
  pa_stream_drop(stream_);
  peeked_ = false;
  frames_read_ += frames;
}

bool PulseRecordClient::reopen() {
  if (!resolve_ || stopped_) return false;
  constexpr uint32_t kReopenMs = 800;
  const int64_t deadline = qpc_now() + int64_t{kReopenMs} * 10000;
  auto left = [&]() -> uint32_t {
    const int64_t ms = (deadline - qpc_now()) / 10000;
    return ms > 0 ? static_cast<uint32_t>(ms) : 0;
  };
  std::unique_ptr<PulseConnection> c = PulseConnection::open("Frelvanta", left());
  if (!c) return false;
  std::string source;
  std::unique_ptr<AudioClient> keeper;
  if (!resolve_(c.get(), left(), &source, &keeper) || source.empty()) return false;
  pa_stream* s = nullptr;
  {
    PulseLock lock(c.get());
    s = connect(c.get(), source, false, left());
  }
  if (!s) return false;
  std::lock_guard<std::mutex> guard(swap_);
  if (stopped_) {
    PulseLock lock(c.get());
    drop_stream(s);
    return false;
  }
  {
    PulseLock lock(connection_.get());
    drop_stream(stream_);
  }
  connection_.reset();
  keeper_ = std::move(keeper);
  connection_ = std::move(c);
  PulseLock lock(connection_.get());
  stream_ = s;
  peeked_ = false;
  anchored_ = false;  // a new stream: its first packet is timed afresh
  last_look_ = 0;
  stood_still_ = false;
  catching_up_ = false;
  awaiting_timing_ = false;
  // The device position runs on through the gap, as if the silence had been
  // captured: streams timed by it stay on the recording's clock.
  if (lost_at_ != 0) frames_read_ += static_cast<uint64_t>((qpc_now() - lost_at_) * int64_t{rate_} / 10'000'000);
  lost_at_ = 0;
  return true;
}

std::unique_ptr<PulseSilentPlayback> PulseSilentPlayback::open(std::unique_ptr<PulseConnection> connection,
                                                               const std::string& sink,
                                                               const pa_sample_spec& ss,
                                                               const pa_channel_map& map, uint32_t timeout_ms,
                                                               bool corked) {
  if (!connection) return nullptr;
  std::unique_ptr<PulseSilentPlayback> p(new PulseSilentPlayback());
  PulseConnection* c = connection.get();
  p->connection_ = std::move(connection);
  PulseLock lock(c);
  pa_proplist* props = pa_proplist_new();
  // Tells policy modules not to cork or duck it: it is silent by design.
  pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
  p->stream_ = pa_stream_new_with_proplist(c->context(), "Frelvanta keep-alive", &ss, &map, props);
  pa_proplist_free(props);
  if (!p->stream_) return nullptr;
  pa_stream_set_state_callback(p->stream_, signal_loop_cb, c->loop());
  pa_stream_set_write_callback(p->stream_, write_cb, p.get());
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(200000, &ss));
  attr.prebuf = 0;  // never wait for data: an underrun keeps the stream running
  attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(corked ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS);
  if (pa_stream_connect_playback(p->stream_, sink.c_str(), &attr, flags, nullptr, nullptr) < 0 ||
      !wait_ready(c, p->stream_, timeout_ms)) {
    drop_stream(p->stream_);
    p->stream_ = nullptr;
    return nullptr;
  }
  return p;
}

PulseSilentPlayback::~PulseSilentPlayback() {
  if (!connection_) return;
  {
    PulseLock lock(connection_.get());
    drop_stream(stream_);
    stream_ = nullptr;
  }
  connection_.reset();
}

void PulseSilentPlayback::write_cb(pa_stream* s, size_t bytes, void*) {
  while (bytes > 0) {
    void* buf = nullptr;
    size_t n = bytes;
    if (pa_stream_begin_write(s, &buf, &n) < 0 || !buf || n == 0) return;
    std::memset(buf, 0, n);
    if (pa_stream_write(s, buf, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes = n < bytes ? bytes - n : 0;
  }
}

bool PulseSilentPlayback::start() {
  PulseLock lock(connection_.get());
  return connection_->wait_operation(pa_stream_cork(stream_, 0, nullptr, nullptr), kPulseRequestTimeoutMs);
}

// Sent, not awaited, like the capture stream's cork.
void PulseSilentPlayback::stop() {
  PulseLock lock(connection_.get());
  if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
    pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr);
    if (op) pa_operation_unref(op);
  }
}
