#include "app/settings_entry.h"

#include "app/app_state.h"
#include "audio/audio_capture.h"
#include "settings/config_store.h"
#include "settings/qt/qt_dialog_host.h"
#include "settings/settings_dialog.h"

namespace {
SettingsDialogServices g_installed;

uint32_t microphones(std::string* names, std::string* ids, uint32_t max) {
  std::string n[kMaxMicrophones], i[kMaxMicrophones];
  uint32_t count = std::min(enumerate_microphones(n, i), std::min(max, kMaxMicrophones));
  for (uint32_t k = 0; k < count; ++k) {
    names[k] = std::move(n[k]);
    ids[k] = std::move(i[k]);
  }
  return count;
}
}  // namespace

void install_settings_dialog_services() {
  install_qt_dialog_host();
  g_installed.enumerate_microphones = microphones;
  g_installed.application_audio_supported = application_audio_supported;
  // The X11 capture draws the pointer into the picture; it has no border
  // around the captured area and no window corner rounding to keep.
  g_installed.capabilities = PlatformCapabilities{true, false, false};
  set_settings_dialog_services(g_installed);
}

void set_settings_shortcut_functions(void (*unregister_all)(), void (*register_all)(),
                                     std::string (*format_shortcut)(uint32_t value)) {
  g_installed.unregister_shortcuts = unregister_all;
  g_installed.register_shortcuts = register_all;
  g_installed.format_shortcut = format_shortcut;
  set_settings_dialog_services(g_installed);
}

int open_settings_dialog() {
  int result = show_settings_dialog(&g_app.config);
  if (result != 0) {
    config_save(g_app.config);
    if (g_installed.register_shortcuts) g_installed.register_shortcuts();
  }
  return result;
}
