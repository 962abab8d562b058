#include "dialogs/qt/qt_virtual_keys.h"

#include <Qt>

#include "dialogs/dialog_host.h"

uint32_t qt_key_to_virtual_key(int k, bool keypad) {
  if (keypad) {
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return 0x60 + static_cast<uint32_t>(k - Qt::Key_0);
    switch (k) {
      case Qt::Key_Asterisk: return 0x6A;
      case Qt::Key_Plus: return 0x6B;
      case Qt::Key_Minus: return 0x6D;
      case Qt::Key_Period: return 0x6E;
      case Qt::Key_Slash: return 0x6F;
      default: break;
    }
  }
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 0x41 + static_cast<uint32_t>(k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return 0x30 + static_cast<uint32_t>(k - Qt::Key_0);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return 0x70 + static_cast<uint32_t>(k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: case Qt::Key_AltGr: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Meta: case Qt::Key_Super_L: return 0x5B;
    case Qt::Key_Super_R: return 0x5C;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // Punctuation by the US layout's key positions, shifted or not.
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash: case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    case Qt::Key_ParenRight: return 0x30;
    default: return 0;
  }
}

uint32_t qt_modifiers_to_shortcut_bits(int m) {
  uint32_t bits = 0;
  if (m & Qt::AltModifier) bits |= SHORTCUT_ALT;
  if (m & Qt::ControlModifier) bits |= SHORTCUT_CTRL;
  if (m & Qt::ShiftModifier) bits |= SHORTCUT_SHIFT;
  if (m & Qt::MetaModifier) bits |= SHORTCUT_WIN;
  return bits;
}
