// Global shortcuts through the system: registered on the main window, so a
// pressed one arrives there as WM_HOTKEY with its id.
#include <windows.h>

#include "app/hotkey_service.h"
#include "app/win32/hotkeys_win32.h"
#include "app/win32/main_window_win32.h"

bool Win32Hotkeys::register_hotkey(int id, uint32_t modifiers, uint32_t vk) {
  return RegisterHotKey(main_window_handle(), id, modifiers, vk) != 0;
}

void Win32Hotkeys::unregister_hotkey(int id) { UnregisterHotKey(main_window_handle(), id); }
