#pragma once
// Hands the settings subsystem's dialogs to the tray, with what the settings
// dialog needs from the layers above it.

// Installs the toolkit's dialog host, makes the tray's Settings and Donate entries
// (and the double click) open the dialogs, and gives the settings dialog the
// microphone list and application audio from the sound server, the global
// shortcuts (released during a key capture, registered again after it) and
// what this platform can capture. Interactive start-up, after the toolkit.
void install_settings_dialog_services();
