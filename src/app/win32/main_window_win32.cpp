#include "app/win32/main_window_win32.h"

#include "app/ui_service.h"
#include "recording/trace.h"

namespace {
HWND g_main_window = nullptr;

LRESULT CALLBACK main_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kMsgOtherInstance:
      show_tray_notification("Frelvanta is already running!", "", NOTIFY_INFO);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      g_main_window = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
}
}  // namespace

bool hand_over_to_running_instance() {
  HWND running = FindWindowW(kInteractiveClass, nullptr);
  if (!running) return false;
  PostMessageW(running, kMsgOtherInstance, 0, 0);
  return true;
}

HWND create_main_window(bool cli_mode) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = main_window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = cli_mode ? kCommandLineClass : kInteractiveClass;
  RegisterClassExW(&wc);  // a failure shows in CreateWindowExW
  g_main_window = CreateWindowExW(0, wc.lpszClassName, L"Frelvanta", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
  return g_main_window;
}

HWND main_window_handle() { return g_main_window; }

int run_message_loop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
