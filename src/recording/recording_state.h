#pragma once
// State of the current recording. Recording start fills it, recording stop
// ends it; other threads read the atomic fields.
#include <atomic>
#include <cstdint>
#include <string>

struct Recording {
  std::atomic<uint32_t> active{0};
  std::atomic<uint32_t> paused{0};
  std::string output_path;     // final ".mp4" name
  std::string temp_path;       // ".tmp.mp4" name written during the recording
  std::string stop_trace_path; // output_path + ".stoptrace.txt"; empty: none
};
