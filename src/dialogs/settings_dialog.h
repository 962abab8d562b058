#pragma once
// The settings dialog: every user setting of Config in one modal dialog.
#include <cstdint>
#include <string>

#include "settings/config.h"
#include "dialogs/dialog_host.h"

// What this platform can honour of the settings that depend on the system
// (on Windows they follow the build number).
struct PlatformCapabilities {
  bool cursor_capture = true;     // "&Mouse Cursor"
  bool recording_border = false;  // "Show Recording &Border"
  bool rounded_corners = false;   // "Keep &Rounded Window Corners"
};

// Services the dialog uses from the layers above it, installed by the
// application at start-up.
struct SettingsDialogServices {
  // Active inputs (name and id), at most `max`.
  uint32_t (*enumerate_microphones)(std::string* names, std::string* ids, uint32_t max) = nullptr;
  bool (*application_audio_supported)() = nullptr;
  // The global shortcuts: released during a key capture so that the keys
  // reach the dialog, registered again from Config afterwards.
  void (*unregister_shortcuts)() = nullptr;
  void (*register_shortcuts)() = nullptr;
  // The display text of a shortcut value.
  std::string (*format_shortcut)(uint32_t value) = nullptr;
  PlatformCapabilities capabilities;
};
void set_settings_dialog_services(const SettingsDialogServices& services);

// Dialog state (empty while no dialog is open).
struct SettingsDialogState {
  DialogHost* settings_window = nullptr;
  int capturing_shortcut = 0;  // the capturing button's id
};
extern SettingsDialogState g_settings_dialog;

// 1 after OK (`config` replaced and normalised), 0 after Cancel, the close
// box, or when a dialog is already open (it is brought to the front), -1
// when the dialog cannot be created.
int show_settings_dialog(Config* config);

class SettingsDialogProc : public DialogProc {
 public:
  explicit SettingsDialogProc(Config* config) : config_(config) {}
  void on_init(DialogHost& dialog) override;
  void on_command(DialogHost& dialog, int id, int code) override;
  void on_destroy(DialogHost& dialog) override;
  void on_message(DialogHost& dialog, uint32_t message, std::shared_ptr<void> payload) override;
  bool on_key_up(DialogHost& dialog, int id, uint32_t key, uint32_t held) override;
  bool is_link(int id) const override;

 private:
  void fill_settings_controls(DialogHost& dialog, const Config& record);
  void read_settings_controls(DialogHost& dialog);
  void end_shortcut_capture(DialogHost& dialog, int id, uint32_t value);

  Config* config_;
  uint32_t pending_shortcut_[4] = {};  // the buttons' values until OK
};

// Pieces the procedure is made of, for the tests.
void refill_profile_list(DialogHost& dialog, uint32_t codec);
void refill_audio_bitrate_list(DialogHost& dialog, uint32_t codec, uint32_t bitrate);
void apply_preset(DialogHost& dialog, int index);
void delete_diagnostic_logs(DialogHost& dialog, const Config& config);
