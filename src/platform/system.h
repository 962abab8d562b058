#pragma once
// What the running system offers.

// True when the system has what the recorder needs to run at all (the
// version gate of the original platform). Every supported Linux passes.
bool platform_supported();

// Termination requests (SIGINT, SIGTERM, SIGHUP): block them in every thread
// (call before any thread starts), then let one thread wait for them. Every
// request calls `on_request`; when it returns true the process ends at once
// (128 + the signal's number).
// Blocking also makes a broken pipe (SIGPIPE) an ordinary write error.
void block_termination_requests();
void watch_termination_requests(bool (*on_request)());

// This process's id, as other programs name it (kill, ps).
long current_process_id();
