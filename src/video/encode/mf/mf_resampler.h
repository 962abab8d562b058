#pragma once
// The audio transform over the system's resampler (the audio resampler DMO
// as a Media Foundation transform): the track's PCM from any float or PCM
// input. Null when the system has none.
#include <memory>

#include "video/encode/media_writer.h"

std::unique_ptr<AudioTransform> mf_create_resampler();
