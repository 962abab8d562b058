#pragma once
// Functions of other subsystems that start-up calls. Each owner's header
// declares the same function; this file goes away once they have all landed.
#include <cstdint>

uint32_t watchdog_worker();  // recording/watchdog.h
