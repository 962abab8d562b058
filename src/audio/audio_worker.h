#pragma once
// The process-lifetime audio thread: one mixer tick per wake-up.

// Thread procedure; returns 0 once g_app.audio_quit is set.
int audio_worker();
