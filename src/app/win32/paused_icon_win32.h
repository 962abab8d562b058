#pragma once
#include <windows.h>

// The paused tray icon made from the recording icon, for an executable that
// ships none: two white bars with a black outline painted over a copy of
// its colour picture, the recording icon's mask kept. Null on failure.
HICON make_paused_icon_win32(HICON recording);
