#pragma once
#include <windows.h>

#include "core/ui_service.h"

// Message boxes, the notification-area icon with its balloons and menu, and
// web addresses, through the system's shell.
class Win32UiService final : public UiService {
 public:
  Win32UiService();
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override;
  int tray_notification(const std::string& text, const std::string& caption, int kind) override;
  void tray_add() override;
  void tray_delete() override;
  void tray_set_icon(TrayIconState state) override;
  void tray_set_tip(const std::string& tip) override;
  int tray_popup_menu(const std::vector<TrayMenuItem>& items) override;
  void open_url(const std::string& url) override;

 private:
  HICON icon_for(TrayIconState state) const;

  HICON idle_ = nullptr;
  HICON recording_ = nullptr;
  HICON paused_ = nullptr;
  TrayIconState state_ = TrayIconState::kIdle;
};
