// The Windows capture service: monitor and window queries through the
// system (the window reads and the compositor's timing through the table in
// window_calls.h), and sources on the screen-capture runtime where it is
// available, else read with GDI. A capture request still says that this
// build cannot record: the encoders are not in it yet.
#include <windows.h>
#include <dwmapi.h>

#include "capture/capture_service.h"
#include "capture/win32/d3d11_device.h"
#include "capture/win32/gdi_source.h"
#include "capture/win32/wgc_runtime.h"
#include "capture/win32/window_calls.h"
#include "core/trace.h"
#include "video/encode/media_writer.h"

namespace {
HWND to_hwnd(WindowId w) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(w)); }
WindowId from_hwnd(HWND h) { return static_cast<WindowId>(reinterpret_cast<uintptr_t>(h)); }
HMONITOR to_hmonitor(MonitorId m) { return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(m)); }
MonitorId from_hmonitor(HMONITOR h) { return static_cast<MonitorId>(reinterpret_cast<uintptr_t>(h)); }
Rect from_rect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

class Win32CaptureService final : public CaptureService {
 public:
  Win32CaptureService() {
    const WgcRuntime& rt = wgc_runtime();
    if (rt.missing) {
      trace_eventf("capture.runtime source=gdi missing=%s result=0x%08lx", rt.missing,
                   static_cast<unsigned long>(rt.result));
    } else {
      trace_event("capture.runtime source=wgc");
    }
  }

  // The sources are here; what is missing is an encoder (the media platform
  // of this build refuses every request), so a start says so up front
  // instead of failing at encoder set-up.
  // Capture itself works everywhere; a build without a writer for the
  // recording (no bundled encoder) still has to refuse.
  const char* unavailable_reason() override {
    return media_platform_can_write() ? nullptr : "Recording is not available in this build yet.";
  }

  bool pointer_position(int32_t* x, int32_t* y) override {
    POINT p;
    if (!GetCursorPos(&p)) return false;
    *x = p.x;
    *y = p.y;
    return true;
  }

  MonitorId monitor_from_point(int32_t x, int32_t y) override {
    return from_hmonitor(MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTONULL));
  }

  bool monitor_rect(MonitorId monitor, Rect* rect) override {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == 0 || !GetMonitorInfoW(to_hmonitor(monitor), &info)) return false;
    *rect = from_rect(info.rcMonitor);
    return true;
  }

  // The compositor's rate, as a fraction: a 59.94 Hz display is 60000/1001.
  bool monitor_refresh_rate(MonitorId monitor, uint32_t* num, uint32_t* den) override {
    (void)monitor;  // the compositor has one timing for the desktop
    return win32_composition_rate(num, den);
  }

  MonitorId monitor_from_window(WindowId window) override {
    return from_hmonitor(MonitorFromWindow(to_hwnd(window), MONITOR_DEFAULTTONULL));
  }

  WindowId foreground_window() override { return from_hwnd(GetForegroundWindow()); }

  WindowId parent_window(WindowId window) override { return from_hwnd(GetWindow(to_hwnd(window), GW_OWNER)); }

  bool is_tool_window(WindowId window) override {
    return (GetWindowLongPtrW(to_hwnd(window), GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
  }

  bool frame_bounds(WindowId window, Rect* bounds, int32_t* surface_x, int32_t* surface_y) override {
    WindowBounds b;
    if (!win32_window_bounds(to_hwnd(window), &b) || !b.shown) return false;
    *bounds = b.frame;
    *surface_x = b.surface_x;
    *surface_y = b.surface_y;
    return true;
  }

  bool client_rect(WindowId window, Rect* rect) override {
    const Win32WindowCalls& calls = win32_window_calls();
    RECT r;
    POINT origin{0, 0};
    if (!calls.get_client_rect(to_hwnd(window), &r) || !calls.client_to_screen(to_hwnd(window), &origin)) return false;
    *rect = Rect{origin.x, origin.y, origin.x + r.right, origin.y + r.bottom};
    return true;
  }

  bool excluded_from_capture(WindowId window) override {
    DWORD affinity = 0;  // a failed read leaves it at "none"
    win32_window_calls().display_affinity(to_hwnd(window), &affinity);
    return affinity != 0;
  }

  bool corner_preference(WindowId window, uint32_t* value) override {
    DWORD v = 0;
    if (FAILED(win32_window_calls().get_window_attribute(to_hwnd(window), kDwmwaWindowCornerPreference, &v,
                                                         sizeof v))) {
      return false;
    }
    *value = v;
    return true;
  }

  bool set_corner_preference(WindowId window, uint32_t value) override {
    const DWORD v = value;
    return SUCCEEDED(
        win32_window_calls().set_window_attribute(to_hwnd(window), kDwmwaWindowCornerPreference, &v, sizeof v));
  }

  uint32_t window_process_id(WindowId window) override {
    DWORD pid = 0;
    GetWindowThreadProcessId(to_hwnd(window), &pid);
    return pid;
  }

  bool grab_monitor(MonitorId monitor, std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) override {
    Rect r;
    if (!monitor_rect(monitor, &r) || r.empty()) return false;
    const int32_t w = r.width(), h = r.height();
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    bool ok = memory && bitmap;
    if (ok) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
      SelectObject(memory, old);
    }
    if (ok) {
      // Top-down 32-bit rows: B, G, R, unused, as the overlay expects them.
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = w;
      info.bmiHeader.biHeight = -h;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      pixels->assign(size_t(w) * size_t(h) * 4, 0);
      ok = GetDIBits(memory, bitmap, 0, UINT(h), pixels->data(), &info, DIB_RGB_COLORS) == h;
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;
    *width = w;
    *height = h;
    return true;
  }

  CaptureSource* open_window(const CaptureDevice& device, WindowId window, int32_t* width,
                             int32_t* height) override {
    return open(device, to_hwnd(window), nullptr, width, height);
  }

  CaptureSource* open_monitor(const CaptureDevice& device, MonitorId monitor, int32_t* width,
                              int32_t* height) override {
    return open(device, nullptr, to_hmonitor(monitor), width, height);
  }

 private:
  // On the runtime when it is there and the device is a Direct3D 11 one
  // it can wrap; with GDI otherwise. The trace says which.
  static CaptureSource* open(const CaptureDevice& device, HWND window, HMONITOR monitor, int32_t* width,
                             int32_t* height) {
    const char* target = window ? "window" : "monitor";
    ID3D11Device* d3d = capture_d3d11_device(device);
    CaptureSource* s;
    const char* kind = "gdi";
    if (wgc_runtime().missing == nullptr && d3d != nullptr) {
      kind = "wgc";
      s = window ? wgc_open_window(wgc_runtime(), d3d, window, width, height)
                 : wgc_open_monitor(wgc_runtime(), d3d, monitor, width, height);
    } else {
      uint32_t num = 0, den = 0;
      if (!win32_composition_rate(&num, &den)) num = den = 0;
      s = window ? gdi_open_window_source(window, num, den, width, height)
                 : gdi_open_monitor_source(monitor, num, den, width, height);
    }
    trace_eventf("capture.source kind=%s target=%s result=%s", kind, target, s ? "open" : "refused");
    return s;
  }
};
}  // namespace

CaptureService* capture_service_create() {
  static Win32CaptureService service;
  return &service;
}
