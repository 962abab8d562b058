#pragma once
// The main thread's message loop and the hidden main window it feeds. Every
// user action and every request from another thread arrives as a message
// (message, wparam, lparam) handed to main_window_proc on the main thread.
#include <cstdint>
#include <memory>

// Message numbers as the classic window API defines them, so that the
// dispatcher reads the same on every backend.
#ifndef WM_CLOSE
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_HOTKEY = 0x0312;
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_APP = 0x8000;
#endif

// Input to the main window while it is shown as the region overlay.
#ifndef WM_KEYDOWN
constexpr uint32_t WM_ACTIVATEAPP = 0x001C;  // wparam 0: another application was activated
constexpr uint32_t WM_KEYDOWN = 0x0100;      // wparam: the virtual-key code
constexpr uint32_t WM_MOUSEMOVE = 0x0200;    // wparam: button flags; lparam: position
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uintptr_t MK_LBUTTON = 0x0001;
constexpr uintptr_t VK_RETURN = 0x0D;
constexpr uintptr_t VK_ESCAPE = 0x1B;
#endif

// A mouse position packed as two signed 16-bit values (x low, y high).
constexpr intptr_t mouse_lparam(int32_t x, int32_t y) {
  return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                               static_cast<uint16_t>(x));
}
constexpr int32_t mouse_x(intptr_t lparam) { return static_cast<int16_t>(lparam & 0xFFFF); }
constexpr int32_t mouse_y(intptr_t lparam) { return static_cast<int16_t>((lparam >> 16) & 0xFFFF); }

// Private messages of the main window.
constexpr uint32_t MSG_ALREADY_RUNNING = WM_USER + 1;  // 1025, from a second interactive start
constexpr uint32_t MSG_STOP_REQUEST = WM_USER + 2;     // 1026, end the current recording
constexpr uint32_t MSG_TRAY_CALLBACK = WM_USER + 4;    // 1028
// The system goes to sleep although sleep is blocked (an administrator's
// override): the recording is stopped first. Stands for a power broadcast
// of a suspend that may not ask the user.
constexpr uint32_t MSG_FORCED_SLEEP = WM_USER + 0x40;

// The desktop's tray came (back): the tray icon is added again. Stands for
// the registered "TaskbarCreated" message.
constexpr uint32_t MSG_TASKBAR_CREATED = WM_USER + 0x41;

// The system asks the application to end (SIGTERM, SIGINT, SIGHUP, the
// console closing): the normal shutdown, whatever window is open. Unlike
// WM_CLOSE it is never taken as "cancel the selection".
constexpr uint32_t MSG_TERMINATION_REQUEST = WM_USER + 0x42;

// An item of the tray menu was chosen in a menu that the desktop draws
// itself (wparam = the command id), rather than in the popup menu that
// tray_popup_menu shows and waits for.
constexpr uint32_t MSG_TRAY_COMMAND = WM_USER + 0x43;

// Timers of the main window.
constexpr uintptr_t TIMER_AUDIO_TICK = 1;     // 50 ms while recording with audio
constexpr uintptr_t TIMER_WATCHDOG_TICK = 2;  // 100 ms while recording
constexpr uintptr_t TIMER_COUNTDOWN = 3;      // 1000 ms during a start countdown

class MessageLoop {
 public:
  virtual ~MessageLoop() = default;
  // Queues a message for main_window_proc. Any thread; messages from one
  // thread arrive in the order they were posted.
  virtual void post(uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
  // Starts or restarts timer `id`: WM_TIMER with wparam = id every `ms`.
  // Main thread.
  virtual void set_timer(uintptr_t id, uint32_t ms) = 0;
  virtual void kill_timer(uintptr_t id) = 0;
  // Ends run() once the messages already queued have been handled.
  virtual void quit() = 0;
  // Dispatches until quit(); main thread.
  virtual void run() = 0;
};

// Posts to the main window (g_app.main_window); dropped when it does not
// exist yet. Any thread.
void post_main_window_message(uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Posts the stop request (message 1026). Any thread.
void post_stop_request();
