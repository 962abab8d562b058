#include "audio/pulse/pulse_process_loopback.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "audio/pulse/pulse_connection.h"
#include "audio/pulse/pulse_streams.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace {
constexpr uint32_t kTimelineFrames = 1u << 17;  // about 2.7 s at 48 kHz
constexpr uint32_t kPacketFrames = 480;         // 10 ms at 48 kHz, a device period
constexpr int64_t kTickUs = 10000;
// Fragments reach the client a little after they were played, later still
// on a busy machine; the timeline is handed out this far behind the clock so
// that late fragments still land.
constexpr int64_t kSettleTicks = 200 * 10000;
// A followed stream is continuous while its output plays, so a fragment that
// seems early or late by less than this is arrival jitter, not a gap.
constexpr int64_t kReplaceMs = 100;

uint32_t parent_of(uint32_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  FILE* f = std::fopen(path, "re");
  if (!f) return 0;
  char buf[512];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
  const char* close = std::strrchr(buf, ')');
  if (!close) return 0;
  char state = 0;
  unsigned ppid = 0;
  if (std::sscanf(close + 1, " %c %u", &state, &ppid) != 2) return 0;
  return ppid;
}
}  // namespace

bool process_in_tree(uint32_t pid, uint32_t root) {
  for (int depth = 0; depth < 64 && pid > 1; ++depth) {
    if (pid == root) return true;
    pid = parent_of(pid);
  }
  return pid == root && root != 0;
}

namespace {
class PulseProcessLoopback;

struct Follower {
  PulseProcessLoopback* owner = nullptr;
  uint32_t sink_input = PA_INVALID_INDEX;
  pa_stream* stream = nullptr;
  bool placed = false;
  int64_t next_pos = 0;
};

class PulseProcessLoopback final : public AudioClient {
 public:
  bool open(uint32_t pid, const WaveFormat& format, uint32_t timeout_ms);
  ~PulseProcessLoopback() override;

  void set_event_handle(AutoResetEvent* event) override {
    std::lock_guard<std::mutex> guard(swap_);
    PulseLock lock(c_.get());
    event_.store(event);
  }
  bool start() override;
  void stop() override;
  bool get_buffer(AudioBuffer* out) override;
  void release_buffer(uint32_t frames) override;
  bool reopen() override;

 private:
  static void subscribe_cb(pa_context* c, pa_subscription_event_type_t t, uint32_t idx, void* self);
  static void sink_input_cb(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
  static void sink_cb(pa_context* c, const pa_sink_info* info, int eol, void* self);
  static void read_cb(pa_stream* s, size_t bytes, void* follower);
  static void timer_cb(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);

  void consider(const pa_sink_input_info* info);
  void follow(uint32_t sink_input, const std::string& monitor);
  void drop_follower(uint32_t sink_input);
  void take_fragment(Follower* f, const void* data, size_t bytes);
  // Subscribes to the server's streams and outputs, follows the process
  // tree's streams and starts the timer on `c`. With `c` locked.
  bool attach(PulseConnection* c, const std::function<uint32_t()>& remaining);
  // Stops following anything on the current connection. With it locked.
  void detach();

  // Guards the connection against replacement by reopen() while the thread
  // that owns the recording starts or stops the stream.
  std::mutex swap_;
  std::unique_ptr<PulseConnection> c_;
  uint32_t pid_ = 0;
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  uint32_t channels_ = 0;
  uint32_t rate_ = 0;
  std::map<uint32_t, std::string> sink_monitors_;  // sink index -> its monitor source
  std::set<uint32_t> waiting_for_sink_;            // sink inputs whose sink is not known yet
  std::map<uint32_t, Follower*> followers_;
  std::vector<float> timeline_;  // kTimelineFrames frames, indexed by position modulo its length
  pa_time_event* timer_ = nullptr;
  std::atomic<AutoResetEvent*> event_{nullptr};
  bool running_ = false;
  int64_t t0_ = 0;       // clock value of position 0
  int64_t emitted_ = 0;  // first position not yet handed out
  int64_t ready_ = 0;    // positions below this are final
  uint32_t peeked_ = 0;
  bool stopped_ = false;
};

bool PulseProcessLoopback::open(uint32_t pid, const WaveFormat& format, uint32_t timeout_ms) {
  if (!format.is_float || format.wBitsPerSample != 32 || !pulse_spec_from_format(format, &spec_, &map_)) return false;
  pid_ = pid;
  channels_ = format.nChannels;
  rate_ = format.nSamplesPerSec;
  timeline_.assign(size_t{kTimelineFrames} * channels_, 0.0f);
  const int64_t deadline = qpc_now() + int64_t{timeout_ms} * 10000;
  auto remaining = [&]() -> uint32_t {
    int64_t left = (deadline - qpc_now()) / 10000;
    return left > 0 ? static_cast<uint32_t>(left) : 0;
  };
  c_ = PulseConnection::open("Frelvanta application audio", timeout_ms);
  if (!c_) return false;
  PulseLock lock(c_.get());
  return attach(c_.get(), remaining);
}

bool PulseProcessLoopback::attach(PulseConnection* c, const std::function<uint32_t()>& remaining) {
  pa_context* ctx = c->context();
  pa_context_set_subscribe_callback(ctx, subscribe_cb, this);
  auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SINK);
  if (!c->wait_operation(pa_context_subscribe(ctx, mask, nullptr, nullptr), remaining())) return false;
  if (!c->wait_operation(pa_context_get_sink_info_list(ctx, sink_cb, this), remaining())) return false;
  if (!c->wait_operation(pa_context_get_sink_input_info_list(ctx, sink_input_cb, this), remaining())) return false;
  timer_ = pa_context_rttime_new(ctx, pa_rtclock_now() + kTickUs, timer_cb, this);
  return timer_ != nullptr;
}

void PulseProcessLoopback::detach() {
  pa_context_set_subscribe_callback(c_->context(), nullptr, nullptr);
  if (timer_) c_->api()->time_free(timer_);
  timer_ = nullptr;
  while (!followers_.empty()) drop_follower(followers_.begin()->first);
  sink_monitors_.clear();
  waiting_for_sink_.clear();
}

PulseProcessLoopback::~PulseProcessLoopback() {
  if (!c_) return;
  {
    PulseLock lock(c_.get());
    detach();
  }
  c_.reset();
}

void PulseProcessLoopback::subscribe_cb(pa_context* c, pa_subscription_event_type_t t, uint32_t idx, void* self) {
  auto* me = static_cast<PulseProcessLoopback*>(self);
  const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
      me->waiting_for_sink_.erase(idx);
      me->drop_follower(idx);
    } else {
      // New streams, and streams moved to another output (the server ends
      // their monitor then), are looked at again.
      pa_operation* op = pa_context_get_sink_input_info(c, idx, sink_input_cb, self);
      if (op) pa_operation_unref(op);
    }
  } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
      me->sink_monitors_.erase(idx);
    } else {
      pa_operation* op = pa_context_get_sink_info_by_index(c, idx, sink_cb, self);
      if (op) pa_operation_unref(op);
    }
  }
}

void PulseProcessLoopback::sink_cb(pa_context* c, const pa_sink_info* info, int eol, void* self) {
  auto* me = static_cast<PulseProcessLoopback*>(self);
  if (eol || !info) return;
  if (info->monitor_source_name) me->sink_monitors_[info->index] = info->monitor_source_name;
  // Streams that appeared on this output before it was known.
  for (uint32_t idx : std::set<uint32_t>(me->waiting_for_sink_)) {
    pa_operation* op = pa_context_get_sink_input_info(c, idx, sink_input_cb, self);
    if (op) pa_operation_unref(op);
  }
}

void PulseProcessLoopback::sink_input_cb(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
  if (eol || !info) return;
  static_cast<PulseProcessLoopback*>(self)->consider(info);
}

void PulseProcessLoopback::consider(const pa_sink_input_info* info) {
  const char* pid_text = info->proplist ? pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
  char* end = nullptr;
  unsigned long pid = pid_text ? std::strtoul(pid_text, &end, 10) : 0;
  if (!pid_text || end == pid_text || *end != 0 || pid == 0 || pid > 0xFFFFFFFFul ||
      !process_in_tree(static_cast<uint32_t>(pid), pid_)) {
    return;
  }
  auto known = followers_.find(info->index);
  if (known != followers_.end()) {
    pa_stream_state_t st = pa_stream_get_state(known->second->stream);
    if (PA_STREAM_IS_GOOD(st)) return;  // still following it
    drop_follower(info->index);
  }
  auto sink = sink_monitors_.find(info->sink);
  if (sink == sink_monitors_.end()) {
    waiting_for_sink_.insert(info->index);
    pa_operation* op = pa_context_get_sink_info_by_index(c_->context(), info->sink, sink_cb, this);
    if (op) pa_operation_unref(op);
    return;
  }
  waiting_for_sink_.erase(info->index);
  follow(info->index, sink->second);
}

void PulseProcessLoopback::follow(uint32_t sink_input, const std::string& monitor) {
  pa_stream* s = pa_stream_new(c_->context(), "Frelvanta application capture", &spec_, &map_);
  if (!s) return;
  auto* f = new Follower();
  f->owner = this;
  f->sink_input = sink_input;
  f->stream = s;
  if (pa_stream_set_monitor_stream(s, sink_input) < 0) {
    pa_stream_unref(s);
    delete f;
    return;
  }
  pa_stream_set_read_callback(s, read_cb, f);
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec_));
  auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                              PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(s, monitor.c_str(), &attr, flags) < 0) {
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_unref(s);
    delete f;
    return;
  }
  followers_[sink_input] = f;
}

void PulseProcessLoopback::drop_follower(uint32_t sink_input) {
  auto it = followers_.find(sink_input);
  if (it == followers_.end()) return;
  Follower* f = it->second;
  followers_.erase(it);
  pa_stream_set_read_callback(f->stream, nullptr, nullptr);
  pa_stream_state_t st = pa_stream_get_state(f->stream);
  if (st == PA_STREAM_READY || st == PA_STREAM_CREATING) pa_stream_disconnect(f->stream);
  pa_stream_unref(f->stream);
  delete f;
}

void PulseProcessLoopback::read_cb(pa_stream* s, size_t, void* follower) {
  auto* f = static_cast<Follower*>(follower);
  for (;;) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
    f->owner->take_fragment(f, data, bytes);
    pa_stream_drop(s);
  }
}

// Lays one fragment of a followed stream onto the shared timeline at the
// position of its capture time, adding it to what the other streams of the
// process tree played at the same moment.
void PulseProcessLoopback::take_fragment(Follower* f, const void* data, size_t bytes) {
  const uint32_t block = channels_ * 4;
  const int64_t frames = static_cast<int64_t>(bytes / block);
  if (frames == 0) return;
  if (!running_) {
    f->placed = false;
    return;
  }
  const int64_t captured = pulse_fragment_capture_time(f->stream, static_cast<uint64_t>(frames), rate_);
  const int64_t measured = (captured - t0_) * int64_t{rate_} / 10'000'000;
  int64_t pos = f->next_pos;
  // Fragments follow each other without gaps; the clock only re-places a
  // stream that was never placed or that really jumped.
  const int64_t drift = measured - pos;
  const int64_t limit = int64_t{rate_} * kReplaceMs / 1000;
  if (!f->placed || drift > limit || drift < -limit) {
    pos = measured;
    f->placed = true;
  }
  f->next_pos = pos + frames;
  if (!data) return;  // a hole: silence, nothing to add
  const auto* in = static_cast<const float*>(data);
  int64_t first = pos < ready_ ? ready_ : pos;  // what is already handed out cannot change
  int64_t last = pos + frames;
  if (last > emitted_ + kTimelineFrames) last = emitted_ + kTimelineFrames;
  for (int64_t p = first; p < last; ++p) {
    float* dst = &timeline_[static_cast<size_t>(p % kTimelineFrames) * channels_];
    const float* src = in + static_cast<size_t>(p - pos) * channels_;
    for (uint32_t ch = 0; ch < channels_; ++ch) dst[ch] += src[ch];
  }
}

void PulseProcessLoopback::timer_cb(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* self) {
  auto* me = static_cast<PulseProcessLoopback*>(self);
  // Followers whose stream the server ended (the playback stopped or moved).
  std::vector<uint32_t> dead;
  for (auto& [idx, f] : me->followers_) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(f->stream))) dead.push_back(idx);
  }
  for (uint32_t idx : dead) {
    me->drop_follower(idx);
    pa_operation* op = pa_context_get_sink_input_info(me->c_->context(), idx, sink_input_cb, self);
    if (op) pa_operation_unref(op);
  }
  if (me->running_) {
    // Take in whatever already arrived before the timeline moves past it:
    // after a stall the timer may run before the streams' own callbacks.
    for (auto& [idx, f] : me->followers_) read_cb(f->stream, 0, f);
    int64_t target = (qpc_now() - kSettleTicks - me->t0_) * int64_t{me->rate_} / 10'000'000;
    if (target > me->emitted_ + kTimelineFrames / 2) target = me->emitted_ + kTimelineFrames / 2;
    if (target > me->ready_) {
      me->ready_ = target;
      AutoResetEvent* ev = me->event_.load();
      if (ev) ev->set();
    }
  }
  pa_context_rttime_restart(me->c_->context(), e, pa_rtclock_now() + kTickUs);
}

bool PulseProcessLoopback::start() {
  std::lock_guard<std::mutex> guard(swap_);
  PulseLock lock(c_.get());
  std::fill(timeline_.begin(), timeline_.end(), 0.0f);
  t0_ = qpc_now();
  emitted_ = ready_ = 0;
  peeked_ = 0;
  for (auto& [idx, f] : followers_) f->placed = false;
  running_ = true;
  stopped_ = false;
  return true;
}

void PulseProcessLoopback::stop() {
  std::lock_guard<std::mutex> guard(swap_);
  PulseLock lock(c_.get());
  if (!running_) return;
  // Everything played up to this moment belongs to the recording. Fragments
  // reach this client a little after they were played: wait briefly for the
  // streams being followed to catch up with the stop, then hand out the
  // whole timeline up to it instead of keeping the usual margin back.
  constexpr uint32_t kTailWaitMs = 150;
  const int64_t stop_pos = (qpc_now() - t0_) * int64_t{rate_} / 10'000'000;
  if (PA_CONTEXT_IS_GOOD(pa_context_get_state(c_->context()))) {
    c_->wait_until(
        [&] {
          for (auto& [idx, f] : followers_) {
            if (f->placed && f->next_pos < stop_pos && PA_STREAM_IS_GOOD(pa_stream_get_state(f->stream))) {
              return false;
            }
          }
          return true;
        },
        kTailWaitMs);
    for (auto& [idx, f] : followers_) read_cb(f->stream, 0, f);
  }
  int64_t end = stop_pos > ready_ ? stop_pos : ready_;
  for (auto& [idx, f] : followers_) {
    if (f->placed && f->next_pos > end) end = f->next_pos;
  }
  if (end > emitted_ + kTimelineFrames / 2) end = emitted_ + kTimelineFrames / 2;
  if (end > ready_) {
    ready_ = end;
    AutoResetEvent* ev = event_.load();
    if (ev) ev->set();
  }
  running_ = false;
  stopped_ = true;
}

// After the server came back: a new connection, and the process tree's
// streams followed again. The timeline goes on; what played while the
// server was gone stays silent.
bool PulseProcessLoopback::reopen() {
  if (stopped_) return false;
  constexpr uint32_t kReopenMs = 800;
  const int64_t deadline = qpc_now() + int64_t{kReopenMs} * 10000;
  auto remaining = [&]() -> uint32_t {
    int64_t left = (deadline - qpc_now()) / 10000;
    return left > 0 ? static_cast<uint32_t>(left) : 0;
  };
  std::unique_ptr<PulseConnection> fresh = PulseConnection::open("Frelvanta application audio", remaining());
  if (!fresh) return false;
  std::lock_guard<std::mutex> guard(swap_);
  if (stopped_) return false;
  {
    PulseLock lock(c_.get());
    detach();
  }
  // The timeline is only touched with the connection's loop locked; the old
  // loop has nothing left that calls back into this object.
  std::swap(c_, fresh);
  fresh.reset();
  PulseLock lock(c_.get());
  if (!attach(c_.get(), remaining)) {
    detach();
    return false;
  }
  return true;
}

bool PulseProcessLoopback::get_buffer(AudioBuffer* out) {
  *out = AudioBuffer{};
  PulseLock lock(c_.get());
  // The server went away (or the last reopen did not finish): the timeline
  // stops filling, and what was handed out stays.
  if (!timer_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(c_->context()))) return false;
  int64_t avail = ready_ - emitted_;
  if (avail <= 0) return true;
  const uint32_t offset = static_cast<uint32_t>(emitted_ % kTimelineFrames);
  int64_t frames = avail < kPacketFrames ? avail : kPacketFrames;
  if (frames > kTimelineFrames - offset) frames = kTimelineFrames - offset;
  peeked_ = static_cast<uint32_t>(frames);
  out->data = reinterpret_cast<const uint8_t*>(&timeline_[size_t{offset} * channels_]);
  out->frames = peeked_;
  out->device_position = static_cast<uint64_t>(emitted_);
  out->qpc_position = static_cast<uint64_t>(t0_ + emitted_ * 10'000'000 / rate_);
  return true;
}

void PulseProcessLoopback::release_buffer(uint32_t frames) {
  PulseLock lock(c_.get());
  if (frames > peeked_) frames = peeked_;
  const uint32_t offset = static_cast<uint32_t>(emitted_ % kTimelineFrames);
  std::fill_n(&timeline_[size_t{offset} * channels_], size_t{frames} * channels_, 0.0f);
  emitted_ += frames;
  peeked_ = 0;
}
}  // namespace

std::unique_ptr<AudioClient> pulse_open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                         uint32_t timeout_ms) {
  auto loopback = std::make_unique<PulseProcessLoopback>();
  if (!loopback->open(pid, format, timeout_ms)) return nullptr;
  return loopback;
}
