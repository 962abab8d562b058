// The producers' side: frames from the capture thread, audio blocks from the
// audio worker, stream ticks from the watchdog. Every item goes through one
// of two bounded queues to the worker.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/app_state.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "video/encode/encoder.h"
#include "video/encode/sample_pool.h"
#include "video/convert/scale_convert.h"

namespace {
constexpr uint32_t kVideoSampleWaitMs = 2;
}

void clear_input_texture(Encoder& e) {
  Texture2D& t = e.resize.input_texture;
  if (t.data) std::memset(t.data, 0, static_cast<size_t>(t.stride) * static_cast<size_t>(t.height));
}

void encoder_init_process() {
  media_platform_start();
  Encoder& e = g_app.encoder;
  if (!e.wake_event) e.wake_event = std::make_unique<AutoResetEvent>();
  pool_callback_init(&e.video_return_callback, e.video_samples, kVideoPoolSize, &e.video_free);
  pool_callback_init(&e.audio_return_callback, e.audio_samples, kAudioPoolSize, &e.audio_free);
}

bool encoder_enqueue(const EncoderItem& item) {
  Encoder& e = g_app.encoder;
  EncoderQueue& q = item.type == ENCODER_ITEM_AUDIO ? e.audio_queue : e.video_queue;
  bool ok = false;
  {
    std::lock_guard<std::mutex> guard(e.lock);
    if (e.accepting.load() != 0 && q.count < kEncoderQueueSize) {
      if (e.video_queue.count + e.audio_queue.count == 0) e.queue_busy_since.store(qpc_now());
      q.items[q.write_index] = item;
      q.write_index = (q.write_index + 1) % kEncoderQueueSize;
      q.count += 1;
      ok = true;
    }
  }
  if (ok) e.wake_event->set();
  return ok;
}

uint32_t encoder_pending_count() {
  Encoder& e = g_app.encoder;
  std::lock_guard<std::mutex> guard(e.lock);
  return e.audio_queue.count + e.video_queue.count;
}

namespace {
// The frame's content rectangle goes to the top-left of the input picture. A
// smaller picture leaves black around it (`smaller`: clear first); a larger
// one is cut at the captured size. The copy keeps the box inside the picture
// it points into.
Rect content_box(const Encoder& e, Rect rect, bool& smaller) {
  const int64_t rect_w = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t rect_h = static_cast<int64_t>(rect.bottom) - rect.top;
  smaller = rect_w < e.input_width || rect_h < e.input_height;
  Rect box = rect;
  box.right = static_cast<int32_t>(rect.left + std::clamp<int64_t>(rect_w, 0, e.input_width));
  box.bottom = static_cast<int32_t>(rect.top + std::clamp<int64_t>(rect_h, 0, e.input_height));
  return box;
}

void convert_with_stages(Encoder& e, const BgraImage& image, Rect rect, uint32_t i) {
  bool smaller = false;
  const Rect box = content_box(e, rect, smaller);
  if (smaller) clear_input_texture(e);
  copy_to_texture(e.resize.input_texture, image, box);
  run_scale_and_convert(e.resize, e.convert, compute_context(), e.surfaces[i]);
}

// On the device: the picture from the device where the source has it there,
// else from memory; the result read back into the sample's surface.
void convert_on_device(Encoder& e, const BgraImage& image, const GpuPicture& picture, Rect rect, uint32_t i) {
  VideoConverter& c = *e.device_converter;
  bool smaller = false;
  const Rect box = content_box(e, rect, smaller);
  if (smaller) c.clear_input();
  if (!picture.texture || !c.load_input(picture, box)) c.load_input(image, box);
  c.convert(i);
  c.read_surface(i, e.surfaces[i]);
}
}  // namespace

bool encoder_submit_video(const BgraImage& image, Rect content_rect, int64_t time, int64_t time_base) {
  return encoder_submit_video(image, GpuPicture{}, content_rect, time, time_base);
}

bool encoder_submit_video(const BgraImage& image, const GpuPicture& picture, Rect content_rect, int64_t time,
                          int64_t time_base) {
  Encoder& e = g_app.encoder;
  e.time_base.store(static_cast<uint64_t>(time_base));
  if (e.accepting.load() == 0) {
    // Nothing to convert into once the encoder is idle or stopping.
    e.discontinuity_pending.exchange(1);
    return false;
  }
  const int32_t i = pool_claim_wait(e.video_free, kVideoSampleWaitMs);
  if (i < 0) {
    e.video_sample_wait_failures.fetch_add(1);
    e.discontinuity_pending.exchange(1);
    return false;
  }
  if (!e.resize.input_texture.data || !e.surfaces[i].data[0]) {
    // The conversion objects could not be made (an impossible size): there
    // is nothing to convert into.
    pool_return(e.video_free, static_cast<uint32_t>(i));
    e.discontinuity_pending.exchange(1);
    return false;
  }
  // The device converts pictures that are already on it. A picture in
  // memory (the GDI source) goes through the CPU stages: the writer takes
  // its pictures in memory, so the device would add an upload and a
  // read-back, which on a software device (Wine) cost ten times the
  // conversion itself.
  if (e.device_converter && picture.texture)
    convert_on_device(e, image, picture, content_rect, static_cast<uint32_t>(i));
  else
    convert_with_stages(e, image, content_rect, static_cast<uint32_t>(i));

  EncoderItem item;
  item.type = ENCODER_ITEM_VIDEO;
  item.index = static_cast<uint32_t>(i);
  item.time = time;
  item.time_base = static_cast<uint64_t>(time_base);
  if (encoder_enqueue(item)) return true;
  pool_return(e.video_free, static_cast<uint32_t>(i));
  e.discontinuity_pending.exchange(1);
  return false;
}

bool encoder_submit_audio(const void* data, uint32_t frames, int64_t time, int64_t time_base) {
  Encoder& e = g_app.encoder;
  e.time_base.store(static_cast<uint64_t>(time_base));
  if (frames == 0) return true;
  const uint32_t n = frames * e.audio_block_align;
  if (n == 0 || !data) return false;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(n));
  if (!copy) return false;
  std::memcpy(copy, data, n);
  EncoderItem item;
  item.type = ENCODER_ITEM_AUDIO;
  item.time = time;
  item.time_base = static_cast<uint64_t>(time_base);
  item.data = copy;
  item.frames = frames;
  if (encoder_enqueue(item)) return true;
  std::free(copy);
  return false;
}
