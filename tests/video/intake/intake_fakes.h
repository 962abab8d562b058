#pragma once
// Recording stand-ins for the encoder, the audio rings and the main window,
// plus a manual clock, for frame-intake tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/image.h"
#include "support/temp_dir.h"

struct SubmittedFrame {
  int64_t time;
  Rect rect;
  int64_t time_base;
  uint32_t frames_in_flight;  // as seen during the call
  uint32_t submits_in_flight;
};

struct IntakeFakes {
  std::vector<SubmittedFrame> submitted;
  bool accept = true;            // encoder_submit_video's answer
  int refuse_every = 0;          // refuse every n-th frame when > 0
  int64_t work_ticks = 0;        // manual clock advance during a submission
  bool write_failed = false;
  bool stats_valid = false;
  uint64_t stats_bytes = 0;
  bool system_open = false, mic_open = false;
  uint32_t system_fill = 0, system_size = 0, mic_fill = 0, mic_size = 0;
  int stop_requests = 0;
  std::function<void()> during_submit;  // runs inside encoder_submit_video
};

extern IntakeFakes g_fakes;
extern int64_t g_manual_now;

// Resets the state block and the fakes, installs the manual clock and a run
// trace in a fresh folder, and starts an active recording.
class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The run trace's event texts, in order (counter values stripped).
  std::vector<std::string> trace_lines() const;
  // Number of trace events starting with `prefix`.
  int trace_count(const std::string& prefix) const;
  std::unique_ptr<TempDir> folder_;  // the run trace's, made for each test
};
