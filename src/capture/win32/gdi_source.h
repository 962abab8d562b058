#pragma once
// Screen sources read with GDI: the fallback where the capture runtime is
// not available. Each delivers at most rate_num / rate_den frames per second
// (60 when a part is 0) on its own thread; null when the target cannot be
// opened.
#include <windows.h>

#include <cstdint>

#include "capture/capture_service.h"

CaptureSource* gdi_open_monitor_source(HMONITOR monitor, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                       int32_t* height);
// `width` and `height`: the window's visible frame bounds (0 when it is not shown).
CaptureSource* gdi_open_window_source(HWND window, uint32_t rate_num, uint32_t rate_den, int32_t* width,
                                      int32_t* height);
