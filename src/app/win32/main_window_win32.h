#pragma once
// The hidden main window of the Windows build: its class, its window
// procedure and the single-instance hand-over through that class.
#include <windows.h>

inline constexpr wchar_t kInteractiveClass[] = L"frelvanta_window_class";
inline constexpr wchar_t kCommandLineClass[] = L"frelvanta_cli_window_class";
inline constexpr UINT kMsgOtherInstance = WM_USER + 1;  // 1025

// Interactive mode: when an instance already runs, posts it 1025 and returns true.
bool hand_over_to_running_instance();
// Registers the class for the mode and creates the hidden WS_POPUP window;
// nullptr when it cannot be created.
HWND create_main_window(bool cli_mode);
HWND main_window_handle();
// GetMessageW until the quit message; returns its code.
int run_message_loop();
