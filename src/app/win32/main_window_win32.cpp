#include "app/win32/main_window_win32.h"

#include <atomic>

#include "core/app_state.h"
#include "app/main_window.h"

namespace {
// Ends the loop once the messages queued before it have been handled.
constexpr UINT kMsgQuitLoop = WM_APP + 0x3F;

std::atomic<HWND> g_main_window{nullptr};
UINT g_taskbar_created = 0;

bool region_overlay_input(UINT msg) {
  switch (msg) {
    case WM_ACTIVATEAPP:
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
      return true;
    default:
      return false;
  }
}

LRESULT power_broadcast(WPARAM wparam, LPARAM lparam) {
  if (wparam != PBT_APMQUERYSUSPEND || g_app.recording.active.load() == 0) return 1;
  // The system may ask the user: the recording refuses the suspension.
  if ((lparam & 1) != 0) return BROADCAST_QUERY_DENY;
  // It will not ask: the recording is stopped and saved first.
  main_window_proc(MSG_FORCED_SLEEP, 0, 0);
  return 1;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (g_main_window_message_hook && g_main_window_message_hook(hwnd, msg, wparam, lparam, &result)) return result;
  if (g_taskbar_created != 0 && msg == g_taskbar_created) return main_window_proc(MSG_TASKBAR_CREATED, 0, 0);
  switch (msg) {
    case WM_CLOSE:
    case WM_TIMER:
    case WM_HOTKEY:
    case MSG_ALREADY_RUNNING:
    case MSG_STOP_REQUEST:
    case MSG_TRAY_CALLBACK:
    case MSG_TASKBAR_CREATED:
    case MSG_FORCED_SLEEP:
    case MSG_TERMINATION_REQUEST:
      return main_window_proc(msg, wparam, static_cast<intptr_t>(lparam));
    case WM_POWERBROADCAST:
      return power_broadcast(wparam, lparam);
    case WM_ERASEBKGND:
      return 1;  // painting covers the whole window
    case kMsgQuitLoop:
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      // The loop destroys the window only after it has ended (and cleared
      // the handle first). Destroyed while the loop runs: the shutdown
      // sequence runs now, and the loop is ended directly, since the quit
      // it posts can no longer reach the window.
      if (g_main_window.exchange(nullptr) == hwnd) {
        destroy_main_window();
        PostQuitMessage(0);
      }
      return 0;
    default:
      break;
  }
  // Input belongs to the region overlay while it is open; otherwise the
  // system's default handling applies.
  if (region_overlay_input(msg) && region_selection_pending()) {
    return main_window_proc(msg, wparam, static_cast<intptr_t>(lparam));
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

class Win32MessageLoop final : public MessageLoop {
 public:
  explicit Win32MessageLoop(HWND hwnd) : hwnd_(hwnd) {}

  void post(uint32_t msg, uintptr_t wparam, intptr_t lparam) override {
    PostMessageW(hwnd_, msg, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
  }
  void set_timer(uintptr_t id, uint32_t ms) override { SetTimer(hwnd_, id, ms, nullptr); }
  void kill_timer(uintptr_t id) override { KillTimer(hwnd_, id); }
  void quit() override { PostMessageW(hwnd_, kMsgQuitLoop, 0, 0); }

  void run() override {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // Gone at once, so a new interactive start no longer finds this one.
    if (HWND hwnd = g_main_window.exchange(nullptr)) DestroyWindow(hwnd);
  }

 private:
  HWND hwnd_;
};
}  // namespace

std::unique_ptr<MessageLoop> create_main_window_loop(bool cli_mode) {
  g_taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = cli_mode ? kCommandLineClass : kInteractiveClass;
  RegisterClassExW(&wc);  // a failure shows in CreateWindowExW
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Frelvanta", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
  if (!hwnd) return nullptr;
  g_main_window = hwnd;
  // A command-line run asked to be seen shows as a minimized taskbar button.
  if (cli_mode && g_app.cli_minimize) ShowWindow(hwnd, SW_MINIMIZE);
  return std::make_unique<Win32MessageLoop>(hwnd);
}

HWND main_window_handle() { return g_main_window.load(); }
