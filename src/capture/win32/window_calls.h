#pragma once
// The system calls the Windows capture service reads windows and the
// compositor through, in one table so tests can answer them with the values
// of a machine they do not run on (a 59.94 Hz display, a window with
// invisible resize borders).
#include <windows.h>
#include <dwmapi.h>

#include <cstdint>

struct Win32WindowCalls {
  HRESULT(WINAPI* get_window_attribute)(HWND, DWORD, PVOID, DWORD) = DwmGetWindowAttribute;
  HRESULT(WINAPI* set_window_attribute)(HWND, DWORD, LPCVOID, DWORD) = DwmSetWindowAttribute;
  HRESULT(WINAPI* composition_timing)(HWND, DWM_TIMING_INFO*) = DwmGetCompositionTimingInfo;
  HRESULT(WINAPI* composition_enabled)(BOOL*) = DwmIsCompositionEnabled;
  BOOL(WINAPI* get_window_rect)(HWND, LPRECT) = GetWindowRect;
  BOOL(WINAPI* get_client_rect)(HWND, LPRECT) = GetClientRect;
  BOOL(WINAPI* client_to_screen)(HWND, LPPOINT) = ClientToScreen;
  BOOL(WINAPI* display_affinity)(HWND, DWORD*) = GetWindowDisplayAffinity;
};

// The table in use; the system's own calls unless a test replaced them.
const Win32WindowCalls& win32_window_calls();
// Replaces the table (tests); nullptr restores the system's calls.
void win32_window_calls_set(const Win32WindowCalls* calls);

struct Rect;
struct WindowBounds;

// A window's visible frame bounds (DWMWA_EXTENDED_FRAME_BOUNDS, screen
// coordinates; they leave out the invisible resize borders that
// GetWindowRect includes) as the origin of its captured surface, and its
// client area. `shown` is false for a minimised window; false when the
// bounds cannot be read. Where the compositor keeps no frame bounds
// (composition off; Wine, which does not implement the attribute) the
// window rectangle is what is visible.
bool win32_window_bounds(HWND window, WindowBounds* bounds);
// The compositor's rate (DwmGetCompositionTimingInfo) as a fraction, for
// example 60000/1001; false when it cannot be read or a part is 0.
bool win32_composition_rate(uint32_t* num, uint32_t* den);
