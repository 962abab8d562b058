#pragma once
// The sound engine's format records and the core's WaveFormat.
#include <windows.h>
#include <mmreg.h>

#include "audio/audio_state.h"

// Any PCM or float format the engine reports (plain or extensible) in the
// core's extensible terms: the tag becomes WAVE_FORMAT_EXTENSIBLE, a plain
// format gets its bits as valid bits and the usual speaker mask for its
// channel count. False for what the core cannot carry (compressed formats,
// an extensible sub-format other than PCM and float).
bool wave_format_from_engine(const WAVEFORMATEX* in, WaveFormat* out);
// The core's format as the extensible record the engine takes.
WAVEFORMATEXTENSIBLE wave_format_to_engine(const WaveFormat& in);
