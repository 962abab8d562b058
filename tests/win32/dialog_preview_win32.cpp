// Shows one dialog through the system's dialog manager, for screenshots and
// by-eye checks beside the Linux host's:
//   fv_win32_dialog_preview settings|about|donate|update-available
// The settings dialog gets a sample configuration and sample microphones.
#include <cstring>
#include <string>

#include "app/shortcut_value.h"
#include "settings/config_store.h"
#include "settings/info_dialogs.h"
#include "settings/settings_dialog.h"
#include "settings/update_check.h"
#include "settings/win32/dialog_host_win32.h"

namespace {
uint32_t sample_microphones(std::string* names, std::string* ids, uint32_t max) {
  if (max < 2) return 0;
  names[0] = "Microphone (Realtek High Definition Audio)";
  ids[0] = "{0.0.1.00000000}.{4f2a7c1e-0000-0000-0000-000000000001}";
  names[1] = "Headset Microphone (USB Audio)";
  ids[1] = "{0.0.1.00000000}.{4f2a7c1e-0000-0000-0000-000000000002}";
  return 2;
}
bool yes() { return true; }
}  // namespace

int main(int argc, char** argv) {
  install_win32_dialog_host();
  const char* which = argc > 1 ? argv[1] : "settings";
  if (!std::strcmp(which, "about")) {
    show_about_dialog(nullptr);
  } else if (!std::strcmp(which, "donate")) {
    show_donate_dialog(nullptr);
  } else if (!std::strcmp(which, "update-available")) {
    UpdateResult r;
    r.ok = r.newer = 1;
    r.version = "3.4.0";
    r.description = "Faster capture of single windows, a quieter fan while recording, and fixes for "
                    "microphones that appear after start-up.";
    r.url = "https://example.org/frelvanta/download";
    show_update_available_dialog(nullptr, r);
  } else {
    SettingsDialogServices s;
    s.enumerate_microphones = sample_microphones;
    s.application_audio_supported = yes;
    s.format_shortcut = format_shortcut;
    s.capabilities = PlatformCapabilities{true, true, true};
    set_settings_dialog_services(s);
    Config config;
    config_set_defaults(&config);
    config.OutputFolder = "C:/Users/user/Videos";
    return show_settings_dialog(&config) == 1 ? 0 : 1;
  }
  return 0;
}
