#pragma once
// The main window's visible forms on its own HWND: the region overlay
// (opaque, top-most, takes the focus and the input), the countdown (layered
// at 216/255, click-through, never activated) and the region frame (layered
// with magenta as the see-through colour key, click-through). The main
// window procedure hands its messages here first, so that painting, the
// cursor and the background are answered before the core's dispatcher sees
// the input.
#include <windows.h>

#include "app/shell_window.h"

class ShellWindowWin32 final : public ShellWindow {
 public:
  explicit ShellWindowWin32(HWND hwnd);
  ~ShellWindowWin32() override;
  ShellWindowWin32(const ShellWindowWin32&) = delete;
  ShellWindowWin32& operator=(const ShellWindowWin32&) = delete;

  void show_overlay(const Rect& screen) override;
  void show_countdown(const Rect& screen) override;
  void show_region_frame(const Rect& screen) override;
  void hide() override;
  void invalidate() override;
  void set_cursor(ShellCursor cursor) override;
  void set_mouse_capture(bool on) override;
  bool cursor_position(int32_t* x, int32_t* y) override;

  // WM_PAINT (the core paints into a buffered paint context), WM_SETCURSOR
  // in the client area (the cursor the core chose last) and WM_ERASEBKGND
  // (nothing: the paint covers everything). True when the message was
  // answered, with its result in *result; false for everything else.
  bool handle_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result);

  HWND hwnd() const { return hwnd_; }

 private:
  void place(const Rect& screen, UINT flags);
  void paint();
  HWND hwnd_;
  HCURSOR cursor_;
  bool buffered_paint_ready_ = false;
};

// Makes the shell's window of `main_window` the one the core shows its forms
// in (g_shell_window); once per process, later calls return the first.
ShellWindowWin32* install_shell_window_win32(HWND main_window);
// For the main window procedure, before its own handling: false when no
// shell window is installed for `hwnd` or the message is not one of its own.
bool shell_window_handle_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result);
