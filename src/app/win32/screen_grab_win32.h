#pragma once
// The still picture the region overlay freezes: a copy of part of the screen.
#include "app/picture.h"

// Copies `area` (screen coordinates, monitors at their desktop positions) of
// the desktop into `out`. False when the memory for it cannot be had; a copy
// the system refuses leaves the picture black.
bool grab_screen_area(const Rect& area, Picture* out);
