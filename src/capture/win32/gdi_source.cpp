// The GDI screen source: where the capture runtime is missing (Wine,
// reduced Windows installations) a monitor, a region or a window is read
// from the screen's device context with BitBlt, at most once per refresh
// period on the frame pacer's schedule, on a thread of its own. A window is
// read at its visible frame bounds, so what covers it is recorded too;
// GDI has no way to read a covered window's own picture.
#include "capture/win32/gdi_source.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "capture/frame_pacer.h"
#include "capture/source_thread.h"
#include "capture/win32/window_calls.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {
constexpr DWORD kStopWaitMs = 1000;
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803); older systems
// refuse the flag and get an ordinary timer.
constexpr DWORD kHighResolutionTimer = 0x00000002;

class GdiSource final : public CaptureSource {
 public:
  GdiSource(HMONITOR monitor, HWND window) : monitor_(monitor), window_(window) {}

  ~GdiSource() override {
    stop();
    release_bitmap();
    if (memory_) DeleteDC(memory_);
    if (stop_event_) CloseHandle(stop_event_);
    if (timer_) CloseHandle(timer_);
  }

  bool open(uint32_t rate_num, uint32_t rate_den, int32_t* width, int32_t* height) {
    pacer_.set_rate(rate_num, rate_den, kQpcFrequency);
    stop_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
    if (!timer_) timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    HDC screen = GetDC(nullptr);
    if (screen) {
      memory_ = CreateCompatibleDC(screen);
      ReleaseDC(nullptr, screen);
    }
    if (!stop_event_ || !timer_ || !memory_ || !read_target()) return false;
    // A window that is not shown has no size to record; the core refuses it.
    if (content_.empty() && window_ == nullptr) return false;
    if (!make_bitmap(std::max(content_.width(), 1), std::max(content_.height(), 1))) return false;
    *width = content_.width();
    *height = content_.height();
    return true;
  }

  bool start(bool cursor, bool border, SourceSink* sink) override {
    (void)border;  // GDI draws no capture border
    if (thread_.joinable() || sink == nullptr) return false;
    cursor_ = cursor;
    sink_ = sink;
    stopping_ = false;
    exited_ = false;
    ResetEvent(stop_event_);
    return thread_start(&thread_, [this] { run(); });
  }

  bool stop() override {
    stopping_ = true;
    // A grab stuck in the display driver must not hold the user interface.
    auto ended = [this] {
      const int64_t until = qpc_now() + int64_t{kStopWaitMs} * (kQpcFrequency / 1000);
      while (!exited_.load() && qpc_now() < until) Sleep(1);
      return exited_.load();
    };
    return stop_source_thread(&thread_, [this] { SetEvent(stop_event_); }, ended, &abandoned_);
  }

  bool abandoned() const override { return abandoned_; }

  void recreate(int32_t width, int32_t height) override {
    if (width > 0 && height > 0) make_bitmap(width, height);
  }

 private:
  // The target's current place on the screen; false when it is gone.
  bool read_target() {
    if (window_ != nullptr) {
      if (!IsWindow(window_)) return false;
      WindowBounds b;
      if (!win32_window_bounds(window_, &b)) b = WindowBounds{};
      bounds_ = b;
      content_ = b.shown ? b.frame : Rect{};
      return true;
    }
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor_, &info)) return false;
    content_ = Rect{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
    return true;
  }

  bool make_bitmap(int32_t w, int32_t h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return false;
    release_bitmap();
    bitmap_ = bitmap;
    old_bitmap_ = SelectObject(memory_, bitmap_);
    bits_ = static_cast<uint8_t*>(bits);
    image_w_ = w;
    image_h_ = h;
    return true;
  }

  void release_bitmap() {
    if (!bitmap_) return;
    SelectObject(memory_, old_bitmap_);
    DeleteObject(bitmap_);
    bitmap_ = nullptr;
    bits_ = nullptr;
  }

  // Reads what fits of the target into the bitmap; false when nothing does.
  bool grab(HDC screen) {
    grabbed_w_ = std::min(image_w_, content_.width());
    grabbed_h_ = std::min(image_h_, content_.height());
    if (grabbed_w_ <= 0 || grabbed_h_ <= 0) return false;
    // CAPTUREBLT takes layered windows too, as the compositor shows them.
    if (!BitBlt(memory_, 0, 0, grabbed_w_, grabbed_h_, screen, content_.left, content_.top, SRCCOPY | CAPTUREBLT)) {
      return false;
    }
    if (cursor_) draw_cursor();
    GdiFlush();
    return true;
  }

  void draw_cursor() {
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    if (!GetCursorInfo(&ci) || !(ci.flags & CURSOR_SHOWING) || !ci.hCursor) return;
    ICONINFO icon{};
    if (!GetIconInfo(ci.hCursor, &icon)) return;
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
    const int x = ci.ptScreenPos.x - static_cast<int>(icon.xHotspot) - content_.left;
    const int y = ci.ptScreenPos.y - static_cast<int>(icon.yHotspot) - content_.top;
    DrawIconEx(memory_, x, y, ci.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
  }

  void deliver(int64_t time) {
    SourceFrame f;
    f.image = BgraImage{bits_, grabbed_w_, grabbed_h_, image_w_ * 4};
    f.time = time;
    f.content_width = content_.width();
    f.content_height = content_.height();
    if (window_ != nullptr) f.window_bounds = &bounds_;
    sink_->frame_arrived(f);
  }

  // Sleeps until `due` (counter ticks) or the stop request.
  void wait_until(int64_t due) {
    const int64_t ticks = due - qpc_now();
    if (ticks <= 0) return;
    LARGE_INTEGER when;
    when.QuadPart = -ticks;  // relative, in 100-nanosecond units like the counter
    if (SetWaitableTimer(timer_, &when, 0, nullptr, nullptr, FALSE)) {
      HANDLE handles[2] = {stop_event_, timer_};
      WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    } else {
      WaitForSingleObject(stop_event_, static_cast<DWORD>((ticks + 9999) / 10000));
    }
  }

  void run() {
    set_thread_name("fv-capture-gdi");
    pacer_.reset();
    HDC screen = GetDC(nullptr);
    bool closed = screen == nullptr;
    while (!stopping_.load()) {
      if (!closed && !read_target()) closed = true;
      if (closed) {
        sink_->closed(false);
        WaitForSingleObject(stop_event_, INFINITE);
        break;
      }
      const int64_t now = qpc_now();
      if (pacer_.ready(now)) {
        // A window that is not shown gives an empty frame, which the core
        // drops; its new size still reaches the core.
        if (grab(screen)) {
          deliver(pacer_.take(now));
        } else if (content_.width() != image_w_ || content_.height() != image_h_) {
          grabbed_w_ = grabbed_h_ = 0;
          deliver(pacer_.take(now));
        } else {
          pacer_.take(now);
        }
      }
      if (stopping_.load()) break;
      wait_until(pacer_.due());
    }
    if (screen) ReleaseDC(nullptr, screen);
    exited_.store(true);
  }

  HMONITOR monitor_ = nullptr;
  HWND window_ = nullptr;
  FramePacer pacer_;
  HANDLE stop_event_ = nullptr;
  HANDLE timer_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> exited_{false};
  bool abandoned_ = false;
  SourceSink* sink_ = nullptr;
  bool cursor_ = false;

  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  uint8_t* bits_ = nullptr;
  int32_t image_w_ = 0, image_h_ = 0;      // the bitmap (the "pool" size)
  int32_t grabbed_w_ = 0, grabbed_h_ = 0;  // what the last grab filled
  Rect content_;                           // the target on the screen now
  WindowBounds bounds_;                    // window targets: as at the last read
};

CaptureSource* open(HMONITOR monitor, HWND window, uint32_t num, uint32_t den, int32_t* w, int32_t* h) {
  auto* s = new GdiSource(monitor, window);
  if (!s->open(num, den, w, h)) {
    delete s;
    return nullptr;
  }
  return s;
}
}  // namespace

CaptureSource* gdi_open_monitor_source(HMONITOR monitor, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                       int32_t* height) {
  return open(monitor, nullptr, rate_num, rate_den, width, height);
}

CaptureSource* gdi_open_window_source(HWND window, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                      int32_t* height) {
  return open(nullptr, window, rate_num, rate_den, width, height);
}
