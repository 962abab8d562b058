// The capture session: turns each frame of the open source into one call of
// the frame handler with a cropped frame record, and a closed target into a
// call with no frame.
#include <algorithm>

#include "core/app_state.h"
#include "capture/capture.h"
#include "capture/capture_service.h"
#include "core/trace.h"

namespace {
void resize_pool(Capture* c, const SourceFrame& f) {
  if (f.content_width != c->pool_width || f.content_height != c->pool_height) {
    c->pool_width = f.content_width;
    c->pool_height = f.content_height;
    if (c->item != nullptr) c->item->recreate(f.content_width, f.content_height);
  }
}
}  // namespace

void capture_deliver_frame(Capture* c, const SourceFrame& f) {
  if (c == nullptr || c->on_frame == nullptr) return;
  // The picture's size: the CPU copy's, or the device picture's for a
  // source that delivers only that.
  const bool cpu = f.image.data != nullptr || f.gpu.texture == nullptr;
  int32_t w = std::min(f.content_width, cpu ? f.image.width : f.gpu.width);
  int32_t h = std::min(f.content_height, cpu ? f.image.height : f.gpu.height);
  Rect rect = c->window != 0 && f.window_bounds != nullptr ? window_crop_rect(*c, *f.window_bounds, w, h)
                                                           : target_crop_rect(*c, w, h);
  // The frame bounds may already be those of a resized window while the
  // picture still has the old size: record what fits.
  rect.left = std::max(rect.left, 0);
  rect.top = std::max(rect.top, 0);
  rect.right = std::min(rect.right, w);
  rect.bottom = std::min(rect.bottom, h);
  if (rect.empty()) {
    // Nothing of it to record, but a new size still re-creates the source,
    // or it would keep reading at a size the target no longer has.
    resize_pool(c, f);
    return;
  }

  CapturedFrame frame;
  frame.texture = f.image;
  frame.gpu = f.gpu;
  frame.time = f.time;
  frame.content_rect = rect;
  frame.content_width = f.content_width;
  frame.content_height = f.content_height;
  bool keep = c->on_frame(c, &frame);

  resize_pool(c, f);
  if (!keep) capture_stop(c);
}

namespace {
class SessionSink final : public SourceSink {
 public:
  Capture* capture = nullptr;
  void frame_arrived(const SourceFrame& f) override { capture_deliver_frame(capture, f); }
  void closed(bool display_lost) override {
    if (display_lost) {
      g_app.display_lost.store(1);
      trace_event("capture.display_lost");
    }
    Capture* c = capture;
    if (c != nullptr && c->on_frame != nullptr) c->on_frame(c, nullptr);
  }
};

SessionSink g_sink;
}  // namespace

bool capture_start(Capture* c, bool cursor, bool border) {
  if (c->item == nullptr) return false;
  g_sink.capture = c;
  if (!c->item->start(cursor, border, &g_sink)) return false;
  c->session = true;
  return true;
}

void capture_stop(Capture* c) {
  if (c->item != nullptr) {
    // From inside a callback the source cannot be released yet; recording
    // stop calls again from the main thread.
    if (!c->item->stop()) {
      c->session = false;
      return;
    }
    // A source whose thread hangs in the display server is left behind
    // rather than waited for: stop stays bounded.
    if (c->item->abandoned()) {
      trace_event("capture.stop_abandoned");
    } else {
      delete c->item;
    }
    c->item = nullptr;
  }
  c->session = false;
  c->device.reset();
  // The window gets its corners back; kept set until the next open, so a
  // second stop restores them again.
  if (c->restore_corners != 0 && c->window != 0 && c->service != nullptr) {
    c->service->set_corner_preference(c->window, c->saved_corner_preference);
  }
}
