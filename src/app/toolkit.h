#pragma once
// The UI toolkit behind the message loop, the message boxes and the tray.
#include <memory>

#include "core/message_loop.h"

// Starts the toolkit once per process. With a display it brings up the full
// widget set; without one (or with one that cannot be opened) only an event
// loop, so that a headless run still goes through start-up and ends with its
// exit code instead of aborting. Returns whether a display is available.
bool toolkit_init();
bool toolkit_has_display();
// Installs the message-box and tray service (only with a display).
void toolkit_install_ui_service();
// Installs the toolkit's host for the settings subsystem's dialog templates;
// false when this build has none (the tray then offers no dialogs).
bool toolkit_install_dialog_host();
// The loop behind the main window; null when it cannot be created.
std::unique_ptr<MessageLoop> toolkit_create_message_loop();
// Installs the desktop-session services (sleep inhibitor, file manager);
// after the main window exists, since a forced sleep is posted to it.
void toolkit_install_desktop_session();
// Installs the global hot keys of the desktop; a pressed one reaches the
// main window as WM_HOTKEY. After the main window exists. False when this
// desktop session offers none.
bool toolkit_install_hotkeys();
// Installs the window behind the overlays and the region frame (with a
// display only; without one they are not shown).
void toolkit_install_shell_window();
