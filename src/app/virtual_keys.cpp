#include "app/virtual_keys.h"

#include <array>
#include <cstddef>

namespace {
// Fixed names first (the ones the settings dialog always shows the same
// way), then the keys a keyboard layout would name.
constexpr VirtualKey kFixed[] = {
    {0x08, 0xff08, "Backspace", "BackSpace"},
    {0x09, 0xff09, "Tab", "Tab"},
    {0x0D, 0xff0d, "Enter", "Return"},
    {0x13, 0xff13, "Pause", "Pause"},
    {0x14, 0xffe5, "Caps Lock", "Caps_Lock"},
    {0x1B, 0xff1b, "Esc", "Escape"},
    {0x20, 0x0020, "Space", "space"},
    {0x21, 0xff55, "PageUp", "Page_Up"},
    {0x22, 0xff56, "PageDown", "Page_Down"},
    {0x23, 0xff57, "End", "End"},
    {0x24, 0xff50, "Home", "Home"},
    {0x25, 0xff51, "Left", "Left"},
    {0x26, 0xff52, "Up", "Up"},
    {0x27, 0xff53, "Right", "Right"},
    {0x28, 0xff54, "Down", "Down"},
    {0x2C, 0xff61, "PrtScr", "Print"},
    {0x2D, 0xff63, "Insert", "Insert"},
    // The X grab takes the keypad's Delete for this key; desktops that name
    // keys take the main block's.
    {0x2E, 0xff9f, "Delete", "Delete"},
    {0x5D, 0xff67, "Application", "Menu"},
    {0x60, 0xffb0, "Num 0", "KP_0"},
    {0x61, 0xffb1, "Num 1", "KP_1"},
    {0x62, 0xffb2, "Num 2", "KP_2"},
    {0x63, 0xffb3, "Num 3", "KP_3"},
    {0x64, 0xffb4, "Num 4", "KP_4"},
    {0x65, 0xffb5, "Num 5", "KP_5"},
    {0x66, 0xffb6, "Num 6", "KP_6"},
    {0x67, 0xffb7, "Num 7", "KP_7"},
    {0x68, 0xffb8, "Num 8", "KP_8"},
    {0x69, 0xffb9, "Num 9", "KP_9"},
    {0x6A, 0xffaa, "Num *", "KP_Multiply"},
    {0x6B, 0xffab, "Num +", "KP_Add"},
    {0x6D, 0xffad, "Num -", "KP_Subtract"},
    {0x6E, 0xffae, "Num Del", "KP_Decimal"},
    {0x6F, 0xffaf, "Num /", "KP_Divide"},
    {0x90, 0xff7f, "Num Lock", "Num_Lock"},
    {0x91, 0xff14, "Scroll Lock", "Scroll_Lock"},
    {0xBA, 0x003b, ";", "semicolon"},
    {0xBB, 0x003d, "=", "equal"},
    {0xBC, 0x002c, ",", "comma"},
    {0xBD, 0x002d, "-", "minus"},
    {0xBE, 0x002e, ".", "period"},
    {0xBF, 0x002f, "/", "slash"},
    {0xC0, 0x0060, "`", "grave"},
    {0xDB, 0x005b, "[", "bracketleft"},
    {0xDC, 0x005c, "\\", "backslash"},
    {0xDD, 0x005d, "]", "bracketright"},
    {0xDE, 0x0027, "'", "apostrophe"},
};

// Letters, digits and function keys follow a rule; their entries are built
// once so every lookup returns a stable record.
struct Generated {
  std::array<VirtualKey, 26 + 10 + 24> keys{};
  std::array<char[4], 26 + 10 + 24> names{};
  std::array<char[2], 26> letter_syms{};  // a letter's keysym is the lower-case one
  Generated() {
    std::size_t n = 0;
    for (uint32_t i = 0; i < 26; ++i, ++n) {
      names[n][0] = static_cast<char>('A' + i);
      letter_syms[i][0] = static_cast<char>('a' + i);
      keys[n] = {0x41 + i, 0x61 + i, names[n], letter_syms[i]};
    }
    for (uint32_t i = 0; i < 10; ++i, ++n) {
      names[n][0] = static_cast<char>('0' + i);
      keys[n] = {0x30 + i, 0x30 + i, names[n], names[n]};
    }
    for (uint32_t i = 0; i < 24; ++i, ++n) {
      names[n][0] = 'F';
      if (i + 1 < 10) {
        names[n][1] = static_cast<char>('1' + i);
      } else {
        names[n][1] = static_cast<char>('0' + (i + 1) / 10);
        names[n][2] = static_cast<char>('0' + (i + 1) % 10);
      }
      keys[n] = {0x70 + i, 0xffbe + i, names[n], names[n]};
    }
  }
};

const Generated& generated() {
  static const Generated g;
  return g;
}
}  // namespace

const VirtualKey* find_virtual_key(uint32_t vk) {
  for (const VirtualKey& k : kFixed)
    if (k.vk == vk) return &k;
  for (const VirtualKey& k : generated().keys)
    if (k.vk == vk) return &k;
  return nullptr;
}

uint32_t vk_to_keysym(uint32_t vk) {
  const VirtualKey* k = find_virtual_key(vk);
  return k ? k->keysym : 0;
}

uint32_t keysym_to_vk(uint32_t keysym) {
  if (keysym >= 0x41 && keysym <= 0x5A) keysym += 0x20;  // upper-case letter: same key
  for (const VirtualKey& k : kFixed)
    if (k.keysym == keysym) return k.vk;
  for (const VirtualKey& k : generated().keys)
    if (k.keysym == keysym) return k.vk;
  return 0;
}

const char* vk_key_name(uint32_t vk) {
  const VirtualKey* k = find_virtual_key(vk);
  return k ? k->name : nullptr;
}

const char* vk_keysym_name(uint32_t vk) {
  const VirtualKey* k = find_virtual_key(vk);
  return k ? k->keysym_name : nullptr;
}
