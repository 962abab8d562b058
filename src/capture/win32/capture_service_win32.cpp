// The Windows capture service as far as this build goes: the monitor and
// window queries that capture requests, the region overlay and the settings
// rest on are the system's, and a still picture of a monitor comes from the
// desktop's device context. Capture sessions themselves come with the
// screen-capture runtime, which this build does not have yet: every start
// is refused with that reason.
#include <windows.h>
#include <dwmapi.h>

#include "capture/capture_service.h"

namespace {
HWND to_hwnd(WindowId w) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(w)); }
WindowId from_hwnd(HWND h) { return static_cast<WindowId>(reinterpret_cast<uintptr_t>(h)); }
HMONITOR to_hmonitor(MonitorId m) { return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(m)); }
MonitorId from_hmonitor(HMONITOR h) { return static_cast<MonitorId>(reinterpret_cast<uintptr_t>(h)); }
Rect from_rect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

class Win32CaptureService final : public CaptureService {
 public:
  const char* unavailable_reason() override { return "Recording is not available in this build yet."; }

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

  bool monitor_refresh_rate(MonitorId monitor, uint32_t* num, uint32_t* den) override {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (monitor == 0 || !GetMonitorInfoW(to_hmonitor(monitor), &info)) return false;
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsW(info.szDevice, ENUM_CURRENT_SETTINGS, &mode) || mode.dmDisplayFrequency <= 1) return false;
    *num = mode.dmDisplayFrequency;
    *den = 1;
    return true;
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
    RECT frame, outer;
    if (!GetWindowRect(to_hwnd(window), &outer)) return false;
    if (FAILED(DwmGetWindowAttribute(to_hwnd(window), DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame))) frame = outer;
    *bounds = from_rect(frame);
    *surface_x = outer.left;
    *surface_y = outer.top;
    return true;
  }

  bool client_rect(WindowId window, Rect* rect) override {
    RECT r;
    if (!GetClientRect(to_hwnd(window), &r)) return false;
    POINT origin{0, 0};
    ClientToScreen(to_hwnd(window), &origin);
    *rect = Rect{origin.x, origin.y, origin.x + r.right, origin.y + r.bottom};
    return true;
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

  CaptureSource* open_window(WindowId, int32_t*, int32_t*) override { return nullptr; }
  CaptureSource* open_monitor(MonitorId, int32_t*, int32_t*) override { return nullptr; }
};
}  // namespace

CaptureService* capture_service_create() {
  static Win32CaptureService service;
  return &service;
}
