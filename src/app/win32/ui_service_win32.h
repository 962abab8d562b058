#pragma once
#include "app/ui_service.h"

// Message boxes through the system. There is no tray icon in this build yet:
// a notification brings the instance's open window to the front instead.
class Win32UiService : public UiService {
 public:
  int message_box(const std::string& text, const std::string& caption, uint32_t type) override;
  int tray_notification(const std::string& text, const std::string& caption, int kind) override;
};
