#include "app/shortcuts.h"

#include "core/app_state.h"
#include "app/hotkey_service.h"
#include "app/shortcut_value.h"
#include "core/ui_service.h"
#include "platform/text.h"
#include "core/trace.h"

const ShortcutEntry kShortcutTable[4] = {
    {2, &Config::ShortcutMonitor, "Capture Monitor"},
    {1, &Config::ShortcutWindow, "Capture Window"},
    {3, &Config::ShortcutRect, "Capture Region"},
    {kHotkeyPause, &Config::ShortcutPause, "Pause / Resume"},
};

namespace {
constexpr size_t kConflictUnits = 256;

bool register_shortcut(int id, uint32_t value, const char* name) {
  // A desktop without global hot keys (no X server behind the display) has
  // nothing to refuse, so nothing is reported as a conflict.
  if (value == 0 || !g_hotkey_service) return true;
  if (g_hotkey_service->register_hotkey(id, shortcut_modifiers(value), shortcut_key(value))) return true;
  std::string& list = g_app.shortcut_conflicts;
  if (!list.empty()) list += ", ";
  list += name;
  list = utf16_truncate(list, kConflictUnits - 1);
  return false;
}
}  // namespace

bool register_shortcuts() {
  g_app.shortcut_conflicts.clear();
  bool all = true;
  for (const ShortcutEntry& e : kShortcutTable) {
    // Every one is tried, even after a refusal.
    if (!register_shortcut(e.id, g_app.config.*e.value, e.name)) all = false;
  }
  return all;
}

void unregister_shortcuts() {
  if (!g_hotkey_service) return;
  for (const ShortcutEntry& e : kShortcutTable) g_hotkey_service->unregister_hotkey(e.id);
}

std::string shortcut_conflict_text(const std::string& conflicts) {
  return utf16_truncate("Cannot register Frelvanta keyboard shortcuts.\nConflicting keys: " + conflicts +
                            "\nPlease adjust these shortcuts in Settings.",
                        511);
}

void report_shortcut_conflicts() {
  show_message(shortcut_conflict_text(g_app.shortcut_conflicts), "Frelvanta", MB_ICONWARNING);
}
