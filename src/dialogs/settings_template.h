#pragma once
// The settings dialog's template, built from its layout table of groups and
// rows (positions in dialog units).
#include <cstdint>
#include <string>
#include <vector>

enum SettingsItemKind : uint32_t {
  ITEM_CHECKBOX = 1,
  ITEM_NUMBER = 2,
  ITEM_COMBO = 4,
  ITEM_PATH = 8,
  ITEM_BUTTON = 0x10,
  ITEM_SHORTCUT = 0x20,
};

struct SettingsItem {
  const char* text;
  uint16_t id;
  uint32_t kind;
  int16_t w;
};

struct SettingsGroup {
  const char* caption;
  int16_t x, y, width, height;
  std::vector<SettingsItem> rows;
};

extern const std::vector<SettingsGroup> kSettingsGroups;

// "Frelvanta 3.3.0, <build date> [<revision>]".
std::string settings_dialog_title();

// The whole template; empty when it does not fit its buffer.
std::vector<uint8_t> build_settings_template();
