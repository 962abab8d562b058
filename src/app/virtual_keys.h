#pragma once
// Virtual-key codes (the key numbers stored in shortcut values) and their
// X keysyms and display names. Keysyms are plain numbers here, so this table
// is usable without any X header; only the X11 backend turns them into
// keycodes of the running server.
#include <cstdint>

struct VirtualKey {
  uint32_t vk;
  uint32_t keysym;   // 0: the key has no X equivalent
  const char* name;  // display name, as the settings dialog shows it
  const char* keysym_name;  // the keysym's name, as desktops that take key names spell it
};

// The entry for a key code, or null when the table does not know it.
const VirtualKey* find_virtual_key(uint32_t vk);
// 0 when the key has no X equivalent.
uint32_t vk_to_keysym(uint32_t vk);
// The key code for a keysym (letters in either case), or 0.
uint32_t keysym_to_vk(uint32_t keysym);
// Display name, or null.
const char* vk_key_name(uint32_t vk);
// The keysym's name ("Print", "p", "F5"), or null.
const char* vk_keysym_name(uint32_t vk);
