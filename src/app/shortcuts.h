#pragma once
// The four global shortcuts: registration in a fixed order, and the warning
// that names the ones another program holds.
#include <cstdint>
#include <string>

#include "settings/config.h"

// The WM_HOTKEY ids: the capture modes' own values (CAPTURE_WINDOW 1,
// CAPTURE_MONITOR 2, CAPTURE_REGION 3), and pause / resume.
constexpr int kHotkeyPause = 4;

struct ShortcutEntry {
  int id;                  // the WM_HOTKEY id; 1..3 are the capture modes
  uint32_t Config::*value; // the setting holding it
  const char* name;        // name used in the conflict warning
};

// In registration order: 2, 1, 3, 4.
extern const ShortcutEntry kShortcutTable[4];

// Registers all four from the live configuration; true only if every
// non-zero one was taken. The names of the refused ones are left in
// g_app.shortcut_conflicts.
bool register_shortcuts();
// Releases all four (ids 2, 1, 3, 4); results ignored.
void unregister_shortcuts();
// The warning listing g_app.shortcut_conflicts.
void report_shortcut_conflicts();
// The warning's text for a list of names.
std::string shortcut_conflict_text(const std::string& conflicts);
