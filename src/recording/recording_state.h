#pragma once
// State of the current recording. Recording start fills it, recording stop
// ends it; other threads read the atomic fields. Times are counter ticks.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "core/stop_trace_path.h"

struct Recording {
  std::atomic<uint32_t> active{0};
  // Set by recording start while the capture runs but the recording is not
  // active yet; a frame arriving then waits for the start to finish.
  std::atomic<uint32_t> starting{0};
  std::atomic<uint32_t> paused{0};
  std::atomic<int64_t> pause_start_qpc{0};   // counter value when the current pause began
  std::atomic<int64_t> paused_total_qpc{0};  // paused time of this recording
  std::atomic<int64_t> start_qpc{0};         // counter value at start; 0 between recordings

  std::string output_path;      // final ".mp4" name
  std::string temp_path;        // ".tmp.mp4" name written during the recording
  StopTracePath stop_trace_path;  // output_path + ".stoptrace.txt"; empty: none (set_stop_trace_for_output)

  // Held on temp_path from encoder set-up until the file has its final name,
  // so that recovery in another process never takes a live file for an
  // unfinished one.
  FileLock temp_lock;

  // Set when the encoder could not write / stopped making progress; read by
  // recording stop to choose its outcome.
  std::atomic<uint32_t> write_failed_stop{0};
  std::atomic<uint32_t> stall_stop{0};

  std::atomic<int64_t> next_heartbeat{0};   // when the watchdog's next heartbeat is due
  std::atomic<int64_t> last_frame_time{0};  // recording-clock time of the latest accepted frame
  std::atomic<int64_t> first_encoded_time{0};  // recording-clock time of the first frame the encoder took
  std::atomic<uint32_t> ticks_in_flight{0};  // stream ticks the watchdog is submitting
  // Recording-clock time at which the recording's content ends: the moment
  // the length limit was reached, else the stop. 0 while it runs on. No
  // picture or sound after it is written, however late the stop comes.
  std::atomic<int64_t> end_time{0};
  // Fixes end_time at t unless an earlier end is already fixed.
  void mark_end(int64_t t) {
    int64_t seen = end_time.load();
    while ((seen == 0 || t < seen) && !end_time.compare_exchange_weak(seen, t)) {
    }
  }

  // Pause accounting: a pause's length joins paused_total_qpc when it ends.
  void begin_pause(int64_t now) {
    pause_start_qpc.store(now);
    paused.store(1);
  }
  void end_pause(int64_t now) {
    paused_total_qpc.fetch_add(now - pause_start_qpc.load());
    pause_start_qpc.store(0);
    paused.store(0);
  }

  // Recording start: the recording's own fields for a recording that starts
  // at `now`, with its first heartbeat one second (`frequency` ticks) later.
  // Frame intake resets its group below itself (intake_reset).
  void begin(int64_t now, int64_t frequency) {
    write_failed_stop.exchange(0);
    stall_stop.exchange(0);
    ticks_in_flight.exchange(0);
    paused.store(0);
    pause_start_qpc.store(0);
    paused_total_qpc.store(0);
    end_time.store(0);
    start_qpc.store(now);
    next_heartbeat.store(now + frequency);
  }

  // Frame intake (reset by intake_reset at recording start).
  int64_t max_frame_gap = 0;     // largest step between consecutive intake times
  uint64_t callback_count = 0;   // frames seen while recording and not paused
  uint64_t callback_work_count = 0;
  int64_t callback_work_total = 0;
  int64_t callback_interval_total = 0;
  int64_t last_callback_enter = 0;
  std::atomic<uint32_t> frames_in_flight{0};
  std::atomic<uint32_t> submits_in_flight{0};  // frames and watchdog ticks; stop waits for 0
};
