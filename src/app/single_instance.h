#pragma once
// One interactive instance per user session. The running instance owns an
// endpoint in the user's private runtime folder; a later interactive start
// finds it, sends the hand-over message (1025) and ends.
#include <string>

enum class InstanceClaim {
  OWNER,        // this process is the interactive instance
  HANDED_OVER,  // another instance runs and has been told
  UNAVAILABLE,  // the endpoint cannot be set up; run without the guard
};

// `folder`: where the endpoint lives (the user's runtime folder).
InstanceClaim claim_single_instance(const std::string& folder);
// Owner only: a thread that posts 1025 to the main window for every
// hand-over that arrives (including those sent before it started).
void listen_for_other_instances();
// Gives the endpoint up (tests; the process exit does it otherwise).
void release_single_instance();
