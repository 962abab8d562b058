#pragma once
#include "core/desktop_session.h"

class Win32DesktopSession final : public DesktopSession {
 public:
  void keep_awake(bool on) override;
  void show_in_folder(const std::string& file_path) override;
};
