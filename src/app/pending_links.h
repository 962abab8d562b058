#pragma once
// Functions of other subsystems that the shell calls. Each owner's header
// declares the same function; this file goes away once they have all landed.

void end_countdown();  // the start countdown (interactive shell)
