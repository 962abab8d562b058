#include "app/settings_entry.h"

#include "app/shell_dialogs.h"
#include "app/shortcut_value.h"
#include "app/shortcuts.h"
#include "app/toolkit.h"
#include "audio/audio_capture.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/settings_dialog.h"

namespace {
uint32_t microphones(std::string* names, std::string* ids, uint32_t max) {
  std::string n[kMaxMicrophones], i[kMaxMicrophones];
  uint32_t count = std::min(enumerate_microphones(n, i), std::min(max, kMaxMicrophones));
  for (uint32_t k = 0; k < count; ++k) {
    names[k] = std::move(n[k]);
    ids[k] = std::move(i[k]);
  }
  return count;
}

// After a key capture the shortcuts come back from Config; a refused one is
// reported when the dialog's OK registers them for good.
void register_again() { register_shortcuts(); }

void donate_from_tray() { show_donate_dialog(nullptr); }
}  // namespace

void install_settings_dialog_services() {
  if (!toolkit_install_dialog_host()) return;
  SettingsDialogServices s;
  s.enumerate_microphones = microphones;
  s.application_audio_supported = application_audio_supported;
  s.unregister_shortcuts = unregister_shortcuts;
  s.register_shortcuts = register_again;
  s.format_shortcut = format_shortcut;
  // The X11 capture draws the pointer into the picture; it has no border
  // around the captured area and no window corner rounding to keep.
  s.capabilities = PlatformCapabilities{true, false, false};
  set_settings_dialog_services(s);
  g_show_settings_dialog = show_settings_dialog;
  g_show_donate_dialog = donate_from_tray;
}
