// The encoder worker: writes queued items to the media writer in order (video
// first, audio interleaved one block at a time), stamps every time, keeps the
// statistics and finalises the file when recording stop asks for it.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/app_state.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "core/trace.h"
#include "video/encode/encoder.h"
#include "video/encode/sample_pool.h"
#include "platform/mul_div.h"

void encoder_release_objects(Encoder& e);  // encoder_setup.cpp

namespace {

std::atomic<uint32_t> g_block_writer{0};

// Differences of counter values wrap like the platform's 64-bit arithmetic,
// so the "no sample yet" value (the most negative time) never passes a
// signed comparison.
int64_t diff(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }
int64_t add(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }

// Test hook: the writer "hangs" in the platform until released.
void writer_gate() {
  while (g_block_writer.load() != 0) address_wait(g_block_writer, 1, 50);
}

bool take(Encoder& e, EncoderQueue& q, EncoderItem* out) {
  std::lock_guard<std::mutex> guard(e.lock);
  if (q.count == 0) return false;
  *out = q.items[q.read_index];
  q.items[q.read_index] = EncoderItem{};
  q.read_index = (q.read_index + 1) % kEncoderQueueSize;
  q.count -= 1;
  return true;
}

// Ticks of one nominal frame, rounded up, at least 1.
uint64_t frame_ticks(const Encoder& e, uint64_t time_base) {
  const uint64_t f = (time_base * e.frame_rate_den + e.frame_rate_num - 1) / e.frame_rate_num;
  return f ? f : 1;
}

void refresh_statistics(Encoder& e) {
  uint64_t total = 0, bytes = 0;
  writer_gate();
  if (!media_failed(e.writer->get_statistics(e.video_stream, &bytes))) total += bytes;
  if (e.audio_stream >= 0) {
    bytes = 0;
    if (!media_failed(e.writer->get_statistics(e.audio_stream, &bytes))) total += bytes;
  }
  e.stats_bytes.store(total);
}

// Constant frame rate. Slot n lies n exact frame lengths after the first
// picture; the division is done per slot, so the slots never drift.
int64_t slot_time(const Encoder& e, int64_t n, uint64_t time_base) {
  const int64_t span = static_cast<int64_t>(time_base * e.frame_rate_den);
  return add(e.first_video_time.load(), mul_div(n, span, e.frame_rate_num));
}

// The slot nearest to `time` (`round_down`: the last slot at or before it).
int64_t slot_of(const Encoder& e, int64_t time, uint64_t time_base, bool round_down) {
  const int64_t since = diff(time, e.first_video_time.load());
  if (since <= 0) return 0;
  const __int128 span = static_cast<__int128>(time_base) * e.frame_rate_den;
  const __int128 scaled = static_cast<__int128>(since) * e.frame_rate_num;
  return static_cast<int64_t>(round_down ? scaled / span : (2 * scaled + span) / (2 * span));
}

// Shows the last picture again in every slot after the last one filled, up
// to and including slot `upto`.
void repeat_last_picture(Encoder& e, int64_t upto, uint64_t time_base) {
  if (!e.has_video_sample.load()) return;
  // An encoder slower than the frame rate has fallen behind by then: the
  // pictures still queued go into the file without repeats, so the file is
  // finished within recording stop's wait.
  if (e.stop_requested.load() != 0) return;
  for (int64_t n = e.last_slot + 1; n <= upto; ++n) {
    const int64_t t = slot_time(e, n, time_base);
    writer_gate();
    e.writer->send_stream_tick(e.video_stream,
                               mul_div(diff(t, e.first_video_time.load()), 10'000'000, static_cast<int64_t>(time_base)));
    e.video_duplicate_frames.fetch_add(1);
    e.last_slot = n;
    e.last_video_time.store(t);
  }
}

void write_audio_chunk(Encoder& e, uint8_t* data, uint32_t frames, int64_t time, uint64_t time_base);
void put_picture(Encoder& e, uint32_t i, int64_t time, uint64_t time_base);

// The first picture of a recording is often followed by a gap that is no
// gap in the content: the capture thread spent it waiting for the start to
// finish and converting the first picture, so the next grab came late and
// the capture's steady run of pictures starts there, off the first
// picture's frame grid. The first picture is therefore held until the
// second one (or a stream tick, or the stop) arrives; the file's time zero
// is then put a whole number of frame lengths before the second picture
// (at most one frame length after the first picture's own time), and when
// the gap was not a whole number of frame lengths (the run restarted), the
// slots in between show the first picture again. A steady capture then has
// one interval length from the very first picture on. A gap of whole frame
// lengths (content at a lower rate, a picture really missing) stays as it
// is. Sound before the time zero is cut (write_audio_chunk).
void release_first_picture(Encoder& e, const int64_t* next) {
  const uint32_t i = static_cast<uint32_t>(e.held_index);
  e.held_index = -1;
  const uint64_t time_base = e.held_time_base;
  int64_t zero = e.held_time;
  int64_t fill = 0;
  if (next != nullptr) {
    const int64_t gap = diff(*next, e.held_time);
    if (gap > 0 && gap < static_cast<int64_t>(time_base)) {
      // Frame lengths in the gap, and how far it is off a whole number of
      // them, within the pacer's tolerance (an eighth of a frame length).
      const __int128 span = static_cast<__int128>(time_base) * e.frame_rate_den;
      const __int128 scaled = static_cast<__int128>(gap) * e.frame_rate_num;
      const int64_t whole = static_cast<int64_t>((scaled + span / 8) / span);
      const __int128 off = scaled - whole * span;
      if (whole >= 1) {
        // Rounded up like the pacer's grid times: a steady run keeps its first time.
        zero = diff(*next, static_cast<int64_t>(mul_div(static_cast<uint64_t>(whole), time_base * e.frame_rate_den,
                                                       e.frame_rate_num, e.frame_rate_num - 1)));
        if (off > span / 8 || off < -span / 8) fill = whole - 1;
      }
    }
  }
  e.first_video_time.store(zero);
  put_picture(e, i, zero, time_base);
  e.last_slot = 0;
  if (!e.constant_rate && fill >= 1) repeat_last_picture(e, fill, time_base);
  for (EncoderItem& a : e.held_audio) {
    write_audio_chunk(e, a.data, a.frames, a.time, a.time_base);
    std::free(a.data);
  }
  e.held_audio.clear();
}

void write_video_sample(Encoder& e, uint32_t i, int64_t time, uint64_t time_base) {
  if (i >= kVideoPoolSize) return;
  if (time_base == 0 || !e.writer) {
    // No timeline to place it on: the picture goes back unwritten.
    pool_return(e.video_free, i);
    return;
  }
  if (e.held_index < 0 && e.first_video_time.load() == 0 && e.has_video_sample.load() == 0) {
    // The sound is cut from here until the time zero is fixed.
    e.first_video_time.store(time);
    e.held_index = static_cast<int32_t>(i);
    e.held_time = time;
    e.held_time_base = time_base;
    return;
  }
  if (e.held_index >= 0) release_first_picture(e, &time);
  put_picture(e, i, time, time_base);
}

void put_picture(Encoder& e, uint32_t i, int64_t time, uint64_t time_base) {
  int64_t slot = -1;
  if (e.constant_rate) {
    // Each picture takes the slot nearest its time; the slots since the last
    // one show that one again. A slot already filled keeps its picture.
    slot = slot_of(e, time, time_base, false);
    if (e.has_video_sample.load() && slot <= e.last_slot) {
      pool_return(e.video_free, i);
      return;
    }
    set_stage(e, ENCODER_STAGE_VIDEO_WRITE);
    repeat_last_picture(e, slot - 1, time_base);
    time = slot_time(e, slot, time_base);
  }
  const int64_t f = static_cast<int64_t>(frame_ticks(e, time_base));
  // After a gap of less than a second, late frames catch up four frame
  // lengths at a time. When the gate lets frames through more slowly than
  // the nominal rate (a lowered rate, the audio clamp at 5 per second), a
  // frame length is the interval at which they really come, else the
  // picture would fall further behind with every frame and never meet its
  // real time again. The smaller of the last two intervals is taken, so the
  // gap itself never counts as the pace.
  int64_t pace = f;
  if (e.last_frame_arrival != 0) {
    const int64_t interval = diff(time, e.last_frame_arrival);
    // With a single interval known, it may be the gap itself: the nominal length then.
    const int64_t recent = e.last_frame_interval > 0 ? std::min(interval, e.last_frame_interval) : f;
    if (recent > pace) pace = recent;
    e.last_frame_interval = interval;
  }
  e.last_frame_arrival = time;
  const int64_t last = e.last_video_time.load();
  if (e.constant_rate) {
    // On its slot already.
  } else if (e.has_video_sample.load() && diff(time, last) >= static_cast<int64_t>(time_base)) {
    // A second or more without a picture (the process or the capture stood
    // still): the gap stays a gap. Catching up four frames at a time would
    // show the picture behind the sound for seconds after a long stall.
    e.discontinuity_pending.exchange(1);
  } else if (e.has_video_sample.load() && diff(time, add(last, 4 * pace)) > 0) {
    time = add(last, 4 * pace);
  }
  set_stage(e, ENCODER_STAGE_VIDEO_WRITE);

  MediaSample* s = e.video_samples[i];
  s->duration = mul_div_signed(e.frame_rate_den, 10'000'000, e.frame_rate_num);
  s->time = mul_div_signed(diff(time, e.first_video_time.load()), 10'000'000, static_cast<int64_t>(time_base));
  s->discontinuity = e.discontinuity_pending.exchange(0) != 0 ? 1 : 0;
  pool_track(s, &e.video_return_callback);

  writer_gate();
  if (media_failed(e.writer->write_sample(e.video_stream, s))) {
    e.write_failed.exchange(1);
    pool_return(e.video_free, i);
    return;
  }
  sample_release(s);  // the pool's reference; the sample comes back through the callback
  e.has_video_sample.store(1);
  e.last_video_time.store(time);
  if (slot >= 0) e.last_slot = slot;

  const int64_t now = qpc_now();
  if (time_base != 0 && static_cast<uint64_t>(now - e.stats_time.load()) >= time_base / 2) {
    refresh_statistics(e);
    e.stats_valid.exchange(1);
    e.stats_time.store(now);
  }
}

void send_stream_ticks(Encoder& e, int64_t now, uint64_t time_base) {
  // A quarter of a second without a new picture: the first one keeps its time.
  if (e.held_index >= 0) release_first_picture(e, nullptr);
  set_stage(e, ENCODER_STAGE_STREAM_TICK);
  const int64_t first = e.first_video_time.load();
  if (first == 0 || time_base == 0 || !e.writer) return;
  if (e.constant_rate) {
    // Every slot up to now shows the last picture.
    repeat_last_picture(e, slot_of(e, now, time_base, true), time_base);
    return;
  }
  const int64_t f = static_cast<int64_t>(frame_ticks(e, time_base));
  const int64_t tb = static_cast<int64_t>(time_base);

  // A short gap: repeat the picture up to 16 frames after the last one.
  if (e.has_video_sample.load()) {
    const int64_t last = e.last_video_time.load();
    const uint64_t limit = static_cast<uint64_t>(add(last, 16 * f));
    const int64_t t = static_cast<int64_t>(std::min(static_cast<uint64_t>(now), limit));
    if (diff(t, last) >= f) {
      writer_gate();
      e.writer->send_stream_tick(e.video_stream, mul_div_signed(diff(t, first), 10'000'000, tb));
      e.video_duplicate_frames.fetch_add(1);
      e.last_video_time.store(t);
    }
  }

  // A long gap: move the timeline on by at most four frames and mark the
  // next real frame as following a gap.
  const int64_t last = e.last_video_time.load();
  const int64_t g = diff(now, last);
  if (g < tb) return;
  const uint64_t step = std::min(static_cast<uint64_t>(g), static_cast<uint64_t>(4 * f));
  e.last_video_time.store(add(last, static_cast<int64_t>(step)));
  writer_gate();
  e.writer->send_stream_tick(e.video_stream, mul_div_signed(diff(e.last_video_time.load(), first), 10'000'000, tb));
  e.video_stream_ticks.fetch_add(1);
  e.discontinuity_pending.exchange(1);
}

void drain_resampler(Encoder& e, uint32_t wait_ms) {
  for (;;) {
    if (e.audio_free.load() == 0) {
      if (wait_ms == 0) return;
      while (e.audio_free.load() == 0) {
        if (!address_wait(e.audio_free, 0, wait_ms)) return;
      }
    }
    const int32_t i = std::countr_zero(e.audio_free.load());
    if (i >= static_cast<int32_t>(kAudioPoolSize)) return;
    MediaSample* s = e.audio_samples[i];
    s->length = 0;
    const MediaResult r = e.resampler->process_output(s);
    if (r == MEDIA_E_TRANSFORM_NEED_MORE_INPUT) return;
    // A transform that keeps failing would otherwise be asked again forever.
    if (media_failed(r)) return;
    e.audio_free.fetch_and(~(1u << i));
    pool_track(s, &e.audio_return_callback);
    writer_gate();
    if (media_failed(e.writer->write_sample(e.audio_stream, s))) {
      pool_return(e.audio_free, static_cast<uint32_t>(i));
      return;
    }
    sample_release(s);
  }
}

bool feed_resampler(Encoder& e, const MediaSample* sample) {
  uint32_t attempts = 0;
  MediaResult hr = e.resampler->process_input(sample);
  while (hr == MEDIA_E_NOTACCEPTING) {
    e.audio_backpressure_events.fetch_add(1);
    drain_resampler(e, 25);
    attempts += 1;
    std::this_thread::yield();
    if (attempts >= 2) return false;
    hr = e.resampler->process_input(sample);
  }
  drain_resampler(e, attempts > 0 ? 25 : 0);
  return true;
}

void write_audio_chunk(Encoder& e, uint8_t* data, uint32_t frames, int64_t time, uint64_t time_base) {
  if (!e.resampler || !e.writer || e.audio_stream < 0 || time_base == 0 || e.audio_rate == 0) return;
  MediaSample& in = e.audio_input_sample;
  int64_t t = mul_div_signed(diff(time, e.first_video_time.load()), 10'000'000, static_cast<int64_t>(time_base));
  if (t < 0) {
    // Sound from before the file's time zero is cut, not moved to it.
    const int64_t skip = (-t * static_cast<int64_t>(e.audio_rate) + 9'999'999) / 10'000'000;
    if (skip >= frames) return;
    data += static_cast<size_t>(skip) * e.audio_block_align;
    frames -= static_cast<uint32_t>(skip);
    t = 0;
  }
  const uint32_t n = frames * e.audio_block_align;
  in.data[0] = data;
  in.length = n;
  in.capacity = n;
  const int64_t duration = mul_div_signed(frames, 10'000'000, e.audio_rate);
  if (t < e.audio_end_time.load()) t = e.audio_end_time.load();
  in.duration = duration;
  in.time = t;
  e.audio_end_time.store(t + duration);
  const bool ok = feed_resampler(e, &in);
  in.data[0] = nullptr;
  in.length = in.capacity = 0;
  if (!ok) e.encoder_audio_dropped.fetch_add(1);
}

}  // namespace

void set_stage(Encoder& e, uint32_t value) { e.stage.exchange(value); }

const char* encoder_stage_name(uint32_t value) {
  switch (value) {
    case ENCODER_STAGE_VIDEO_WRITE: return "video.write_sample";
    case ENCODER_STAGE_STREAM_TICK: return "video.stream_tick";
    case ENCODER_STAGE_AUDIO_PROCESS: return "audio.process_input";
    case ENCODER_STAGE_AUDIO_FLUSH: return "audio.flush";
    case ENCODER_STAGE_FINALIZE: return "finalize";
    default: return "idle";
  }
}

void encoder_test_block_writer(bool block) {
  g_block_writer.store(block ? 1 : 0);
  if (!block) address_wake_all(g_block_writer);
}

void encoder_dispatch(Encoder& e, const EncoderItem& item) {
  switch (item.type) {
    case ENCODER_ITEM_VIDEO:
      write_video_sample(e, item.index, item.time, item.time_base);
      break;
    case ENCODER_ITEM_TICK:
      send_stream_ticks(e, item.time, item.time_base);
      break;
    case ENCODER_ITEM_AUDIO:
      set_stage(e, ENCODER_STAGE_AUDIO_PROCESS);
      if (e.held_index >= 0) {
        // Placed once the time zero is fixed; a quarter of a second of sound
        // past the held picture without a second one: it keeps its time.
        e.held_audio.push_back(item);
        if (diff(item.time, e.held_time) < static_cast<int64_t>(e.held_time_base / 4)) break;
        release_first_picture(e, nullptr);
        break;
      }
      write_audio_chunk(e, item.data, item.frames, item.time, item.time_base);
      std::free(item.data);
      break;
    default:
      break;
  }
}

bool encoder_finalize(Encoder& e) {
  if (e.held_index >= 0) {
    if (e.writer) {
      release_first_picture(e, nullptr);
    } else {
      pool_return(e.video_free, static_cast<uint32_t>(e.held_index));
      e.held_index = -1;
    }
  }
  for (EncoderItem& a : e.held_audio) std::free(a.data);
  e.held_audio.clear();
  if (e.audio_stream >= 0 && e.resampler) {
    set_stage(e, ENCODER_STAGE_AUDIO_FLUSH);
    e.resampler->drain();
    if (e.writer) drain_resampler(e, 250);
    e.resampler.reset();
  }
  set_stage(e, ENCODER_STAGE_FINALIZE);
  MediaResult result = MEDIA_E_FAIL;
  if (e.writer) {
    writer_gate();
    result = e.writer->finalize();
    e.writer.reset();  // returns every sample the writer still held
  }
  encoder_release_objects(e);
  set_stage(e, ENCODER_STAGE_IDLE);
  return !media_failed(result);
}

void encoder_worker(Encoder* encoder) {
  Encoder& e = *encoder;
  trace_eventf("encoder.worker_started tid=%lu", current_thread_id());
  unsigned long dropped_at_stop = 0;
  for (;;) {
    e.wake_event->wait();
    // One video item, then every audio block waiting. A software encoder
    // writes a picture in the caller's time (tens of milliseconds at
    // 1080p), so writing all queued video before the next audio block would
    // hold the sound back for a whole queue of pictures: the audio queue
    // fills, the capture rings back up and the governor clamps the picture
    // rate for a backlog the worker made itself. Audio blocks cost little.
    for (;;) {
      bool progressed = false;
      EncoderItem item;
      if (take(e, e.video_queue, &item)) {
        encoder_dispatch(e, item);
        e.last_activity.store(qpc_now());
        progressed = true;
      }
      while (take(e, e.audio_queue, &item)) {
        if (e.stop_requested.load() != 0) {
          std::free(item.data);
          dropped_at_stop += 1;
        } else {
          encoder_dispatch(e, item);
        }
        e.last_activity.store(qpc_now());
        progressed = true;
      }
      if (!progressed) break;
    }
    if (e.held_index >= 0 && e.stop_requested.load() != 0) release_first_picture(e, nullptr);
    if (e.stop_requested.load() != 0 && encoder_pending_count() == 0) break;
  }
  if (dropped_at_stop != 0) trace_eventf("stop.audio_dropped_to_finalize=%lu", dropped_at_stop);
  e.finalize_ok.exchange(encoder_finalize(e) ? 1 : 0);
  e.worker_done.exchange(1);
  e.worker_exited.store(1);
  address_wake_all(e.worker_exited);
}

void encoder_request_stop() {
  Encoder& e = g_app.encoder;
  e.accepting.exchange(0);
  e.stop_requested.exchange(1);
  if (e.wake_event) e.wake_event->set();
}

bool encoder_wait_worker(uint32_t timeout_ms) {
  Encoder& e = g_app.encoder;
  if (!e.worker_running.load()) return true;
  // Real time, not the counter: tests may run a manual clock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (e.worker_exited.load() == 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    address_wait(e.worker_exited, 0, static_cast<uint32_t>(left));
  }
  if (e.worker_thread.joinable()) e.worker_thread.join();
  e.worker_running.store(0);
  return true;
}

bool encoder_has_worker() { return g_app.encoder.worker_running.load() != 0; }
