#pragma once
// System-wide hot keys, as the desktop offers them. The backend owns the
// grabs; a pressed hot key reaches the main window as WM_HOTKEY with its id.
#include <cstdint>

class HotkeyService {
 public:
  virtual ~HotkeyService() = default;
  // Takes the key `vk` with exactly `modifiers` (MOD_* flags) for `id`.
  // False when the desktop refuses it (usually: another program holds it).
  virtual bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) = 0;
  // Gives the key of `id` back; nothing when it is not held.
  virtual void unregister_hotkey(int id) = 0;
};

// Installed by the interactive shell; null in a command-line run and in tests
// that bring their own.
inline HotkeyService* g_hotkey_service = nullptr;
