#pragma once
// Global hot keys on X11: passive grabs of key combinations on the root
// window, on a connection of their own. Each grab is made four times (with
// and without NumLock and CapsLock), so a shortcut works whatever the state
// of those locks. The server refuses a combination another client grabbed
// (BadAccess); that is how a conflict is found.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "app/hotkey_service.h"

struct xcb_connection_t;

class GlobalHotkeysX11 final : public HotkeyService {
 public:
  // `on_hotkey` runs inside dispatch() with the id of a pressed hot key.
  explicit GlobalHotkeysX11(std::function<void(int)> on_hotkey);
  ~GlobalHotkeysX11() override;
  GlobalHotkeysX11(const GlobalHotkeysX11&) = delete;
  GlobalHotkeysX11& operator=(const GlobalHotkeysX11&) = delete;

  // False when the display cannot be opened.
  bool ok() const { return conn_ != nullptr; }
  // The connection's descriptor: readable when events wait. -1 without one.
  int fd() const;

  bool register_hotkey(int id, uint32_t modifiers, uint32_t vk) override;
  void unregister_hotkey(int id) override;
  // Handles every event that has arrived.
  void dispatch();

 private:
  struct Grab {
    uint8_t keycode;
    uint16_t mods;  // X modifier mask without the lock variants
  };
  std::vector<uint8_t> keycodes_for(uint32_t keysym) const;
  void load_keyboard();

  xcb_connection_t* conn_ = nullptr;
  uint32_t root_ = 0;
  uint16_t num_lock_ = 0;  // the modifier bit NumLock sets; 0 if none
  uint8_t min_keycode_ = 0;
  uint8_t keysyms_per_code_ = 0;
  std::vector<uint32_t> keysyms_;  // the server's keyboard map
  std::multimap<int, Grab> grabs_;  // id -> the keys grabbed for it
  std::function<void(int)> on_hotkey_;
};
