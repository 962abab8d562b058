#pragma once
// The dialogs the tray opens. The settings subsystem provides them; until a
// build has them these stay null and the tray shows their items disabled.
#include "settings/config.h"

// Settings on the live configuration: non-zero after OK.
inline int (*g_show_settings_dialog)(Config* config) = nullptr;
inline void (*g_show_donate_dialog)() = nullptr;
