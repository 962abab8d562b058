#include "capture/win32/window_calls.h"

#include <atomic>

#include "capture/capture_service.h"

namespace {
const Win32WindowCalls kSystemCalls{};
std::atomic<const Win32WindowCalls*> g_calls{nullptr};
}  // namespace

const Win32WindowCalls& win32_window_calls() {
  const Win32WindowCalls* c = g_calls.load();
  return c != nullptr ? *c : kSystemCalls;
}

void win32_window_calls_set(const Win32WindowCalls* calls) { g_calls.store(calls); }

bool win32_window_bounds(HWND window, WindowBounds* out) {
  const Win32WindowCalls& calls = win32_window_calls();
  RECT frame;
  const HRESULT hr = calls.get_window_attribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame);
  if (FAILED(hr)) {
    // A compositor that does not keep frame bounds (composition off, or
    // Wine, whose compositor does not implement the attribute) draws the
    // window rectangle as it is. Any other failure is a window whose bounds
    // are unknown: its frames are dropped.
    BOOL composed = TRUE;
    const bool no_bounds = hr == E_NOTIMPL || (SUCCEEDED(calls.composition_enabled(&composed)) && !composed);
    if (!no_bounds || !calls.get_window_rect(window, &frame)) return false;
  }
  WindowBounds b;
  b.shown = !IsIconic(window) && frame.right > frame.left && frame.bottom > frame.top;
  b.frame = Rect{frame.left, frame.top, frame.right, frame.bottom};
  // The captured surface of a window begins at its visible frame.
  b.surface_x = frame.left;
  b.surface_y = frame.top;
  RECT client;
  POINT origin{0, 0};
  if (calls.get_client_rect(window, &client) && calls.client_to_screen(window, &origin)) {
    b.has_client = true;
    b.client = Rect{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
  }
  *out = b;
  return true;
}

bool win32_composition_rate(uint32_t* num, uint32_t* den) {
  DWM_TIMING_INFO info{};
  info.cbSize = sizeof info;
  if (FAILED(win32_window_calls().composition_timing(nullptr, &info))) return false;
  if (info.rateCompose.uiNumerator == 0 || info.rateCompose.uiDenominator == 0) return false;
  *num = info.rateCompose.uiNumerator;
  *den = info.rateCompose.uiDenominator;
  return true;
}
