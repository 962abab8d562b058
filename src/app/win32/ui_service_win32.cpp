#include "app/win32/ui_service_win32.h"

#include "app/win32/main_window_win32.h"
#include "platform/win32/wide.h"

int Win32UiService::message_box(const std::string& text, const std::string& caption, uint32_t type) {
  return MessageBoxW(main_window_handle(), to_wide(text).c_str(), to_wide(caption).c_str(), type);
}

int Win32UiService::tray_notification(const std::string& text, const std::string& caption, int kind) {
  HWND main = main_window_handle();
  if (!main) return 0;
  HWND popup = GetLastActivePopup(main);
  if (popup && popup != main) SetForegroundWindow(popup);
  return 0;
}
