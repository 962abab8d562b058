#pragma once
#include <cstdint>
#include <string>
// Opening the settings dialog from the tray, and what it needs from the
// layers above the settings subsystem.

// Installs the Qt dialog host and the dialog's services: the microphone
// list and application audio from the sound server, and what this platform
// can capture. Interactive start-up, after the toolkit.
void install_settings_dialog_services();

// The owner of the global shortcuts hands in its functions: release them all
// (during a key capture), register them from Config, and the display text of
// a shortcut value. Until it does, the buttons show no text and nothing is
// released or registered.
void set_settings_shortcut_functions(void (*unregister_all)(), void (*register_all)(),
                                     std::string (*format_shortcut)(uint32_t value));

// The tray menu's Settings entry and a double click on the tray icon: shows
// the dialog (or brings the open one to the front). After a confirmation the
// configuration is saved and the global shortcuts are registered again.
// Returns the dialog's result.
int open_settings_dialog();
