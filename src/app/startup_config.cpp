// The configuration steps of start-up, apart from the rest so that a build
// without capture and encoding (Windows for now) runs them the same way.
#include "app/app_state.h"
#include "app/startup.h"
#include "platform/files.h"
#include "settings/config_store.h"

void load_configuration() {
  config_set_defaults(&g_app.config);
  std::string legacy;
  if (!file_exists(g_app.ini_path) && legacy_ini_path(&legacy) && file_exists(legacy)) {
    config_load(&g_app.config, legacy);
    config_save(g_app.config);  // once; the older file stays as it is
  } else {
    config_load(&g_app.config, g_app.ini_path);
  }
}

void apply_command_line_overrides() {
  Config& c = g_app.config;
  c.StartDelaySec = 0;
  c.OpenFolder = 0;
  if (g_app.cli_audio_given) c.CaptureAudio = g_app.cli_audio ? 1 : 0;
  if (g_app.cli_mic_given) c.CaptureMicrophone = g_app.cli_mic ? 1 : 0;
  if (g_app.cli_duration_sec > 0) {
    c.EnableLimitLength = 1;
    c.LimitLength = g_app.cli_duration_sec;
  }
}
