#pragma once
// The hidden main window: creation, posting to it from any thread, and its
// destruction, which is the application's shutdown sequence.
#include <cstdint>

#include "core/message_loop.h"  // posting to the window, its messages and timers

// The window procedure: the dispatcher of the whole application.
intptr_t main_window_proc(uint32_t msg, uintptr_t wparam, intptr_t lparam);

// WM_CREATE: the tray icon (interactive mode only).
void main_window_created();
// The folder of the last recording, with its file selected.
void open_output_folder();
// DestroyWindow: runs the shutdown sequence once.
void destroy_main_window();
// True while the region overlay waits for a selection.
bool region_selection_pending();

// For tests: forget that the window was destroyed.
void main_window_reset();
