#pragma once
// One audio capture stream with its ring of timed packets, and the mixer.
struct AudioCapture {};
struct AudioMixer {};
