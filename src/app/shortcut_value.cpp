#include "app/shortcut_value.h"

#include <cstdio>

#include "app/virtual_keys.h"

std::string format_shortcut(uint32_t value) {
  if (value == 0) return "[none]";
  const uint32_t mods = shortcut_modifiers(value);
  std::string text;
  if (mods & MOD_CONTROL) text += "Ctrl + ";
  if (mods & MOD_WIN) text += "Win + ";
  if (mods & MOD_ALT) text += "Alt + ";
  if (mods & MOD_SHIFT) text += "Shift + ";
  const uint32_t vk = shortcut_key(value);
  const char* name = vk_key_name(vk);
  if (name && *name) {
    text += name;
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "[0x%02x]", vk);
    text += buf;
  }
  return text;
}
