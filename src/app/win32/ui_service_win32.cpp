#include "app/win32/ui_service_win32.h"

#include <shellapi.h>

#include <algorithm>

#include "core/message_loop.h"
#include "app/win32/main_window_win32.h"
#include "app/win32/paused_icon_win32.h"
#include "platform/win32/wide.h"

namespace {
// The full structure of the current shell, as the shell expects it.
static_assert(sizeof(NOTIFYICONDATAW) == 976, "NOTIFYICONDATAW is not the shell's full structure");

// Copies at most `units` - 1 UTF-16 units and terminates.
template <size_t N>
void copy_cut(wchar_t (&dst)[N], const std::string& text) {
  std::wstring w = to_wide(text);
  size_t n = std::min(w.size(), N - 1);
  w.copy(dst, n);
  dst[n] = L'\0';
}

NOTIFYICONDATAW icon_data(UINT flags) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof d;
  d.hWnd = main_window_handle();
  d.uID = 0;
  d.uFlags = flags;
  return d;
}

DWORD balloon_icon(int kind) {
  switch (kind) {
    case NOTIFY_WARNING: return NIIF_WARNING;
    case NOTIFY_ERROR: return NIIF_ERROR;
    default: return NIIF_INFO;
  }
}
}  // namespace

Win32UiService::Win32UiService() {
  HINSTANCE module = GetModuleHandleW(nullptr);
  idle_ = LoadIconW(module, MAKEINTRESOURCEW(1));
  recording_ = LoadIconW(module, MAKEINTRESOURCEW(2));
  paused_ = LoadIconW(module, MAKEINTRESOURCEW(3));
  if (!paused_) paused_ = make_paused_icon_win32(recording_);
}

HICON Win32UiService::icon_for(TrayIconState state) const {
  switch (state) {
    case TrayIconState::kIdle: return idle_;
    case TrayIconState::kPaused: return paused_ ? paused_ : recording_;
    default: return recording_;
  }
}

int Win32UiService::message_box(const std::string& text, const std::string& caption, uint32_t type) {
  return MessageBoxW(main_window_handle(), to_wide(text).c_str(), to_wide(caption).c_str(), type);
}

int Win32UiService::tray_notification(const std::string& text, const std::string& caption, int kind) {
  NOTIFYICONDATAW d = icon_data(NIF_TIP | NIF_INFO);
  // Showing a balloon puts the plain tooltip back as well.
  copy_cut(d.szTip, "Frelvanta");
  copy_cut(d.szInfo, text);
  copy_cut(d.szInfoTitle, caption.empty() ? std::string("Frelvanta") : caption);
  d.dwInfoFlags = balloon_icon(kind);
  return Shell_NotifyIconW(NIM_MODIFY, &d);
}

void Win32UiService::tray_add() {
  NOTIFYICONDATAW d = icon_data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  d.uCallbackMessage = MSG_TRAY_CALLBACK;
  d.hIcon = icon_for(state_);
  copy_cut(d.szTip, "Frelvanta");
  Shell_NotifyIconW(NIM_ADD, &d);
}

void Win32UiService::tray_delete() {
  NOTIFYICONDATAW d = icon_data(0);
  Shell_NotifyIconW(NIM_DELETE, &d);
}

void Win32UiService::tray_set_icon(TrayIconState state) {
  state_ = state;
  NOTIFYICONDATAW d = icon_data(NIF_ICON);
  d.hIcon = icon_for(state);
  Shell_NotifyIconW(NIM_MODIFY, &d);
}

void Win32UiService::tray_set_tip(const std::string& tip) {
  NOTIFYICONDATAW d = icon_data(NIF_TIP);
  copy_cut(d.szTip, tip);
  Shell_NotifyIconW(NIM_MODIFY, &d);
}

int Win32UiService::tray_popup_menu(const std::vector<TrayMenuItem>& items) {
  HMENU menu = CreatePopupMenu();
  if (!menu) return 0;
  for (const TrayMenuItem& item : items) {
    if (item.id == 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      // Disabled, not grayed: the item keeps its look but cannot be chosen.
      AppendMenuW(menu, MF_STRING | (item.enabled ? 0u : UINT{MF_DISABLED}), UINT_PTR(item.id),
                  to_wide(item.text).c_str());
    }
  }
  POINT p{};
  GetCursorPos(&p);
  HWND owner = main_window_handle();
  // In front, so that the menu closes when the user clicks elsewhere.
  SetForegroundWindow(owner);
  int chosen = static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, p.x, p.y, 0, owner, nullptr));
  DestroyMenu(menu);
  return chosen;
}

void Win32UiService::open_url(const std::string& url) {
  ShellExecuteW(nullptr, L"open", to_wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
