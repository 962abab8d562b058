// Shows one dialog through the Qt host, for screenshots and by-eye checks:
//   fv_dialog_preview settings|about|donate|update-available
// The settings dialog gets a sample configuration and sample microphones.
#include <QApplication>
#include <cstring>

#include "app/shortcut_value.h"
#include "settings/config_store.h"
#include "settings/info_dialogs.h"
#include "settings/qt/qt_dialog_host.h"
#include "settings/settings_dialog.h"
#include "settings/update_check.h"

namespace {
uint32_t sample_microphones(std::string* names, std::string* ids, uint32_t max) {
  if (max < 2) return 0;
  names[0] = "Built-in Audio Analog Stereo";
  ids[0] = "alsa_input.pci-0000_00_1f.3.analog-stereo";
  names[1] = "USB Headset Mono";
  ids[1] = "alsa_input.usb-headset.mono";
  return 2;
}
bool yes() { return true; }
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  install_qt_dialog_host();
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
    set_settings_dialog_services(s);
    Config config;
    config_set_defaults(&config);
    config.OutputFolder = "/home/user/Videos";
    return show_settings_dialog(&config) == 1 ? 0 : 1;
  }
  return 0;
}
