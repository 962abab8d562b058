#pragma once
// The hidden main window of the Windows build: its class, the window
// procedure that hands every message to the core's dispatcher, and the
// message loop over it.
#include <windows.h>

#include <memory>

#include "core/message_loop.h"

inline constexpr wchar_t kInteractiveClass[] = L"frelvanta_window_class";
inline constexpr wchar_t kCommandLineClass[] = L"frelvanta_cli_window_class";

// Called first for every message of the main window (painting, cursor and
// background of the overlays); true when it handled the message, with the
// result in *result.
inline bool (*g_main_window_message_hook)(HWND, UINT, WPARAM, LPARAM, LRESULT*) = nullptr;

// Registers the class for the mode, creates the hidden WS_POPUP window and
// the loop over it; null when the window cannot be created.
std::unique_ptr<MessageLoop> create_main_window_loop(bool cli_mode);
HWND main_window_handle();
