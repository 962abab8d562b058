// The Windows toolkit: the system's own windowing. There is always a
// desktop to show windows on, in a command-line run too.
#include "app/toolkit.h"

#include <windows.h>
#include <objbase.h>

#include "app/hotkey_service.h"
#include "core/ui_service.h"
#include "app/win32/desktop_session_win32.h"
#include "app/win32/hotkeys_win32.h"
#include "app/win32/main_window_win32.h"
#include "app/win32/shell_window_win32.h"
#include "app/win32/ui_service_win32.h"
#include "core/app_state.h"
#include "dialogs/win32/dialog_host_win32.h"

bool toolkit_init() {
  // The main thread is a single-threaded COM apartment for the process's
  // life (the shell's folder and address calls need one); a failure leaves
  // those calls to fail on their own.
  static const bool once = (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), true);
  (void)once;
  return true;
}

bool toolkit_has_display() { return true; }

void toolkit_install_ui_service() {
  if (g_ui_service) return;
  static Win32UiService ui;
  g_ui_service = &ui;
}

bool toolkit_install_dialog_host() {
  install_win32_dialog_host();
  return true;
}

std::unique_ptr<MessageLoop> toolkit_create_message_loop() { return create_main_window_loop(g_app.cli_mode); }

void toolkit_install_desktop_session() {
  if (g_desktop_session) return;
  static Win32DesktopSession session;
  g_desktop_session = &session;
}

bool toolkit_install_hotkeys() {
  if (g_hotkey_service) return true;
  static Win32Hotkeys hotkeys;
  g_hotkey_service = &hotkeys;
  return true;
}

// The overlays, the countdown and the region frame are forms of the main
// window; their painting, cursor and background messages reach the shell
// window before the core's dispatcher.
void toolkit_install_shell_window() {
  if (!install_shell_window_win32(main_window_handle())) return;
  g_main_window_message_hook = shell_window_handle_message;
}
