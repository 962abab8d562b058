#include "dialog_preview_show.h"

#include <cstring>

#include "app/shortcut_value.h"
#include "settings/config_store.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/update_check.h"

namespace {
const PreviewSamples* g_samples = nullptr;

uint32_t sample_microphones(std::string* names, std::string* ids, uint32_t max) {
  if (max < 2) return 0;
  for (int i = 0; i < 2; ++i) {
    names[i] = g_samples->microphone_names[i];
    ids[i] = g_samples->microphone_ids[i];
  }
  return 2;
}
bool yes() { return true; }
}  // namespace

int show_preview_dialog(const char* which, const PreviewSamples& samples) {
  g_samples = &samples;
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
    s.capabilities = samples.capabilities;
    set_settings_dialog_services(s);
    Config config;
    config_set_defaults(&config);
    config.OutputFolder = samples.output_folder;
    return show_settings_dialog(&config) == 1 ? 0 : 1;
  }
  return 0;
}
