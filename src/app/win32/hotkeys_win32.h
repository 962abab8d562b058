#pragma once
#include "app/hotkey_service.h"

class Win32Hotkeys final : public HotkeyService {
 public:
  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override;
  void unregister_hotkey(int id) override;
};
