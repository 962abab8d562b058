#pragma once
// The main window's handling of a running recording (main thread).

// Timer 1: wakes the audio worker for one tick.
void on_audio_timer();
// Timer 2: wakes the watchdog and checks the length limit (not while paused).
void on_watchdog_timer();
// Message 1026: stops the recording, once, if one runs.
void on_stop_request();
// Pause shortcut: pauses or resumes the running recording.
void toggle_pause();
// A sleep that could not be refused: the recording is stopped first.
void on_forced_sleep();

// Stops the running recording; then, unless a recording started from the
// outcome box has already put up its own frame and state, hides the main
// window (the region frame of a region recording) and shows the idle tray.
void stop_recording();

