// The stream is connected at open, so the picture's size is known before the
// recording is set up; pictures that arrive before start() are handed back
// at once. The producer sends a picture only when the screen changed (as the
// X11 damage path does); one that comes sooner than the refresh rate allows
// is kept and delivered when it is due, unless a newer one replaces it.
#include "capture/portal/pipewire_source.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/frame_pacer.h"
#include "core/trace.h"
#include "platform/clock.h"

namespace {
constexpr int kFormatWaitMs = 5000;
constexpr uint32_t kMaxSide = 16384;

void pipewire_init_once() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

class PipeWireSource final : public CaptureSource {
 public:
  explicit PipeWireSource(std::function<void()> on_delete) : on_delete_(std::move(on_delete)) {}

  ~PipeWireSource() override {
    stop();
    if (loop_ != nullptr) {
      pw_thread_loop_lock(loop_);
      if (stream_ != nullptr) pw_stream_destroy(stream_);
      if (registry_ != nullptr) {
        spa_hook_remove(&registry_listener_);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
      }
      if (core_ != nullptr) pw_core_disconnect(core_);
      if (timer_ != nullptr) pw_loop_destroy_source(pw_thread_loop_get_loop(loop_), timer_);
      pw_thread_loop_unlock(loop_);
      pw_thread_loop_stop(loop_);
      if (context_ != nullptr) pw_context_destroy(context_);
      pw_thread_loop_destroy(loop_);
    } else if (fd_ >= 0) {
      close(fd_);
    }
    if (on_delete_) on_delete_();
  }

  bool open(int fd, uint32_t node, int32_t* width, int32_t* height, uint32_t* rate_num, uint32_t* rate_den) {
    fd_ = fd;
    pipewire_init_once();
    loop_ = pw_thread_loop_new("fv-capture", nullptr);
    if (loop_ == nullptr) return false;
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) return false;
    pw_thread_loop_lock(loop_);
    bool ok = connect(node);
    pw_thread_loop_unlock(loop_);
    if (!ok) return false;
    // The producer answers with the format it picked out of ours.
    std::unique_lock<std::mutex> lock(format_mutex_);
    format_cv_.wait_for(lock, std::chrono::milliseconds(kFormatWaitMs), [this] { return format_known_ || failed_; });
    if (!format_known_) return false;
    *width = width_;
    *height = height_;
    *rate_num = rate_num_;
    *rate_den = rate_den_;
    pacer_.set_rate(rate_num_, rate_den_, kQpcFrequency);
    return true;
  }

  bool start(bool cursor, bool, SourceSink* sink) override {
    (void)cursor;  // the portal draws it in (or not) as asked when the session was made
    if (sink == nullptr || loop_ == nullptr) return false;
    pw_thread_loop_lock(loop_);
    sink_ = sink;
    stopping_ = false;
    pacer_.reset();
    started_ = true;
    // The picture kept from before the start goes out at once.
    if (pending_) arm_timer(0);
    // A stream that ended before the start is reported now.
    if (closed_) pw_loop_invoke(pw_thread_loop_get_loop(loop_), report_closed, 0, nullptr, 0, false, this);
    pw_thread_loop_unlock(loop_);
    return true;
  }

  bool stop() override {
    stopping_ = true;
    if (loop_ == nullptr || !started_) return true;
    if (pw_thread_loop_in_thread(loop_)) return false;
    // Taking the lock waits for a delivery in progress to end.
    pw_thread_loop_lock(loop_);
    started_ = false;
    sink_ = nullptr;
    pending_ = false;
    pw_thread_loop_unlock(loop_);
    return true;
  }

  // The stream's buffers belong to PipeWire; nothing to re-create.
  void recreate(int32_t width, int32_t height) override { (void)width, (void)height; }

  // The picture kept while not started, as rows of B, G, R, A (alpha
  // opaque); waits up to `wait_ms` for the first one.
  bool still(std::vector<uint8_t>* pixels, int32_t* width, int32_t* height, int wait_ms) {
    if (loop_ == nullptr) return false;
    for (int waited = 0;; waited += 20) {
      pw_thread_loop_lock(loop_);
      const bool have = pending_ && !started_;
      if (have) {
        *pixels = pending_pixels_;
        *width = pending_w_;
        *height = pending_h_;
      }
      pw_thread_loop_unlock(loop_);
      if (have) {
        for (size_t i = 3; i < pixels->size(); i += 4) (*pixels)[i] = 255;
        return true;
      }
      if (waited >= wait_ms || closed_) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  void session_closed() {
    if (loop_ == nullptr) return;
    pw_thread_loop_lock(loop_);
    pw_loop_invoke(pw_thread_loop_get_loop(loop_), mark_closed, 0, nullptr, 0, false, this);
    pw_thread_loop_unlock(loop_);
  }

 private:
  bool connect(uint32_t node) {
    core_ = pw_context_connect_fd(context_, fd_, nullptr, 0);
    fd_ = -1;  // the connection owns it now, also when it failed
    if (core_ == nullptr) return false;
    static const pw_core_events core_events = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = on_core_error;
      return e;
    }();
    pw_core_add_listener(core_, &core_listener_, &core_events, this);
    // The shared node going away (the desktop ended the share, its producer
    // quit) leaves the stream merely paused: the registry says so.
    node_ = node;
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    if (registry_ != nullptr) {
      static const pw_registry_events registry_events = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = on_global_remove;
        return e;
      }();
      pw_registry_add_listener(registry_, &registry_listener_, &registry_events, this);
    }

    stream_ = pw_stream_new(core_, "Frelvanta",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                              PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (stream_ == nullptr) return false;
    static const pw_stream_events stream_events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = on_state_changed;
      e.param_changed = on_param_changed;
      e.process = on_process;
      return e;
    }();
    pw_stream_add_listener(stream_, &stream_listener_, &stream_events, this);
    timer_ = pw_loop_add_timer(pw_thread_loop_get_loop(loop_), on_timer, this);

    uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    spa_rectangle def_size{1920, 1080}, min_size{1, 1}, max_size{kMaxSide, kMaxSide};
    spa_fraction no_rate{0, 1}, def_rate{60, 1}, min_rate{0, 1}, max_rate{1000, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&def_size, &min_size, &max_size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&no_rate), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&def_rate, &min_rate, &max_rate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    return pw_stream_connect(stream_, PW_DIRECTION_INPUT, node, flags, params, 1) == 0;
  }

  static void on_core_error(void* data, uint32_t id, int seq, int res, const char* message) {
    (void)seq;
    auto* self = static_cast<PipeWireSource*>(data);
    if (id != PW_ID_CORE) return;
    trace_eventf("capture.pipewire_error %d %s", res, message != nullptr ? message : "");
    self->fail();
  }

  static void on_global_remove(void* data, uint32_t id) {
    auto* self = static_cast<PipeWireSource*>(data);
    if (id != self->node_) return;
    trace_event("capture.pipewire_node_removed");
    self->fail();
  }

  static void on_state_changed(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
    (void)old;
    auto* self = static_cast<PipeWireSource*>(data);
    if (state == PW_STREAM_STATE_STREAMING) self->streamed_ = true;
    if (state == PW_STREAM_STATE_ERROR) {
      trace_eventf("capture.pipewire_stream_error %s", error != nullptr ? error : "");
      self->fail();
    } else if (state == PW_STREAM_STATE_UNCONNECTED && self->streamed_) {
      self->fail();
    }
  }

  // The stream is over: wakes an open() that waits for the format, or
  // reports the closed target.
  void fail() {
    {
      std::lock_guard<std::mutex> lock(format_mutex_);
      failed_ = true;
    }
    format_cv_.notify_all();
    mark_closed(nullptr, 0, 0, nullptr, 0, this);
  }

  static int mark_closed(spa_loop* loop, bool async, uint32_t seq, const void* data, size_t size, void* user) {
    (void)loop, (void)async, (void)seq, (void)data, (void)size;
    auto* self = static_cast<PipeWireSource*>(user);
    self->closed_ = true;
    return report_closed(nullptr, false, 0, nullptr, 0, user);
  }

  static int report_closed(spa_loop* loop, bool async, uint32_t seq, const void* data, size_t size, void* user) {
    (void)loop, (void)async, (void)seq, (void)data, (void)size;
    auto* self = static_cast<PipeWireSource*>(user);
    if (self->started_ && !self->stopping_ && !self->closed_reported_ && self->sink_ != nullptr) {
      self->closed_reported_ = true;
      self->pending_ = false;
      self->sink_->closed(false);
    }
    return 0;
  }

  static void on_param_changed(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<PipeWireSource*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    uint32_t media_type = 0, media_subtype = 0;
    if (spa_format_parse(param, &media_type, &media_subtype) < 0 || media_type != SPA_MEDIA_TYPE_video ||
        media_subtype != SPA_MEDIA_SUBTYPE_raw)
      return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    if (info.size.width == 0 || info.size.height == 0 || info.size.width > kMaxSide || info.size.height > kMaxSide)
      return;
    uint32_t num = info.max_framerate.num, den = info.max_framerate.denom;
    if (num == 0 || den == 0) num = info.framerate.num, den = info.framerate.denom;
    if (num == 0 || den == 0) num = 60, den = 1;

    // Buffers in memory the process can read (shared memory, or a dmabuf
    // that PipeWire maps), with the header that carries the picture's time.
    uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
    params[1] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                                   SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
                                   SPA_POD_Int(sizeof(spa_meta_header))));
    pw_stream_update_params(self->stream_, params, 2);

    {
      std::lock_guard<std::mutex> lock(self->format_mutex_);
      self->width_ = static_cast<int32_t>(info.size.width);
      self->height_ = static_cast<int32_t>(info.size.height);
      if (!self->format_known_) {
        self->rate_num_ = num;
        self->rate_den_ = den;
      }
      self->format_known_ = true;
    }
    self->format_cv_.notify_all();
  }

  static void on_process(void* data) {
    auto* self = static_cast<PipeWireSource*>(data);
    pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
    if (b == nullptr) return;
    // Only the newest picture matters.
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->stream_)) {
      pw_stream_queue_buffer(self->stream_, b);
      b = next;
    }
    self->take(b->buffer);
    pw_stream_queue_buffer(self->stream_, b);
  }

  void take(spa_buffer* buf) {
    if (stopping_ || closed_ || buf->n_datas < 1) return;
    const spa_data& d = buf->datas[0];
    auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    if (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0) return;
    if (d.data == nullptr || d.chunk == nullptr || d.chunk->size == 0) return;
    const int32_t w = width_, h = height_;
    const int32_t stride = d.chunk->stride != 0 ? d.chunk->stride : w * 4;
    const uint64_t need = static_cast<uint64_t>(stride) * static_cast<uint64_t>(h - 1) + static_cast<uint64_t>(w) * 4;
    if (stride < w * 4 || d.chunk->offset > d.maxsize || need > d.maxsize - d.chunk->offset) return;
    const uint8_t* pixels = static_cast<const uint8_t*>(d.data) + d.chunk->offset;

    // The picture's time: its presentation time when the producer gives one
    // on this clock (the monotonic clock in nanoseconds), else now.
    const int64_t now = qpc_now();
    int64_t t = now;
    if (header != nullptr && header->pts > 0) {
      const int64_t pts = header->pts / (1'000'000'000 / kQpcFrequency);
      if (std::llabs(pts - now) < kQpcFrequency) t = std::min(pts, now);
    }
    if (!started_) {
      // The picture as it is when the recording starts: the producer sends
      // the next one only after a change.
      keep(pixels, w, h, stride);
      return;
    }
    if (pacer_.ready(t)) {
      pending_ = false;
      deliver(pixels, w, h, stride, pacer_.take(t));
      return;
    }
    // Too soon after the previous one: kept for when it is due.
    keep(pixels, w, h, stride);
    arm_timer(pacer_.due() - now);
  }

  void keep(const uint8_t* pixels, int32_t w, int32_t h, int32_t stride) {
    pending_pixels_.resize(static_cast<size_t>(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
      std::memcpy(pending_pixels_.data() + static_cast<size_t>(y) * w * 4, pixels + static_cast<size_t>(y) * stride,
                  static_cast<size_t>(w) * 4);
    pending_ = true;
    pending_w_ = w;
    pending_h_ = h;
  }

  void arm_timer(int64_t wait) {
    wait = std::max<int64_t>(wait, 1);
    timespec ts{static_cast<time_t>(wait / kQpcFrequency),
                static_cast<long>(wait % kQpcFrequency * (1'000'000'000 / kQpcFrequency))};
    pw_loop_update_timer(pw_thread_loop_get_loop(loop_), timer_, &ts, nullptr, false);
  }

  static void on_timer(void* data, uint64_t expirations) {
    (void)expirations;
    auto* self = static_cast<PipeWireSource*>(data);
    if (!self->pending_ || !self->started_ || self->stopping_ || self->closed_) return;
    const int64_t now = qpc_now();
    if (!self->pacer_.ready(now)) return;
    self->pending_ = false;
    self->deliver(self->pending_pixels_.data(), self->pending_w_, self->pending_h_, self->pending_w_ * 4,
                  self->pacer_.take(now));
  }

  void deliver(const uint8_t* pixels, int32_t w, int32_t h, int32_t stride, int64_t time) {
    if (sink_ == nullptr) return;
    SourceFrame f;
    f.image = BgraImage{pixels, w, h, stride};
    f.time = time;
    f.content_width = w;
    f.content_height = h;
    sink_->frame_arrived(f);
  }

  std::function<void()> on_delete_;
  int fd_ = -1;
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  spa_hook core_listener_{};
  spa_hook stream_listener_{};
  pw_registry* registry_ = nullptr;
  spa_hook registry_listener_{};
  uint32_t node_ = 0;
  spa_source* timer_ = nullptr;

  std::mutex format_mutex_;
  std::condition_variable format_cv_;
  bool format_known_ = false;
  bool failed_ = false;
  int32_t width_ = 0, height_ = 0;
  uint32_t rate_num_ = 60, rate_den_ = 1;

  // Below: used on the loop thread, or under the loop's lock.
  SourceSink* sink_ = nullptr;
  std::atomic<bool> started_{false};
  std::atomic<bool> stopping_{false};
  bool streamed_ = false;
  std::atomic<bool> closed_{false};
  bool closed_reported_ = false;
  FramePacer pacer_;
  bool pending_ = false;
  std::vector<uint8_t> pending_pixels_;
  int32_t pending_w_ = 0, pending_h_ = 0;
};
}  // namespace

CaptureSource* pipewire_open_source(int fd, uint32_t node, int32_t* width, int32_t* height, uint32_t* rate_num,
                                    uint32_t* rate_den, std::function<void()> on_delete) {
  auto* s = new PipeWireSource(std::move(on_delete));
  if (!s->open(fd, node, width, height, rate_num, rate_den)) {
    delete s;
    return nullptr;
  }
  return s;
}

bool pipewire_source_still(CaptureSource* source, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) {
  auto* s = dynamic_cast<PipeWireSource*>(source);
  return s != nullptr && s->still(pixels, width, height, 3000);
}

void pipewire_source_session_closed(CaptureSource* source) {
  if (auto* s = dynamic_cast<PipeWireSource*>(source)) s->session_closed();
}
