#include "audio/mixer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/app_state.h"
#include "audio/audio_capture.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "core/trace.h"
#include "video/encode/encoder.h"

namespace {
uint64_t stream_start_time() {
  int64_t t = g_app.encoder.first_video_time;
  return static_cast<uint64_t>(t);
}

uint64_t frequency() { return static_cast<uint64_t>(g_app.qpc_frequency); }

bool is_open(const AudioCapture& c) { return c.audio_client != nullptr && c.stream_format != nullptr; }

bool formats_agree(const WaveFormat& a, const WaveFormat& b) {
  return a.nSamplesPerSec == b.nSamplesPerSec && a.nBlockAlign == b.nBlockAlign &&
         a.nChannels == b.nChannels && a.wBitsPerSample == b.wBitsPerSample;
}

void release_packet(AudioCapture* c, uint32_t frames) {
  c->read_pos.fetch_add(frames * c->stream_format->nBlockAlign + kPacketHeaderBytes,
                        std::memory_order_release);
}

// Block align of what the mixer hands out: the system stream's format
// whenever a system stream is open, else the microphone's. 0 when neither.
uint32_t output_block_align() {
  if (is_open(g_app.system_capture)) return g_app.system_capture.stream_format->nBlockAlign;
  if (is_open(g_app.mic_capture)) return g_app.mic_capture.stream_format->nBlockAlign;
  return 0;
}

// Moves the sample clock on by `frames` exactly (the remainder is carried).
void advance_clock(uint32_t frames, uint32_t rate) {
  AudioMixer& m = g_app.mixer;
  const uint64_t x = uint64_t{frames} * frequency() + m.audio_time_remainder;
  m.next_audio_time += x / rate;
  m.audio_time_remainder = x % rate;
}

// Frames of `rate` that cover `ticks`, at least 1 and at most `held`.
uint32_t lead_frames(uint32_t held, uint32_t rate, uint64_t ticks) {
  uint64_t n = mul_div(rate, ticks, frequency());
  if (n < 1) n = 1;
  return n < held ? static_cast<uint32_t>(n) : held;
}
}  // namespace

void audio_mixer_begin_recording() {
  AudioMixer& m = g_app.mixer;
  m.next_audio_time = 0;
  m.audio_time_remainder = 0;
  m.clock_jump_count = 0;
  m.clock_jump_total_ms = 0;
  m.clock_overlap_count = 0;
  m.clock_slip_frames = 0;
  m.lag_avg = 0;
  m.system_pending = PendingPacket{};
  m.mic_pending = PendingPacket{};
}

void release_pending(PendingPacket* pending) {
  if (pending->valid) release_packet(pending->source, pending->packet_frames);
  *pending = PendingPacket{};
}

void consume_pending(PendingPacket* pending, uint32_t frames) {
  if (!pending->valid) return;
  if (frames >= pending->frames_left) {
    release_pending(pending);
    return;
  }
  pending->frames_left -= frames;
  pending->cursor += uint64_t{frames} * pending->block_align;
  pending->cursor_time += uint64_t{frames} * frequency() / pending->sample_rate;
}

bool fill_pending(PendingPacket* pending, AudioCapture* capture) {
  if (pending->valid) return true;
  const uint64_t start = stream_start_time();
  const uint64_t paused = g_app.recording.paused_total_qpc.load(std::memory_order_relaxed);
  const WaveFormat& f = *capture->stream_format;
  for (;;) {
    AudioPacket packet;
    if (!read_packet(capture, start, &packet)) return false;
    uint64_t t = packet.time > paused ? packet.time - paused : 0;
    const uint8_t* cursor = packet.data;
    uint32_t frames_left = packet.frames;
    if (t < start) {
      // ceil(rate × (start − t) / frequency), compared before it is cut to
      // 32 bits: after a long uptime the product no longer fits in 64 bits,
      // and a wrapped count would keep audio from long before the start.
      const uint64_t skip64 = mul_div(f.nSamplesPerSec, start - t, frequency(), frequency() - 1);
      if (skip64 >= packet.frames) {
        release_packet(capture, packet.frames);
        continue;
      }
      const uint32_t skip = static_cast<uint32_t>(skip64);
      cursor += uint64_t{skip} * f.nBlockAlign;
      frames_left -= skip;
      t += uint64_t{skip} * frequency() / f.nSamplesPerSec;
    }
    pending->valid = 1;
    pending->source = capture;
    pending->packet_frames = packet.frames;
    pending->cursor = cursor;
    pending->frames_left = frames_left;
    pending->cursor_time = t;
    pending->sample_rate = f.nSamplesPerSec;
    pending->block_align = f.nBlockAlign;
    return true;
  }
}

void mix_samples(const uint8_t* system, const uint8_t* mic, uint32_t frames, uint32_t channels,
                 uint32_t bits, float mic_gain, float master_gain) {
  uint8_t* out = g_app.mixer.mix_buffer;
  const size_t samples = size_t{frames} * channels;
  if (bits == 32) {
    float s = 0.0f, m = 0.0f;
    for (size_t i = 0; i < samples; ++i) {
      if (system) std::memcpy(&s, system + 4 * i, 4);
      if (mic) std::memcpy(&m, mic + 4 * i, 4);
      float v = (s + m * mic_gain) * master_gain;
      v = v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
      std::memcpy(out + 4 * i, &v, 4);
    }
  } else if (bits == 16) {
    int16_t s = 0, m = 0;
    for (size_t i = 0; i < samples; ++i) {
      if (system) std::memcpy(&s, system + 2 * i, 2);
      if (mic) std::memcpy(&m, mic + 2 * i, 2);
      float v = (static_cast<float>(s) + static_cast<float>(m) * mic_gain) * master_gain;
      v = v < -32768.0f ? -32768.0f : (v > 32767.0f ? 32767.0f : v);
      int16_t o = static_cast<int16_t>(v);  // truncates toward zero
      std::memcpy(out + 2 * i, &o, 2);
    }
  } else {
    const size_t bytes = size_t{frames} * (bits * channels / 8);
    if (system) {
      std::memcpy(out, system, bytes);
    } else if (mic) {
      std::memcpy(out, mic, bytes);
    } else {
      std::memset(out, 0, bytes);
    }
  }
}

bool ensure_mix_buffer(uint32_t bytes) {
  AudioMixer& m = g_app.mixer;
  if (m.mix_buffer_size >= bytes) return true;
  void* grown = std::realloc(m.mix_buffer, bytes);
  if (!grown) return false;
  m.mix_buffer = static_cast<uint8_t*>(grown);
  m.mix_buffer_size = bytes;
  return true;
}

// The mix buffer could not grow: the frames cannot be mixed and are dropped,
// counted and traced, so lost sound is never silent.
static void drop_unmixed(uint32_t frames) {
  AudioMixer& m = g_app.mixer;
  m.mix_dropped_frames += frames;
  trace_eventf("audio.mix_buffer_failed frames=%u total=%llu", frames,
               static_cast<unsigned long long>(m.mix_dropped_frames));
}

bool submit_audio(const void* data, uint32_t frames, uint64_t time, uint32_t rate) {
  AudioMixer& m = g_app.mixer;
  const uint64_t f = frequency();
  if (frames == 0) return true;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  const uint32_t align = output_block_align();
  const uint64_t tol = f * 20 / 1000;
  if (m.next_audio_time == 0) {
    m.next_audio_time = time;
    m.audio_time_remainder = 0;
    m.lag_avg = 0;
  } else if (f != 0 && time > m.next_audio_time + tol) {
    uint64_t gap_ms = mul_div(time - m.next_audio_time, 1000, f);
    m.clock_jump_count += 1;
    m.clock_jump_total_ms += gap_ms;
    if (m.clock_jump_count <= 8) {
      trace_event(format_cut(128, "audio.clock_jump gap_ms=%llu total_ms=%llu",
                             static_cast<unsigned long long>(gap_ms),
                             static_cast<unsigned long long>(m.clock_jump_total_ms)));
    }
    m.next_audio_time = time;
    m.audio_time_remainder = 0;
    m.lag_avg = 0;
  } else if (f != 0 && rate != 0 && align != 0 && time + tol < m.next_audio_time) {
    // The block starts more than 20 ms before the running clock: its head
    // covers time the track already holds (sound that reached us late, in a
    // burst, after the process or the machine stood still). Placed at the
    // clock it would put the sound late for the rest of the recording; the
    // covered frames are left out instead.
    const uint64_t skip = mul_div(m.next_audio_time - time, rate, f, f - 1);
    m.clock_overlap_count += 1;
    if (m.clock_overlap_count <= 8) {
      trace_eventf("audio.clock_overlap dropped_ms=%llu",
                   static_cast<unsigned long long>(mul_div(skip < frames ? skip : frames, 1000, rate)));
    }
    m.lag_avg = 0;
    if (skip >= frames) return true;
    bytes += skip * align;
    frames -= static_cast<uint32_t>(skip);
  } else if (f != 0 && rate != 0 && align != 0) {
    // A sound device's clock is not the system's: it delivers a little more
    // or a little less than its nominal rate per second (100 ppm is 6 ms a
    // minute), and counted samples part from the captured times without
    // bound. The smoothed difference between the two is held within 2 ms
    // by leaving out or repeating a single frame now and then.
    const int64_t lag = static_cast<int64_t>(time - m.next_audio_time);
    m.lag_avg += (lag - m.lag_avg) / 64;
    const int64_t one = static_cast<int64_t>(f / rate > 0 ? f / rate : 1);
    const int64_t band = static_cast<int64_t>(f / 500);
    if (m.lag_avg < -band) {
      // The counted clock runs ahead of the device: one frame less.
      m.lag_avg += one;
      m.clock_slip_frames -= 1;
      bytes += align;
      frames -= 1;
      if (frames == 0) return true;
    } else if (m.lag_avg > band) {
      // The counted clock falls behind: the first frame once more.
      if (!encoder_submit_audio(bytes, 1, static_cast<int64_t>(m.next_audio_time), static_cast<int64_t>(f))) {
        return false;
      }
      advance_clock(1, rate);
      m.lag_avg -= one;
      m.clock_slip_frames += 1;
    }
  }
  // Nothing past the recording's end (the length limit, or the stop): the
  // block is cut there, and what lies wholly beyond it is let go.
  const int64_t end = g_app.recording.end_time.load(std::memory_order_relaxed);
  if (end > 0 && rate != 0 && f != 0) {
    const uint64_t e = static_cast<uint64_t>(end);
    const uint64_t fit = m.next_audio_time < e ? mul_div(e - m.next_audio_time, rate, f) : 0;
    if (fit == 0) return true;
    if (fit < frames) frames = static_cast<uint32_t>(fit);
  }
  if (!encoder_submit_audio(bytes, frames, static_cast<int64_t>(m.next_audio_time), static_cast<int64_t>(f))) {
    return false;
  }
  if (rate == 0) return true;
  advance_clock(frames, rate);
  return true;
}

void mix_audio(bool flush, uint64_t deadline) {
  if (stream_start_time() == 0) return;
  AudioMixer& mx = g_app.mixer;
  AudioCapture& sys = g_app.system_capture;
  AudioCapture& mic = g_app.mic_capture;
  const bool use_system = is_open(sys);
  const bool both_agree = use_system && is_open(mic) && formats_agree(*sys.stream_format, *mic.stream_format);
  const bool use_mic = is_open(mic) && (!use_system || both_agree);
  uint32_t volume = g_app.config.MicrophoneVolume;
  const float mic_gain = static_cast<float>(volume < 200 ? volume : 200) / 100.0f;
  const float master_gain = both_agree ? 0.5f : 1.0f;
  const uint64_t f = frequency();
  const uint64_t tol = f / 100 > 1 ? f / 100 : 1;

  uint32_t turns = 0;
  for (;;) {
    if (!flush) {
      if (!g_app.recording.active.load(std::memory_order_relaxed)) return;
      if (++turns > 64) return;
    } else if (deadline != 0 && static_cast<uint64_t>(qpc_now()) >= deadline) {
      release_pending(&mx.system_pending);
      release_pending(&mx.mic_pending);
      return;
    }
    const bool has_system = use_system && fill_pending(&mx.system_pending, &sys);
    const bool has_mic = use_mic && fill_pending(&mx.mic_pending, &mic);
    if (!has_system && !has_mic) break;

    PendingPacket& sp = mx.system_pending;
    PendingPacket& mp = mx.mic_pending;
    enum { EMIT_SYSTEM, EMIT_MIC, EMIT_BOTH } what;
    uint32_t n;
    if (!has_system) {
      what = EMIT_MIC;
      n = mp.frames_left;
    } else if (!has_mic) {
      what = EMIT_SYSTEM;
      n = sp.frames_left;
    } else {
      const uint64_t ts = sp.cursor_time, tm = mp.cursor_time;
      if (ts + tol < tm) {
        what = EMIT_SYSTEM;
        n = lead_frames(sp.frames_left, sp.sample_rate, tm - ts);
      } else if (tm + tol >= ts) {
        what = EMIT_BOTH;
        n = sp.frames_left < mp.frames_left ? sp.frames_left : mp.frames_left;
      } else {
        what = EMIT_MIC;
        n = lead_frames(mp.frames_left, mp.sample_rate, ts - tm);
      }
    }

    if (what == EMIT_SYSTEM) {
      const WaveFormat& fmt = *sys.stream_format;
      const void* data = sp.cursor;
      if (master_gain != 1.0f && ensure_mix_buffer(n * sp.block_align)) {
        mix_samples(sp.cursor, nullptr, n, fmt.nChannels, fmt.wBitsPerSample, mic_gain, master_gain);
        data = mx.mix_buffer;
      }
      if (!submit_audio(data, n, sp.cursor_time, sp.sample_rate)) break;
      consume_pending(&sp, n);
    } else if (what == EMIT_MIC) {
      const WaveFormat& fmt = *mic.stream_format;
      if (ensure_mix_buffer(n * mp.block_align)) {
        mix_samples(nullptr, mp.cursor, n, fmt.nChannels, fmt.wBitsPerSample, mic_gain, master_gain);
        if (!submit_audio(mx.mix_buffer, n, mp.cursor_time, mp.sample_rate)) break;
      } else {
        drop_unmixed(n);
      }
      consume_pending(&mp, n);
    } else {
      const WaveFormat& fmt = *sys.stream_format;
      if (ensure_mix_buffer(n * sp.block_align)) {
        mix_samples(sp.cursor, mp.cursor, n, fmt.nChannels, fmt.wBitsPerSample, mic_gain, master_gain);
        if (!submit_audio(mx.mix_buffer, n, sp.cursor_time, sp.sample_rate)) break;
      } else {
        drop_unmixed(n);
      }
      consume_pending(&sp, n);
      consume_pending(&mp, n);
    }
  }
  if (flush) {
    release_pending(&mx.system_pending);
    release_pending(&mx.mic_pending);
  }
}

void pad_silence_to_end() {
  AudioCapture* stream = is_open(g_app.system_capture) ? &g_app.system_capture
                         : is_open(g_app.mic_capture) ? &g_app.mic_capture
                                                       : nullptr;
  const int64_t end = g_app.recording.end_time.load(std::memory_order_relaxed);
  if (stream == nullptr || end <= 0) return;
  AudioMixer& m = g_app.mixer;
  const uint32_t rate = stream->stream_format->nSamplesPerSec;
  const uint32_t align = output_block_align();
  const uint64_t f = frequency();
  const uint64_t from = m.next_audio_time != 0 ? m.next_audio_time : stream_start_time();
  const uint64_t tol = f / 50;  // the writer fills gaps longer than 20 ms with silence
  if (from == 0 || from + tol >= static_cast<uint64_t>(end) || rate == 0 || align == 0) return;
  // One short silent block that ends at the recording's end; the writer
  // fills the gap before it with silence. One block, which the encoder
  // takes at once (the stop waits for that before it asks the worker to
  // finish, which drops what is still queued).
  const uint32_t frames = rate / 100 > 0 ? rate / 100 : 1;
  const uint64_t at = static_cast<uint64_t>(end) - mul_div(frames, f, rate);
  if (at <= from || !ensure_mix_buffer(frames * align)) return;
  std::memset(m.mix_buffer, 0, size_t{frames} * align);  // silence in float and signed PCM alike
  trace_eventf("audio.silence_to_end ms=%llu",
               static_cast<unsigned long long>(mul_div(static_cast<uint64_t>(end) - from, 1000, f)));
  if (!encoder_submit_audio(m.mix_buffer, frames, static_cast<int64_t>(at), static_cast<int64_t>(f))) return;
  m.next_audio_time = static_cast<uint64_t>(end);
  m.audio_time_remainder = 0;
}

void discard_audio() {
  const uint64_t start = stream_start_time();
  if (start == 0) return;
  AudioCapture* streams[2] = {&g_app.system_capture, &g_app.mic_capture};
  PendingPacket* pending[2] = {&g_app.mixer.system_pending, &g_app.mixer.mic_pending};
  for (int i = 0; i < 2; ++i) {
    if (!is_open(*streams[i])) continue;
    release_pending(pending[i]);
    AudioPacket packet;
    while (read_packet(streams[i], start, &packet)) release_packet(streams[i], packet.frames);
  }
}
