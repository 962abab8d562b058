#pragma once
#include <cstdint>

// True on Windows 10 from build `build` on, and on every later major version.
bool windows_10_build_at_least(uint32_t build);
