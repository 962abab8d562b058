#include <cstring>
#include <string>

#include "audio/audio_endpoint.h"
#include "audio/pulse/pulse_connection.h"
#include "audio/pulse/pulse_process_loopback.h"
#include "audio/pulse/pulse_streams.h"
#include "audio/pulse/window_pid.h"
#include "platform/clock.h"

namespace {
constexpr uint32_t kConnectTimeoutMs = 2000;

struct SinkFacts {
  bool found = false;
  std::string name;
  std::string monitor;
  pa_sample_spec ss{};
  pa_channel_map map{};
};

struct ServerDefaults {
  std::string sink;
  std::string source;
};

void server_info_cb(pa_context*, const pa_server_info* info, void* out) {
  auto* d = static_cast<ServerDefaults*>(out);
  if (info && info->default_sink_name) d->sink = info->default_sink_name;
  if (info && info->default_source_name) d->source = info->default_source_name;
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

bool server_defaults(PulseConnection* c, ServerDefaults* out, uint32_t timeout_ms) {
  PulseLock lock(c);
  return c->wait_operation(pa_context_get_server_info(c->context(), server_info_cb, out), timeout_ms);
}

bool default_sink(PulseConnection* c, SinkFacts* out, uint32_t timeout_ms = kPulseRequestTimeoutMs) {
  const int64_t deadline = qpc_now() + int64_t{timeout_ms} * 10000;
  ServerDefaults d;
  if (!server_defaults(c, &d, timeout_ms) || d.sink.empty()) return false;
  const int64_t left = (deadline - qpc_now()) / 10000;
  if (left <= 0) return false;
  PulseLock lock(c);
  return c->wait_operation(pa_context_get_sink_info_by_name(c->context(), d.sink.c_str(), sink_info_cb, out),
                           static_cast<uint32_t>(left)) &&
         out->found && !out->monitor.empty();
}

// After a server restart the output's monitor is found again through the
// default output, with a new silent stream to keep it running; the capture
// format stays the one the recording started with (the server converts).
bool resolve_default_monitor(PulseConnection* c, uint32_t timeout_ms, std::string* source,
                             std::unique_ptr<AudioClient>* keeper) {
  const int64_t deadline = qpc_now() + int64_t{timeout_ms} * 10000;
  SinkFacts sink;
  if (!default_sink(c, &sink, timeout_ms)) return false;
  const int64_t left = (deadline - qpc_now()) / 10000;
  if (left <= 0) return false;
  std::unique_ptr<PulseSilentPlayback> k =
      PulseSilentPlayback::open(PulseConnection::open("Frelvanta", static_cast<uint32_t>(left)), sink.name, sink.ss,
                                sink.map, static_cast<uint32_t>(left), false);
  if (!k) return false;
  *source = sink.monitor;
  *keeper = std::move(k);
  return true;
}

struct SourceList {
  std::string* names;
  std::string* ids;
  uint32_t max;
  bool listing;  // false: a look-up by name that only sets `exists`
  uint32_t count = 0;
  bool exists = false;
  bool monitor = false;  // the source looked up is the monitor of an output
};

void source_list_cb(pa_context*, const pa_source_info* info, int eol, void* out) {
  if (eol || !info) return;
  auto* l = static_cast<SourceList*>(out);
  l->exists = true;
  l->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
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
    std::unique_ptr<PulseRecordClient> client =
        PulseRecordClient::open(std::move(c), sink.monitor, f, resolve_default_monitor);
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
    // The input is fixed by name here, once: the default input is looked up
    // now, and the stream stays on it.
    std::string source = device_id;
    if (source.empty()) {
      ServerDefaults d;
      if (!server_defaults(c.get(), &d, kPulseRequestTimeoutMs) || d.source.empty()) return nullptr;
      source = d.source;
    }
    SourceList look{nullptr, nullptr, 0, false};
    {
      PulseLock lock(c.get());
      c->wait_operation(pa_context_get_source_info_by_name(c->context(), source.c_str(), source_list_cb, &look),
                        kPulseRequestTimeoutMs);
    }
    // A configured input that is gone is a failure, not a reason to record
    // whatever the server would pick instead. A default input that is the
    // monitor of an output (a machine without a microphone) would record
    // the system sound a second time: no microphone then.
    if (!look.exists || (device_id.empty() && look.monitor)) return nullptr;
    PulseSourceResolver same_source = [source](PulseConnection*, uint32_t, std::string* out,
                                               std::unique_ptr<AudioClient>*) {
      *out = source;
      return true;
    };
    return PulseRecordClient::open(std::move(c), source, format, same_source);
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

AudioEndpoints* system_audio_endpoints() {
  static PulseEndpoints endpoints;
  return &endpoints;
}
