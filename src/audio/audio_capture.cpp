#include "audio/audio_capture.h"

#include <chrono>
#include <cstring>
#include <new>

#include "audio/audio_endpoint.h"
#include "audio/ring.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "core/trace.h"

namespace {
AudioEndpoints* g_endpoints = nullptr;

// Copies one packet into the ring, or counts it as dropped. Runs on the
// capture thread: no allocation, no lock, one copy.
void store_packet(AudioCapture* c, uint32_t* write, const AudioBuffer& b, uint32_t block_align) {
  const uint32_t ring_size = c->ring_size;
  uint32_t used = *write - c->read_pos.load(std::memory_order_acquire);
  if (used >= ring_size - ring_size / 8) c->near_overflow_count.fetch_add(1, std::memory_order_relaxed);
  uint32_t seen = c->max_buffered_bytes.load(std::memory_order_relaxed);
  while (used > seen && !c->max_buffered_bytes.compare_exchange_weak(seen, used, std::memory_order_relaxed)) {
  }
  uint64_t bytes = uint64_t{b.frames} * block_align;
  uint64_t need = bytes + kPacketHeaderBytes;
  if (need > uint64_t{ring_size} - used) {
    c->overflow_count.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  uint8_t* p = c->ring + (*write & (ring_size - 1));
  ring_put_header(p, b.frames, b.device_position, b.qpc_position);
  if ((b.flags & AUDIO_BUFFER_SILENT) || b.data == nullptr) {
    std::memset(p + kPacketHeaderBytes, 0, bytes);
  } else {
    std::memcpy(p + kPacketHeaderBytes, b.data, bytes);
  }
  *write += static_cast<uint32_t>(need);
  c->write_pos.store(*write, std::memory_order_release);
}

// A running stream signals its event for every packet; the capture thread
// also looks on its own this often, so that a stream that died (it signals
// nothing) is noticed and reopening is retried.
constexpr uint32_t kCaptureWakeMs = 100;
constexpr uint32_t kReopenIntervalMs = 250;
// How long audio_capture_stop waits for the capture thread to take in what a
// stopped stream still holds.
constexpr uint32_t kSettleMs = 300;

// Moves every queued packet into the ring. false: the stream failed. Once
// the stream is being stopped, packets captured after the stop are let go
// unstored, and *reached is set when the stream has delivered up to the stop.
bool take_packets(AudioCapture* c, AudioClient* client, uint32_t* write, uint32_t block_align, bool* reached) {
  const int64_t stop_time = c->stop_time.load(std::memory_order_acquire);
  const uint64_t rate = c->stream_format->nSamplesPerSec;
  // One device period: a packet ending this close to the stop is the last.
  const int64_t period = kQpcFrequency / 100;
  AudioBuffer b;
  if (!client->get_buffer(&b)) return false;
  while (b.frames != 0) {
    const int64_t begin = static_cast<int64_t>(b.qpc_position);
    const int64_t end = begin + static_cast<int64_t>(uint64_t{b.frames} * kQpcFrequency / rate);
    if (stop_time == 0 || end <= stop_time) {
      store_packet(c, write, b, block_align);
    } else if (begin < stop_time) {
      // The packet runs past the stop: only its frames before it.
      AudioBuffer head = b;
      head.frames = static_cast<uint32_t>(static_cast<uint64_t>(stop_time - begin) * rate / kQpcFrequency);
      if (head.frames != 0) store_packet(c, write, head, block_align);
    }
    if (stop_time != 0 && end >= stop_time - period) *reached = true;
    client->release_buffer(b.frames);
    b = AudioBuffer{};
    if (!client->get_buffer(&b)) return false;
  }
  return true;
}

void capture_thread_main(AudioCapture* c) {
  raise_thread_priority();
  set_thread_name("fv-audio-cap");
  uint32_t write = 0;
  const uint32_t block_align = c->stream_format->nBlockAlign;
  AutoResetEvent* event = c->data_event.get();
  AudioClient* client = c->audio_client.get();
  bool lost = false;
  bool reached = false;
  int64_t lost_at = 0;
  for (;;) {
    event->wait(lost ? kReopenIntervalMs : kCaptureWakeMs);
    if (c->stop_requested.load(std::memory_order_acquire)) break;
    const uint32_t settle = c->settle_request.load(std::memory_order_acquire);
    if (lost) {
      // A stopped recording does not reopen anything: nothing more is wanted.
      if (settle == 0 && client->reopen()) {
        lost = false;
        trace_eventf("audio.stream_restored stream=%s gap_ms=%llu", c->name,
                     static_cast<unsigned long long>(elapsed_ms(lost_at)));
      }
    }
    if (!lost && !take_packets(c, client, &write, block_align, &reached)) {
      // The packets already in the ring stay; the mixer places the next
      // ones by their capture time, so the gap becomes silence.
      lost = true;
      lost_at = qpc_now();
      c->interruptions.fetch_add(1, std::memory_order_relaxed);
      trace_eventf("audio.stream_lost stream=%s", c->name);
    }
    if (settle != 0 && (reached || lost)) c->settle_done.store(settle, std::memory_order_release);
  }
}

// Tears down whatever the common start had built when a later step fails.
void undo_start(AudioCapture* c) {
  if (c->capture_thread.joinable()) {
    c->stop_requested.store(1, std::memory_order_release);
    c->data_event->set();
    c->capture_thread.join();
  }
  c->audio_client->set_event_handle(nullptr);
  c->data_event.reset();
  ring_unmap(c->ring, c->ring_size);
  c->ring = nullptr;
}

// Common tail of the openers: ring, counters, thread, then the stream.
bool start_stream(AudioCapture* c) {
  c->ring_size = ring_size_for(c->stream_format->nAvgBytesPerSec);
  c->ring = ring_map(c->ring_size);
  if (!c->ring) return false;
  c->read_pos.store(0);
  c->write_pos.store(0);
  c->overflow_count.store(0);
  c->near_overflow_count.store(0);
  c->max_buffered_bytes.store(0);
  c->stop_requested.store(0);
  c->data_event.reset(new (std::nothrow) AutoResetEvent());
  if (!c->data_event) {
    undo_start(c);
    return false;
  }
  c->settle_request.store(0);
  c->settle_done.store(0);
  c->stop_time.store(0);
  c->interruptions.store(0);
  // Without its thread the stream cannot run: the opener fails, and recording
  // start reports it like any other stream that cannot be opened.
  if (!thread_start(&c->capture_thread, [c] { capture_thread_main(c); })) {
    trace_event("audio.thread_create_failed");
    undo_start(c);
    return false;
  }
  c->audio_client->set_event_handle(c->data_event.get());
  if (!c->audio_client->start()) {
    undo_start(c);
    return false;
  }
  c->start_qpc = static_cast<uint64_t>(qpc_now());
  c->counter_frequency = static_cast<uint64_t>(kQpcFrequency);
  return true;
}

// A failed opener leaves nothing behind: the stream counts as open only
// while audio_client is set.
bool finish_open(AudioCapture* c, std::unique_ptr<AudioClient> client, const WaveFormat& format,
                 uint8_t use_qpc_time, uint8_t first_packet_pending) {
  c->stream_format.reset(new (std::nothrow) WaveFormat(format));
  if (!c->stream_format || format.nBlockAlign == 0 || format.nSamplesPerSec == 0) {
    c->stream_format.reset();
    c->render_client.reset();
    return false;
  }
  c->audio_client = std::move(client);
  c->first_device_position = 0;
  c->use_qpc_time = use_qpc_time;
  c->first_packet_pending = first_packet_pending;
  if (!start_stream(c)) {
    if (c->render_client) c->render_client->stop();
    c->render_client.reset();
    c->audio_client.reset();
    c->stream_format.reset();
    return false;
  }
  return true;
}
}  // namespace

AudioEndpoints* audio_endpoints() { return g_endpoints ? g_endpoints : system_audio_endpoints(); }
void audio_set_endpoints(AudioEndpoints* endpoints) { g_endpoints = endpoints; }

WaveFormat default_capture_format() {
  WaveFormat f;
  f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.nChannels = 2;
  f.nSamplesPerSec = 48000;
  f.nAvgBytesPerSec = 384000;
  f.nBlockAlign = 8;
  f.wBitsPerSample = 32;
  f.cbSize = 22;
  f.wValidBitsPerSample = 32;
  f.dwChannelMask = 3;
  f.is_float = 1;
  return f;
}

bool open_loopback_capture(AudioCapture* capture, uint64_t window) {
  AudioEndpoints* ep = audio_endpoints();
  if (window != 0) {
    uint32_t pid = ep->window_process_id(window);
    if (pid == 0) return false;
    return open_process_loopback_capture(capture, pid);
  }
  std::unique_ptr<AudioClient> render, client;
  WaveFormat format;
  if (!ep->open_system_loopback(&render, &client, &format) || !client) return false;
  capture->render_client = std::move(render);
  capture->name = "system";
  return finish_open(capture, std::move(client), format, 1, 1);
}

bool open_process_loopback_capture(AudioCapture* capture, uint32_t pid) {
  if (pid == 0) return false;
  WaveFormat format = default_capture_format();
  std::unique_ptr<AudioClient> client =
      audio_endpoints()->open_process_loopback(pid, format, kApplicationAudioTimeoutMs);
  if (!client) return false;
  capture->render_client.reset();
  capture->name = "application";
  return finish_open(capture, std::move(client), format, 1, 0);
}

bool open_microphone_capture(AudioCapture* capture, const std::string& device_id,
                             const WaveFormat* imposed_format) {
  WaveFormat format = imposed_format ? *imposed_format : default_capture_format();
  std::unique_ptr<AudioClient> client = audio_endpoints()->open_microphone(device_id, format);
  if (!client) return false;
  capture->render_client.reset();
  capture->name = "mic";
  return finish_open(capture, std::move(client), format, 1, 1);
}

namespace {
void settle_capture(AudioCapture* capture) {
  // The final drain reads the ring right after this: the capture thread
  // first takes in the stream's packets up to the stop (they reach this
  // process a little later; application audio hands out its held-back tail
  // on stop). Bounded: a hung server costs this wait, not the stop.
  const uint32_t request = capture->settle_request.fetch_add(1) + 1;
  capture->data_event->set();
  // Bounded on the real clock, whatever clock the recording runs on.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
  while (capture->settle_done.load(std::memory_order_acquire) != request &&
         std::chrono::steady_clock::now() < until) {
    sleep_ms(1);
  }
}
}  // namespace

void audio_capture_stop(AudioCapture* capture, int64_t stop_time) {
  if (!capture->audio_client) return;
  capture->stop_time.store(stop_time != 0 ? stop_time : qpc_now(), std::memory_order_release);
  capture->audio_client->stop();
  if (capture->capture_thread.joinable()) settle_capture(capture);
  // The silent stream last: the output keeps producing the monitor's
  // packets until the capture has what it needs.
  if (capture->render_client) capture->render_client->stop();
}


void close_capture(AudioCapture* capture) {
  if (!capture->audio_client) return;
  capture->stop_requested.store(1, std::memory_order_release);
  capture->data_event->set();
  if (capture->capture_thread.joinable()) capture->capture_thread.join();
  // The sound system may still signal the event until it forgets it.
  capture->audio_client->set_event_handle(nullptr);
  capture->data_event.reset();
  ring_unmap(capture->ring, capture->ring_size);
  capture->ring = nullptr;
  capture->stream_format.reset();
  capture->render_client.reset();
  capture->audio_client.reset();
}

void audio_capture_zero(AudioCapture* c) {
  if (c->capture_thread.joinable()) close_capture(c);
  c->render_client.reset();
  c->audio_client.reset();
  c->stream_format.reset();
  c->start_qpc = 0;
  c->first_device_position = 0;
  c->counter_frequency = 0;
  c->use_qpc_time = 0;
  c->first_packet_pending = 0;
  c->stop_requested.store(0);
  c->data_event.reset();
  c->capture_thread = std::thread();
  if (c->ring) ring_unmap(c->ring, c->ring_size);
  c->ring = nullptr;
  c->ring_size = 0;
  c->read_pos.store(0);
  c->write_pos.store(0);
  c->overflow_count.store(0);
  c->near_overflow_count.store(0);
  c->max_buffered_bytes.store(0);
  c->name = "";
  c->interruptions.store(0);
  c->settle_request.store(0);
  c->settle_done.store(0);
  c->stop_time.store(0);
}

bool read_packet(AudioCapture* capture, uint64_t start_time, AudioPacket* out) {
  const uint32_t read = capture->read_pos.load(std::memory_order_relaxed);
  const uint32_t available = capture->write_pos.load(std::memory_order_acquire) - read;
  if (available < kPacketHeaderBytes) return false;
  const uint8_t* p = capture->ring + (read & (capture->ring_size - 1));
  uint32_t frames = 0;
  uint64_t device_position = 0, qpc_position = 0;
  ring_get_header(p, &frames, &device_position, &qpc_position);
  const WaveFormat& f = *capture->stream_format;
  if (available < uint64_t{frames} * f.nBlockAlign + kPacketHeaderBytes) return false;
  const uint64_t freq = capture->counter_frequency;
  if (capture->first_packet_pending) {
    if (start_time != 0) {
      const uint64_t converted = mul_div(start_time, 10000000, freq);
      const bool near_start = converted - qpc_position + 5000000 <= 10000000;
      // A device that starts late (an output waking from its idle schedule,
      // a slow input) hands out its first packet seconds after the first
      // frame. Its counter time is good as long as it lies between the
      // stream's start and now; device positions would put that packet at
      // the stream's start, the whole delay too early.
      const uint64_t opened = mul_div(capture->start_qpc, 10000000, freq);
      const uint64_t now = mul_div(static_cast<uint64_t>(qpc_now()), 10000000, freq);
      const bool since_open = qpc_position + 5000000 >= opened && qpc_position <= now;
      if (!near_start && !since_open) capture->use_qpc_time = 0;
      capture->first_device_position = device_position;
    }
    capture->first_packet_pending = 0;
  }
  uint64_t time;
  if (capture->use_qpc_time) {
    time = mul_div(qpc_position, freq, 10000000);
  } else {
    time = mul_div(device_position - capture->first_device_position, freq, f.nSamplesPerSec) +
           capture->start_qpc;
  }
  out->data = p + kPacketHeaderBytes;
  out->frames = frames;
  out->time = time;
  return true;
}

uint32_t enumerate_microphones(std::string* names, std::string* ids) {
  std::string n[kMaxMicrophones], i[kMaxMicrophones];
  uint32_t count = audio_endpoints()->enumerate_microphones(n, i, kMaxMicrophones);
  if (count > kMaxMicrophones) count = kMaxMicrophones;
  for (uint32_t k = 0; k < count; ++k) {
    if (names) names[k] = std::move(n[k]);
    if (ids) ids[k] = std::move(i[k]);
  }
  return count;
}

bool application_audio_supported() { return audio_endpoints()->application_audio_supported(); }
