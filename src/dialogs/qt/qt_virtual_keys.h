#pragma once
// Qt key events as the virtual-key codes that shortcut values store.
#include <cstdint>

// 0 when the key has no virtual-key code.
uint32_t qt_key_to_virtual_key(int qt_key, bool keypad);
// SHORTCUT_* bits of the modifiers held (Qt::KeyboardModifiers as int).
uint32_t qt_modifiers_to_shortcut_bits(int modifiers);
