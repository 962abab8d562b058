// The configuration steps of start-up, apart from the rest so that a build
// without capture and encoding (Windows for now) runs them the same way.
#include "core/app_state.h"
#include "app/startup.h"
#include "core/ui_service.h"
#include "platform/files.h"
#include "platform/text.h"
#include "core/trace.h"
#include "settings/config_store.h"

namespace {
// A settings file that is there but could not be used is said, not silently
// replaced by the defaults.
void report_settings_file(ReadStatus status, const std::string& path) {
  const char* why = status == ReadStatus::kTooLarge     ? "is too large to be a settings file"
                    : status == ReadStatus::kNotRegular ? "is not a regular file"
                    : status == ReadStatus::kFailed     ? "could not be read"
                                                        : nullptr;
  if (!why) return;
  show_message(format_cut(1024, "The settings file %s, so the default settings are used and the file is left "
                                "unchanged:\n\n%s", why, path.c_str()),
               "Frelvanta", MB_ICONWARNING);
}
}  // namespace

void load_configuration(bool (*hardware_encoder_default)()) {
  config_set_defaults(&g_app.config);
  std::string legacy;
  const bool migrate = !file_exists(g_app.ini_path) && legacy_ini_path(&legacy) && file_exists(legacy);
  const std::string& source = migrate ? legacy : g_app.ini_path;
  bool hardware_encoder_stored = false;
  const ReadStatus status = config_load(&g_app.config, source, &hardware_encoder_stored);
  report_settings_file(status, source);
  // A fresh install (or a file that never stored the choice) must record
  // on a machine without a GPU: hardware encoding is on by default only
  // where it works. A stored value is honoured as it is.
  if (!hardware_encoder_stored && hardware_encoder_default) {
    g_app.config.HardwareEncoder = hardware_encoder_default() ? 1 : 0;
  }
  if (migrate && status == ReadStatus::kOk) config_save(g_app.config);  // once; the older file stays as it is
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
