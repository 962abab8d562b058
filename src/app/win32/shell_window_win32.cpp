#include "app/win32/shell_window_win32.h"

#include <uxtheme.h>

#include "app/win32/gdi_canvas.h"

namespace {
constexpr BYTE kCountdownAlpha = 216;
constexpr COLORREF kFrameColourKey = RGB(255, 0, 255);
// Layered, click-through, never activated, and no taskbar button.
constexpr LONG_PTR kCountdownStyle = WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT;
constexpr LONG_PTR kFrameStyle = WS_EX_LAYERED | WS_EX_TRANSPARENT;

ShellWindowWin32* g_installed = nullptr;

HCURSOR system_cursor(ShellCursor c) {
  const wchar_t* id = IDC_ARROW;
  switch (c) {
    case ShellCursor::kCross: id = IDC_CROSS; break;
    case ShellCursor::kSizeNWSE: id = IDC_SIZENWSE; break;
    case ShellCursor::kSizeNS: id = IDC_SIZENS; break;
    case ShellCursor::kSizeNESW: id = IDC_SIZENESW; break;
    case ShellCursor::kSizeWE: id = IDC_SIZEWE; break;
    case ShellCursor::kSizeAll: id = IDC_SIZEALL; break;
    case ShellCursor::kHand: id = IDC_HAND; break;
    case ShellCursor::kArrow: break;
  }
  return LoadCursorW(nullptr, id);
}
}  // namespace

ShellWindowWin32::ShellWindowWin32(HWND hwnd) : hwnd_(hwnd), cursor_(system_cursor(ShellCursor::kArrow)) {
  buffered_paint_ready_ = SUCCEEDED(BufferedPaintInit());
}

ShellWindowWin32::~ShellWindowWin32() {
  if (buffered_paint_ready_) BufferedPaintUnInit();
}

void ShellWindowWin32::place(const Rect& screen, UINT flags) {
  SetWindowPos(hwnd_, HWND_TOPMOST, screen.left, screen.top, screen.width(), screen.height(), SWP_SHOWWINDOW | flags);
}

void ShellWindowWin32::show_overlay(const Rect& screen) {
  // A plain window again: opaque, and it takes the focus so that ESC and
  // ENTER reach it and another application's activation cancels it.
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, 0);
  place(screen, 0);
  SetForegroundWindow(hwnd_);
}

void ShellWindowWin32::show_countdown(const Rect& screen) {
  // The layered attributes need the layered style in place first.
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, kCountdownStyle);
  SetLayeredWindowAttributes(hwnd_, 0, kCountdownAlpha, LWA_ALPHA);
  place(screen, SWP_NOACTIVATE);
}

void ShellWindowWin32::show_region_frame(const Rect& screen) {
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, kFrameStyle);
  SetLayeredWindowAttributes(hwnd_, kFrameColourKey, 0, LWA_COLORKEY);
  // Not activated: the user goes on working in the window under the frame,
  // and typing keeps reaching it.
  place(screen, SWP_NOACTIVATE);
}

void ShellWindowWin32::hide() {
  set_mouse_capture(false);
  SetWindowPos(hwnd_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, 0);
}

void ShellWindowWin32::invalidate() { InvalidateRect(hwnd_, nullptr, FALSE); }

void ShellWindowWin32::set_cursor(ShellCursor cursor) {
  cursor_ = system_cursor(cursor);
  SetCursor(cursor_);
}

void ShellWindowWin32::set_mouse_capture(bool on) {
  if (on) {
    SetCapture(hwnd_);
  } else if (GetCapture() == hwnd_) {
    ReleaseCapture();
  }
}

bool ShellWindowWin32::cursor_position(int32_t* x, int32_t* y) {
  POINT p{};
  if (!GetCursorPos(&p) || !ScreenToClient(hwnd_, &p)) return false;
  *x = p.x;
  *y = p.y;
  return true;
}

void ShellWindowWin32::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  if (dc == nullptr) return;
  HDC buffer = nullptr;
  HPAINTBUFFER pb =
      buffered_paint_ready_ ? BeginBufferedPaint(dc, &ps.rcPaint, BPBF_COMPATIBLEBITMAP, nullptr, &buffer) : nullptr;
  // Without a buffer nothing is drawn this time; the next invalidation tries again.
  if (pb != nullptr) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    {
      GdiCanvas canvas(buffer);
      main_window_paint(canvas, Rect{0, 0, client.right, client.bottom},
                        Rect{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom});
    }
    EndBufferedPaint(pb, TRUE);
  }
  EndPaint(hwnd_, &ps);
}

bool ShellWindowWin32::handle_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  (void)wparam;
  if (hwnd != hwnd_) return false;
  switch (msg) {
    case WM_PAINT:
      paint();
      *result = 0;
      return true;
    case WM_ERASEBKGND:
      *result = 1;
      return true;
    case WM_SETCURSOR:
      if (LOWORD(lparam) != HTCLIENT) return false;
      SetCursor(cursor_);
      *result = TRUE;
      return true;
    default:
      return false;
  }
}

ShellWindowWin32* install_shell_window_win32(HWND main_window) {
  if (g_installed == nullptr && main_window != nullptr) {
    g_installed = new ShellWindowWin32(main_window);  // lives until the process ends
    g_shell_window = g_installed;
  }
  return g_installed;
}

bool shell_window_handle_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  return g_installed != nullptr && g_installed->handle_message(hwnd, msg, wparam, lparam, result);
}
