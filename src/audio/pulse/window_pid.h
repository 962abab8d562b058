#pragma once
#include <cstdint>

// The process that owns X window `window`, from its _NET_WM_PID property;
// 0 when the window, the property or the display is missing.
uint32_t x11_window_process_id(uint64_t window);
