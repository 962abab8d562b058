#pragma once
// The stored form of a global shortcut: modifier flags in bits 24..31 (the
// values the classic hot-key API takes), the virtual-key code in bits 0..23.
// 0 means no shortcut. Settings files written on any platform keep this form.
#include <cstdint>
#include <string>

constexpr uint32_t MOD_ALT = 1;
constexpr uint32_t MOD_CONTROL = 2;
constexpr uint32_t MOD_SHIFT = 4;
constexpr uint32_t MOD_WIN = 8;

constexpr uint32_t shortcut_modifiers(uint32_t value) { return value >> 24; }
constexpr uint32_t shortcut_key(uint32_t value) { return value & 0xFFFFFFu; }
constexpr uint32_t make_shortcut(uint32_t modifiers, uint32_t vk) { return (modifiers << 24) | (vk & 0xFFFFFFu); }

// The text shown for a value: "[none]" for 0, else the held modifiers as
// "Ctrl + ", "Win + ", "Alt + ", "Shift + " (in that order) and the key's
// name, or "[0x%02x]" for a key without one.
std::string format_shortcut(uint32_t value);
