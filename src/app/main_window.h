#pragma once
// The hidden main window: creation, posting to it from any thread, and its
// destruction, which is the application's shutdown sequence.
#include <cstdint>
#include <vector>

#include "core/message_loop.h"  // posting to the window, its messages and timers
#include "core/ui_service.h"

// The window procedure: the dispatcher of the whole application.
intptr_t main_window_proc(uint32_t msg, uintptr_t wparam, intptr_t lparam);

// WM_CREATE: the tray icon (interactive mode only).
void main_window_created();
// The desktop session offers no global shortcuts: says so once and puts
// their actions into the tray menu.
void shortcuts_unavailable();
// The tray menu as it is now (items and their enabled state follow the
// recording state). Main thread.
std::vector<TrayMenuItem> tray_menu_now();
// The folder of the last recording, with its file selected.
void open_output_folder();
// DestroyWindow: runs the shutdown sequence once.
void destroy_main_window();
// A termination request from the system, any thread: posts
// MSG_TERMINATION_REQUEST and returns false, so the request is never lost
// whatever is open. True once the shutdown has stopped the recording (its
// waits are bounded) and only the unbounded joins remain: the caller then
// ends the process at once.
bool request_termination();
// True while the region overlay waits for a selection.
bool region_selection_pending();

// For tests: forget that the window was destroyed.
void main_window_reset();
