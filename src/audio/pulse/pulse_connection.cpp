#include "audio/pulse/pulse_connection.h"

#include "platform/clock.h"

namespace {
void context_state_cb(pa_context*, void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

uint32_t wave_mask_for(const pa_channel_map& map) {
  uint32_t mask = 0;
  for (unsigned i = 0; i < map.channels; ++i) {
    switch (map.map[i]) {
      case PA_CHANNEL_POSITION_FRONT_LEFT: mask |= 0x1; break;
      case PA_CHANNEL_POSITION_FRONT_RIGHT: mask |= 0x2; break;
      case PA_CHANNEL_POSITION_FRONT_CENTER: mask |= 0x4; break;
      case PA_CHANNEL_POSITION_LFE: mask |= 0x8; break;
      case PA_CHANNEL_POSITION_REAR_LEFT: mask |= 0x10; break;
      case PA_CHANNEL_POSITION_REAR_RIGHT: mask |= 0x20; break;
      case PA_CHANNEL_POSITION_REAR_CENTER: mask |= 0x100; break;
      case PA_CHANNEL_POSITION_SIDE_LEFT: mask |= 0x200; break;
      case PA_CHANNEL_POSITION_SIDE_RIGHT: mask |= 0x400; break;
      case PA_CHANNEL_POSITION_MONO: mask |= 0x4; break;
      default: return 0;  // a layout the mask cannot express
    }
  }
  return mask;
}
}  // namespace

std::unique_ptr<PulseConnection> PulseConnection::open(const char* client_name, uint32_t timeout_ms) {
  std::unique_ptr<PulseConnection> c(new PulseConnection());
  c->loop_ = pa_threaded_mainloop_new();
  if (!c->loop_) return nullptr;
  c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), client_name);
  if (!c->context_) return nullptr;
  pa_context_set_state_callback(c->context_, context_state_cb, c->loop_);
  if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
  if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;
  PulseLock lock(c.get());
  bool ready = c->wait_until(
      [&] {
        pa_context_state_t s = pa_context_get_state(c->context_);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
      },
      timeout_ms);
  if (!ready || pa_context_get_state(c->context_) != PA_CONTEXT_READY) {
    pa_context_set_state_callback(c->context_, nullptr, nullptr);
    return std::unique_ptr<PulseConnection>();  // the lock guard unlocks before the destructor runs
  }
  return c;
}

PulseConnection::~PulseConnection() {
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::wait_until(const std::function<bool()>& done, uint32_t timeout_ms) {
  const int64_t deadline = qpc_now() + int64_t{timeout_ms} * 10000;
  while (!done()) {
    if (qpc_now() >= deadline) return false;
    unlock();
    sleep_ms(2);
    lock();
  }
  return true;
}

bool PulseConnection::wait_operation(pa_operation* op, uint32_t timeout_ms) {
  if (!op) return false;
  bool ok = wait_until([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeout_ms);
  if (!ok) pa_operation_cancel(op);
  ok = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
  pa_operation_unref(op);
  return ok;
}

bool pulse_spec_from_format(const WaveFormat& f, pa_sample_spec* ss, pa_channel_map* map) {
  const bool is_float = f.is_float || f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  if (is_float && f.wBitsPerSample == 32) {
    ss->format = PA_SAMPLE_FLOAT32LE;
  } else if (!is_float && f.wBitsPerSample == 16) {
    ss->format = PA_SAMPLE_S16LE;
  } else if (!is_float && f.wBitsPerSample == 32) {
    ss->format = PA_SAMPLE_S32LE;
  } else if (!is_float && f.wBitsPerSample == 24) {
    ss->format = PA_SAMPLE_S24LE;
  } else if (!is_float && f.wBitsPerSample == 8) {
    ss->format = PA_SAMPLE_U8;
  } else {
    return false;
  }
  ss->rate = f.nSamplesPerSec;
  ss->channels = static_cast<uint8_t>(f.nChannels);
  if (!pa_sample_spec_valid(ss)) return false;
  if (uint64_t{pa_frame_size(ss)} != f.nBlockAlign) return false;
  return pa_channel_map_init_auto(map, ss->channels, PA_CHANNEL_MAP_WAVEEX) != nullptr;
}

WaveFormat pulse_capture_format(const pa_sample_spec& ss, const pa_channel_map& map) {
  WaveFormat f;
  const bool pcm16 = ss.format == PA_SAMPLE_S16LE || ss.format == PA_SAMPLE_S16BE;
  f.nChannels = ss.channels;
  f.nSamplesPerSec = ss.rate;
  f.wBitsPerSample = pcm16 ? 16 : 32;
  f.wValidBitsPerSample = f.wBitsPerSample;
  f.nBlockAlign = static_cast<uint16_t>(f.nChannels * f.wBitsPerSample / 8);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  f.is_float = pcm16 ? 0 : 1;
  f.dwChannelMask = wave_mask_for(map);
  if (f.nChannels <= 2 && !f.dwChannelMask) f.dwChannelMask = f.nChannels == 1 ? 0x4 : 0x3;
  f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.cbSize = 22;
  return f;
}
