#pragma once
// Process start-up and the shutdown half of the worker threads.
#include <string>
#include <vector>

// The whole process: start-up in its fixed order, the message loop, and the
// exit code (0 normal, 1 command-line error or no worker threads, 2 a
// command-line capture that did not start, 3 a command-line recording that
// did not end cleanly).
int app_main(const std::vector<std::string>& args);

// Steps of start-up, exposed for tests.
// Defaults, then the INI (migrating the older engine's file once). When the
// file stores no HardwareEncoder choice and `hardware_encoder_default` is
// given, it decides the default (a build without encoders passes none).
void load_configuration(bool (*hardware_encoder_default)() = nullptr);
// In-memory only; never saved.
void apply_command_line_overrides();
// Creates the wake events and the two process-lifetime threads; on failure
// releases whatever was created and returns false.
bool start_worker_threads();
// Signals both workers to quit and joins them; releases their events.
void stop_worker_threads();
