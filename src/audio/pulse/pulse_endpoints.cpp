#include <cstring>
#include <string>

#include "audio/audio_endpoint.h"
#include "audio/pulse/pulse_connection.h"
#include "audio/pulse/pulse_process_loopback.h"
#include "audio/pulse/pulse_streams.h"
#include "audio/pulse/window_pid.h"

namespace {
constexpr uint32_t kConnectTimeoutMs = 2000;

struct SinkFacts {
  bool found = false;
  std::string name;
  std::string monitor;
  pa_sample_spec ss{};
  pa_channel_map map{};
};

void server_info_cb(pa_context*, const pa_server_info* info, void* out) {
  if (info && info->default_sink_name) *static_cast<std::string*>(out) = info->default_sink_name;
}

void sink_info_cb(pa_context*, const pa_sink_info* info, int eol, void* out) {
  if (eol || !info) return;
  auto* f = static_cast<SinkFacts*>(out);
  f->found = true;
  f->name = info->name ? info->name : "";
  f->monitor = info->monitor_source_name ? info->monitor_source_name : "";
  f->ss = info->sample_spec;
  f->map = info->channel_map;
}

bool default_sink(PulseConnection* c, SinkFacts* out) {
  std::string name;
  PulseLock lock(c);
  if (!c->wait_operation(pa_context_get_server_info(c->context(), server_info_cb, &name), kPulseRequestTimeoutMs) ||
      name.empty()) {
    return false;
  }
  return c->wait_operation(pa_context_get_sink_info_by_name(c->context(), name.c_str(), sink_info_cb, out),
                           kPulseRequestTimeoutMs) &&
         out->found && !out->monitor.empty();
}

struct SourceList {
  std::string* names;
  std::string* ids;
  uint32_t max;
  bool listing;  // false: a look-up by name that only sets `exists`
  uint32_t count = 0;
  bool exists = false;
};

void source_list_cb(pa_context*, const pa_source_info* info, int eol, void* out) {
  if (eol || !info) return;
  auto* l = static_cast<SourceList*>(out);
  l->exists = true;
  if (!l->listing) return;
  // Monitors of outputs are not microphones.
  if (info->monitor_of_sink != PA_INVALID_INDEX || !info->name) return;
  if (l->count >= l->max) return;
  if (l->names) l->names[l->count] = info->description ? info->description : info->name;
  if (l->ids) l->ids[l->count] = info->name;
  ++l->count;
}

class PulseEndpoints final : public AudioEndpoints {
 public:
  bool open_system_loopback(std::unique_ptr<AudioClient>* render, std::unique_ptr<AudioClient>* capture,
                            WaveFormat* format) override {
    std::unique_ptr<PulseConnection> c = PulseConnection::open("Frelvanta", kConnectTimeoutMs);
    if (!c) return false;
    SinkFacts sink;
    if (!default_sink(c.get(), &sink)) return false;
    std::unique_ptr<PulseSilentPlayback> keeper =
        PulseSilentPlayback::open(PulseConnection::open("Frelvanta", kConnectTimeoutMs), sink.name, sink.ss, sink.map);
    if (!keeper || !keeper->start()) return false;
    WaveFormat f = pulse_capture_format(sink.ss, sink.map);
    std::unique_ptr<PulseRecordClient> client = PulseRecordClient::open(std::move(c), sink.monitor, f);
    if (!client) {
      keeper->stop();
      return false;
    }
    *format = f;
    *render = std::move(keeper);
    *capture = std::move(client);
    return true;
  }

  uint32_t window_process_id(uint64_t window) override { return x11_window_process_id(window); }

  std::unique_ptr<AudioClient> open_process_loopback(uint32_t pid, const WaveFormat& format,
                                                     uint32_t timeout_ms) override {
    return pulse_open_process_loopback(pid, format, timeout_ms);
  }

  std::unique_ptr<AudioClient> open_microphone(const std::string& device_id, const WaveFormat& format) override {
    std::unique_ptr<PulseConnection> c = PulseConnection::open("Frelvanta", kConnectTimeoutMs);
    if (!c) return nullptr;
    if (!device_id.empty()) {
      // A configured input that is gone is a failure, not a reason to record
      // whatever the server would pick instead.
      SourceList look{nullptr, nullptr, 0, false};
      PulseLock lock(c.get());
      c->wait_operation(
          pa_context_get_source_info_by_name(c->context(), device_id.c_str(), source_list_cb, &look),
          kPulseRequestTimeoutMs);
      if (!look.exists) return nullptr;
    }
    return PulseRecordClient::open(std::move(c), device_id, format);
  }

  uint32_t enumerate_microphones(std::string* names, std::string* ids, uint32_t max) override {
    std::unique_ptr<PulseConnection> c = PulseConnection::open("Frelvanta", kConnectTimeoutMs);
    if (!c) return 0;
    SourceList list{names, ids, max, true};
    PulseLock lock(c.get());
    if (!c->wait_operation(pa_context_get_source_info_list(c->context(), source_list_cb, &list),
                           kPulseRequestTimeoutMs)) {
      return 0;
    }
    return list.count;
  }

  // Every server that speaks the protocol can follow single playback streams.
  bool application_audio_supported() override {
    return PulseConnection::open("Frelvanta", kConnectTimeoutMs) != nullptr;
  }
};
}  // namespace

AudioEndpoints* pulse_endpoints() {
  static PulseEndpoints endpoints;
  return &endpoints;
}
