// Frame intake: gate, audio yield, submission bookkeeping, limits, pause.
#include <gtest/gtest.h>

#include <thread>

#include "core/app_state.h"
#include "platform/address_wait.h"
#include "platform/clock.h"
#include "support/thread_watch.h"
#include "support/wait.h"
#include "video/intake/frame_intake.h"
#include "video/intake/governor.h"
#include "video/intake/intake_fakes.h"

namespace {
constexpr int64_t kSecond = kQpcFrequency;

class FrameIntakeTest : public IntakeTest {
 protected:
  bool frame_at(int64_t time) {
    static const uint8_t pixels[16] = {};
    CapturedFrame f;
    f.texture = BgraImage{pixels, 2, 2, 8};
    f.time = time;
    f.content_rect = Rect{0, 0, 2, 2};
    f.content_width = 2;
    f.content_height = 2;
    return on_frame_arrived(&g_app.capture, &f);
  }
  // Delivers frames first..first+n-1 of a display refreshing at `hz` from
  // one second on; returns how many were submitted.
  size_t run_display(int first, int n, int hz) {
    size_t before = g_fakes.submitted.size();
    for (int64_t k = first; k < first + n; ++k) frame_at(kSecond + (k * kSecond + hz - 1) / hz);
    return g_fakes.submitted.size() - before;
  }
};

TEST_F(FrameIntakeTest, DisplayAt144WithCap60PassesFiveOfTwelve) {
  g_app.config.EnableAdaptiveGovernor = 0;
  FrameRate r = governor_rate_setup(true, 144, 1);
  EXPECT_EQ(r.num, 60u);
  EXPECT_EQ(g_app.governor.frame_limit_rate, 60u);
  EXPECT_EQ(run_display(0, 12, 144), 5u);
  // Over a whole second the gate keeps the cap.
  EXPECT_EQ(run_display(12, 132, 144), 55u);
  EXPECT_EQ(trace_count("encoder.rate_start 60"), 1);
}

TEST_F(FrameIntakeTest, DisplayAt60WithCap60SubmitsEveryFrame) {
  g_app.config.EnableAdaptiveGovernor = 0;
  governor_rate_setup(true, 60, 1);
  EXPECT_EQ(g_app.governor.frame_limit_rate, 0u);
  EXPECT_EQ(run_display(0, 60, 60), 60u);
  EXPECT_EQ(g_fakes.submitted[0].time_base, kQpcFrequency);
}

TEST_F(FrameIntakeTest, LateFramesCatchUpWithoutMovingTheSchedule) {
  g_app.config.EnableAdaptiveGovernor = 0;
  g_app.governor.frame_limit_rate = 10;
  frame_at(kSecond);                   // starts the schedule: next slot at +0.1 s
  frame_at(kSecond + 5 * kSecond / 10);  // late by four slots
  // The following frames pass until the schedule has caught up.
  frame_at(kSecond + 5 * kSecond / 10 + 1000);
  frame_at(kSecond + 5 * kSecond / 10 + 2000);
  frame_at(kSecond + 5 * kSecond / 10 + 3000);
  frame_at(kSecond + 5 * kSecond / 10 + 4000);
  frame_at(kSecond + 5 * kSecond / 10 + 5000);
  EXPECT_EQ(g_fakes.submitted.size(), 6u);
}

TEST_F(FrameIntakeTest, EncoderRefusalsStepTheGovernorDown) {
  Config& cfg = g_app.config;
  cfg.EnableAdaptiveGovernor = 1;
  cfg.MinAdaptiveFps = 15;
  governor_rate_setup(true, 60, 1);
  ASSERT_EQ(g_app.governor.governor_rate, 60u);
  g_fakes.refuse_every = 10;  // 10 % of frames refused
  run_display(0, 301, 60);
  EXPECT_EQ(g_app.governor.governor_rate, 54u);
  EXPECT_EQ(trace_count("encoder.governor rate=60 callbacks=301 encoded=301 gate=0 unexpected=0 drops=30 "), 1);
  // The new rate takes effect at the gate on the next frame.
  run_display(301, 1, 60);
  EXPECT_EQ(trace_count("encoder.rate_change 60->54"), 1);
  EXPECT_EQ(g_app.governor.gate_rate, 54u);
}

TEST_F(FrameIntakeTest, AudioPressureStopsSubmissionsAndClamps) {
  Config& cfg = g_app.config;
  cfg.EnableAdaptiveGovernor = 1;
  governor_rate_setup(true, 60, 1);
  g_fakes.system_open = true;
  g_fakes.system_size = 1000;
  g_fakes.system_fill = 800;
  EXPECT_EQ(run_display(0, 60, 60), 0u);
  EXPECT_EQ(g_app.governor.governor_rate, 5u);
  EXPECT_EQ(trace_count("encoder.audio_clamp 60->5 pressure=80"), 1);
  // Frames the gate let through but audio held back are not counted as drops.
  const Governor& g = g_app.governor;
  EXPECT_EQ(g.window_encoded, 0u);
  EXPECT_EQ(g.window_encode_drops, 0u);
  EXPECT_EQ(g.window_callbacks - g.window_gate_drops, 5u);
  g_fakes.system_fill = 100;
  EXPECT_GT(run_display(60, 60, 60), 0u);
}

TEST_F(FrameIntakeTest, IntakeTimeThatDoesNotAdvanceIsNotSubmitted) {
  g_app.config.EnableAdaptiveGovernor = 0;
  governor_rate_setup(true, 60, 1);  // no gate
  frame_at(kSecond);
  frame_at(kSecond);
  frame_at(kSecond - 1000);
  frame_at(kSecond + 1000);
  ASSERT_EQ(g_fakes.submitted.size(), 2u);
  EXPECT_EQ(g_fakes.submitted[1].time, kSecond + 1000);
  EXPECT_EQ(g_app.recording.callback_count, 4u);
}

TEST_F(FrameIntakeTest, SubmissionBookkeeping) {
  g_fakes.work_ticks = 7;
  frame_at(2 * kSecond);
  ASSERT_EQ(g_fakes.submitted.size(), 1u);
  const SubmittedFrame& s = g_fakes.submitted[0];
  EXPECT_EQ(s.frames_in_flight, 1u);
  EXPECT_EQ(s.submits_in_flight, 1u);
  const Recording& rec = g_app.recording;
  EXPECT_EQ(rec.frames_in_flight.load(), 0u);
  EXPECT_EQ(rec.submits_in_flight.load(), 0u);
  EXPECT_EQ(rec.first_encoded_time.load(), 2 * kSecond);
  EXPECT_EQ(rec.callback_work_count, 1u);
  EXPECT_EQ(rec.callback_work_total, 7);

  g_manual_now += 100;
  frame_at(2 * kSecond + kSecond / 4);
  EXPECT_EQ(rec.first_encoded_time.load(), 2 * kSecond);  // the first one stays
  EXPECT_EQ(rec.max_frame_gap, kSecond / 4);
  EXPECT_EQ(rec.callback_count, 2u);
  EXPECT_EQ(rec.callback_interval_total, 107);
}

// The stop waits on the count of submissions in flight; the submission that
// brings it to zero wakes it. A waiter asleep on the count while a frame is
// being submitted must be woken by that frame, not by its own time-out.
TEST_F(FrameIntakeTest, LastSubmissionWakesStopWaiter) {
  Recording& rec = g_app.recording;
  std::atomic<pid_t> waiter_id{0};
  std::atomic<bool> woken{false};
  std::thread waiter;
  g_fakes.during_submit = [&] {
    ASSERT_EQ(rec.submits_in_flight.load(), 1u);
    waiter = std::thread([&] {
      waiter_id = current_thread_id();
      // Far longer than the test may take: a missing wake-up shows as false.
      woken = address_wait(rec.submits_in_flight, 1u, 20000);
    });
    ASSERT_TRUE(wait_until([&] { return waiter_id.load() != 0; }));
    ASSERT_TRUE(ThreadWatch(waiter_id).wait_asleep());
  };
  frame_at(kSecond);
  ASSERT_TRUE(waiter.joinable());
  waiter.join();
  EXPECT_TRUE(woken.load()) << "the last submission did not wake the waiter";
  EXPECT_EQ(rec.submits_in_flight.load(), 0u);
  ASSERT_EQ(g_fakes.submitted.size(), 1u);

  // With a watchdog tick still under way the frame is not the last one: the
  // count stays above zero.
  g_fakes.during_submit = nullptr;
  rec.submits_in_flight = 1;
  frame_at(kSecond + 1000);
  EXPECT_EQ(g_fakes.submitted.back().submits_in_flight, 2u);
  EXPECT_EQ(rec.submits_in_flight.load(), 1u);
}

TEST_F(FrameIntakeTest, RefusedFirstFrameLeavesFirstEncodedTimeUnset) {
  g_fakes.accept = false;
  frame_at(kSecond);
  EXPECT_EQ(g_app.recording.first_encoded_time.load(), 0);
  g_fakes.accept = true;
  frame_at(kSecond + 100);
  EXPECT_EQ(g_app.recording.first_encoded_time.load(), kSecond + 100);
}

TEST_F(FrameIntakeTest, NullFrameRequestsStop) {
  g_app.recording.active = 0;  // reported even when no recording is running
  EXPECT_TRUE(on_frame_arrived(&g_app.capture, nullptr));
  EXPECT_EQ(g_fakes.stop_requests, 1);
  EXPECT_EQ(trace_count("frame.null"), 1);
}

TEST_F(FrameIntakeTest, WriteFailureRequestsStopEveryFrame) {
  g_fakes.write_failed = true;
  frame_at(kSecond);
  frame_at(kSecond + 1000);
  EXPECT_EQ(g_app.recording.write_failed_stop.load(), 1u);
  EXPECT_EQ(g_fakes.stop_requests, 2);
  EXPECT_EQ(trace_count("encoder.write_failed"), 2);
  EXPECT_EQ(g_fakes.submitted.size(), 2u);  // the frame call goes on
}

TEST_F(FrameIntakeTest, InactiveOrPausedFramesAreIgnored) {
  g_app.recording.active = 0;
  frame_at(kSecond);
  g_app.recording.active = 1;
  g_app.recording.paused = 1;
  frame_at(kSecond + 1000);
  EXPECT_TRUE(g_fakes.submitted.empty());
  EXPECT_EQ(g_app.recording.callback_count, 0u);
  EXPECT_EQ(g_app.recording.last_frame_time.load(), 0);
}

TEST_F(FrameIntakeTest, FirstFrameDuringRecordingStartWaitsInsteadOfBeingLost) {
  Recording& rec = g_app.recording;
  rec.active = 0;
  rec.starting = 1;
  std::thread start([&] {
    sleep_ms(30);
    rec.active = 1;
    rec.starting = 0;
  });
  frame_at(kSecond);
  start.join();
  EXPECT_EQ(g_fakes.submitted.size(), 1u);
  // A start that fails (capture did not come up) releases the waiting frame unsubmitted.
  rec.active = 0;
  rec.starting = 1;
  std::thread failed([&] {
    sleep_ms(10);
    rec.starting = 0;
  });
  frame_at(2 * kSecond);
  failed.join();
  EXPECT_EQ(g_fakes.submitted.size(), 1u);
}

TEST_F(FrameIntakeTest, PauseIsTakenOutOfIntakeTimes) {
  Recording& rec = g_app.recording;
  frame_at(10 * kSecond);
  rec.paused = 1;
  for (int k = 1; k <= 30; ++k) frame_at(10 * kSecond + k * kSecond / 10);
  EXPECT_EQ(rec.callback_count, 1u);
  rec.paused_total_qpc = 3 * kSecond;
  rec.paused = 0;
  frame_at(13 * kSecond + kSecond / 10);
  ASSERT_EQ(g_fakes.submitted.size(), 2u);
  EXPECT_EQ(g_fakes.submitted[1].time, 10 * kSecond + kSecond / 10);
  EXPECT_EQ(rec.callback_count, 2u);
  // A capture time inside the paused span cannot go below zero.
  frame_at(kSecond);
  EXPECT_EQ(rec.last_frame_time.load(), 0);
}

TEST_F(FrameIntakeTest, LengthLimitCountsFromFirstAcceptedFrame) {
  Config& cfg = g_app.config;
  cfg.EnableLimitLength = 1;
  cfg.LimitLength = 10;
  g_app.recording.start_qpc = 1 * kSecond;
  frame_at(3 * kSecond);  // first accepted frame
  frame_at(13 * kSecond - 1);
  EXPECT_EQ(g_fakes.stop_requests, 0);
  EXPECT_EQ(g_app.recording.end_time.load(), 0);
  frame_at(13 * kSecond + 50'000);
  EXPECT_EQ(g_fakes.stop_requests, 1);
  EXPECT_EQ(trace_count("frame.limit_stop"), 1);
  // The recording ends at the limit itself, not at the frame that found it.
  EXPECT_EQ(g_app.recording.end_time.load(), 13 * kSecond);
  // The work statistics of a stopping call are not recorded.
  EXPECT_EQ(g_app.recording.callback_work_count, 2u);
  const size_t submitted = g_fakes.submitted.size();
  frame_at(13 * kSecond + 200'000);
  EXPECT_EQ(g_fakes.stop_requests, 2);  // posted until the recording stops
  EXPECT_EQ(g_fakes.submitted.size(), submitted) << "a frame past the end was submitted";
}

TEST_F(FrameIntakeTest, LengthLimitCountsFromStartWithoutAcceptedFrame) {
  Config& cfg = g_app.config;
  cfg.EnableLimitLength = 1;
  cfg.LimitLength = 10;
  g_fakes.accept = false;
  g_app.recording.start_qpc = 1 * kSecond;
  frame_at(3 * kSecond);
  frame_at(11 * kSecond - 1);
  EXPECT_EQ(g_fakes.stop_requests, 0);
  frame_at(11 * kSecond);
  EXPECT_EQ(g_fakes.stop_requests, 1);
}

TEST_F(FrameIntakeTest, SizeLimitAtNinetyNineAndAHalfPercent) {
  Config& cfg = g_app.config;
  cfg.EnableLimitSize = 1;
  cfg.LimitSize = 100;
  g_fakes.stats_valid = true;
  g_fakes.stats_bytes = 104333311;
  frame_at(kSecond);
  EXPECT_EQ(g_fakes.stop_requests, 0);
  g_fakes.stats_bytes = 104333312;
  frame_at(kSecond + 1000);
  EXPECT_EQ(g_fakes.stop_requests, 1);
  // Statistics that are not valid count as nothing written.
  g_fakes.stats_valid = false;
  frame_at(kSecond + 2000);
  EXPECT_EQ(g_fakes.stop_requests, 1);
  // A disabled limit is no limit.
  cfg.EnableLimitSize = 0;
  g_fakes.stats_valid = true;
  frame_at(kSecond + 3000);
  EXPECT_EQ(g_fakes.stop_requests, 1);
}

TEST_F(FrameIntakeTest, ResetClearsPerRecordingState) {
  frame_at(kSecond);
  g_app.governor.gate_rate = 30;
  g_app.governor.window_callbacks = 4;
  intake_reset();
  const Recording& rec = g_app.recording;
  EXPECT_EQ(rec.last_frame_time.load(), 0);
  EXPECT_EQ(rec.first_encoded_time.load(), 0);
  EXPECT_EQ(rec.callback_count, 0u);
  EXPECT_EQ(rec.callback_work_count, 0u);
  EXPECT_EQ(g_app.governor.gate_rate, 0u);
  EXPECT_EQ(g_app.governor.window_callbacks, 0u);
}
}  // namespace
