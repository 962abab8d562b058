#include "app/virtual_keys.h"

#include <array>
#include <cstddef>

namespace {
// Fixed names first (the ones the settings dialog always shows the same
// way), then the keys a keyboard layout would name.
constexpr VirtualKey kFixed[] = {
    {0x08, 0xff08, "Backspace"}, {0x09, 0xff09, "Tab"},       {0x0D, 0xff0d, "Enter"},
    {0x13, 0xff13, "Pause"},     {0x14, 0xffe5, "Caps Lock"}, {0x1B, 0xff1b, "Esc"},
    {0x20, 0x0020, "Space"},     {0x21, 0xff55, "PageUp"},    {0x22, 0xff56, "PageDown"},
    {0x23, 0xff57, "End"},       {0x24, 0xff50, "Home"},      {0x25, 0xff51, "Left"},
    {0x26, 0xff52, "Up"},        {0x27, 0xff53, "Right"},     {0x28, 0xff54, "Down"},
    {0x2C, 0xff61, "PrtScr"},    {0x2D, 0xff63, "Insert"},    {0x2E, 0xff9f, "Delete"},
    {0x5D, 0xff67, "Application"},
    {0x60, 0xffb0, "Num 0"},     {0x61, 0xffb1, "Num 1"},     {0x62, 0xffb2, "Num 2"},
    {0x63, 0xffb3, "Num 3"},     {0x64, 0xffb4, "Num 4"},     {0x65, 0xffb5, "Num 5"},
    {0x66, 0xffb6, "Num 6"},     {0x67, 0xffb7, "Num 7"},     {0x68, 0xffb8, "Num 8"},
    {0x69, 0xffb9, "Num 9"},     {0x6A, 0xffaa, "Num *"},     {0x6B, 0xffab, "Num +"},
    {0x6D, 0xffad, "Num -"},     {0x6E, 0xffae, "Num Del"},   {0x6F, 0xffaf, "Num /"},
    {0x90, 0xff7f, "Num Lock"},  {0x91, 0xff14, "Scroll Lock"},
    {0xBA, 0x003b, ";"},         {0xBB, 0x003d, "="},         {0xBC, 0x002c, ","},
    {0xBD, 0x002d, "-"},         {0xBE, 0x002e, "."},         {0xBF, 0x002f, "/"},
    {0xC0, 0x0060, "`"},         {0xDB, 0x005b, "["},         {0xDC, 0x005c, "\\"},
    {0xDD, 0x005d, "]"},         {0xDE, 0x0027, "'"},
};

// Letters, digits and function keys follow a rule; their entries are built
// once so every lookup returns a stable record.
struct Generated {
  std::array<VirtualKey, 26 + 10 + 24> keys{};
  std::array<char[4], 26 + 10 + 24> names{};
  Generated() {
    std::size_t n = 0;
    for (uint32_t i = 0; i < 26; ++i, ++n) {
      names[n][0] = static_cast<char>('A' + i);
      keys[n] = {0x41 + i, 0x61 + i, names[n]};  // keysym of the lower-case letter
    }
    for (uint32_t i = 0; i < 10; ++i, ++n) {
      names[n][0] = static_cast<char>('0' + i);
      keys[n] = {0x30 + i, 0x30 + i, names[n]};
    }
    for (uint32_t i = 0; i < 24; ++i, ++n) {
      names[n][0] = 'F';
      if (i + 1 < 10) {
        names[n][1] = static_cast<char>('1' + i);
      } else {
        names[n][1] = static_cast<char>('0' + (i + 1) / 10);
        names[n][2] = static_cast<char>('0' + (i + 1) % 10);
      }
      keys[n] = {0x70 + i, 0xffbe + i, names[n]};
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
