#pragma once
// A sound system driven by the test: packets are queued by hand and handed
// to the capture thread when the test signals the stream's event.
#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "audio/audio_endpoint.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "support/wait.h"

struct ScriptedPacket {
  std::vector<uint8_t> bytes;  // frames × block align
  uint32_t frames = 0;
  uint32_t flags = 0;
  uint64_t device_position = 0;
  uint64_t qpc_position = 0;
};

class ScriptedClient final : public AudioClient {
 public:
  void set_event_handle(AutoResetEvent* event) override { event_ = event; }
  bool start() override { return started = !fail_start; }
  void stop() override { started = false; }
  bool get_buffer(AudioBuffer* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    *out = AudioBuffer{};
    if (failed.load()) return false;
    if (queue_.empty()) return true;
    const ScriptedPacket& p = queue_.front();
    out->data = p.bytes.data();
    out->frames = p.frames;
    out->flags = p.flags;
    out->device_position = p.device_position;
    out->qpc_position = p.qpc_position;
    return true;
  }
  void release_buffer(uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queue_.empty()) queue_.pop_front();
    released.fetch_add(1);
  }
  // Queues packets and wakes the capture thread; returns once it has taken
  // them all (or after five seconds).
  void deliver(std::vector<ScriptedPacket> packets) {
    uint32_t target = released.load() + static_cast<uint32_t>(packets.size());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& p : packets) queue_.push_back(std::move(p));
    }
    event_->set();
    wait_until([&] { return released.load() >= target; });
  }

  bool reopen() override {
    reopen_calls.fetch_add(1);
    if (!reopen_ok.load()) return false;
    failed.store(false);
    return true;
  }

  bool fail_start = false;
  bool started = false;
  // The stream failed (its server went away); reopening works once
  // `reopen_ok` is set.
  std::atomic<bool> failed{false};
  std::atomic<bool> reopen_ok{false};
  std::atomic<uint32_t> reopen_calls{0};
  std::atomic<uint32_t> released{0};

 private:
  std::mutex mutex_;
  std::deque<ScriptedPacket> queue_;
  AutoResetEvent* event_ = nullptr;
};

class ScriptedEndpoints final : public AudioEndpoints {
 public:
  bool open_system_loopback(std::unique_ptr<AudioClient>* render, std::unique_ptr<AudioClient>* capture,
                            WaveFormat* format) override {
    if (!has_output) return false;
    auto keeper = std::make_unique<ScriptedClient>();
    keeper->start();
    render_client = keeper.get();
    *render = std::move(keeper);
    auto c = std::make_unique<ScriptedClient>();
    last_client = c.get();
    *capture = std::move(c);
    *format = output_format;
    return true;
  }
  uint32_t window_process_id(uint64_t window) override { return window == 77 ? 4242 : 0; }
  std::unique_ptr<AudioClient> open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                     uint32_t timeout_ms) override {
    last_pid = pid;
    last_timeout_ms = timeout_ms;
    last_format = format;
    auto c = std::make_unique<ScriptedClient>();
    last_client = c.get();
    return c;
  }
  std::unique_ptr<AudioClient> open_microphone(const std::string& device_id, const WaveFormat& format) override {
    if (!device_id.empty() && device_id != "mic.present") return nullptr;
    last_format = format;
    auto c = std::make_unique<ScriptedClient>();
    last_client = c.get();
    return c;
  }
  uint32_t enumerate_microphones(std::string* names, std::string* ids, uint32_t max) override {
    uint32_t n = 0;
    for (; n < inputs && n < max; ++n) {
      names[n] = "Input " + std::to_string(n);
      ids[n] = "input." + std::to_string(n);
    }
    return n;
  }
  bool application_audio_supported() override { return true; }

  bool has_output = true;
  WaveFormat output_format = default_capture_format();
  uint32_t inputs = 0;
  ScriptedClient* last_client = nullptr;
  ScriptedClient* render_client = nullptr;
  uint32_t last_pid = 0;
  uint32_t last_timeout_ms = 0;
  WaveFormat last_format;
};
