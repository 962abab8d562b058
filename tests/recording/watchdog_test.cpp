#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "core/app_state.h"
#include "platform/clock.h"
#include "core/trace.h"
#include "recording/watchdog.h"
#include "support/temp_dir.h"
#include "video/encode/encoder.h"

namespace {
constexpr int64_t kSecond = kQpcFrequency;

std::atomic<int64_t> g_now{0};
int64_t manual_clock() { return g_now.load(); }
int g_stop_requests = 0;
}  // namespace

// The main window's stop request; counted here instead of posted.
void post_stop_request() { ++g_stop_requests; }

namespace {
class Watchdog : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    clock_set_source(manual_clock);
    g_now = 1000 * kSecond;
    g_stop_requests = 0;
    g_app.qpc_frequency = kSecond;
    g_app.config.WriteDiagnostics = 1;
    g_app.config.CaptureAudio = 0;
    set_run_trace_folder(dir_.path());
    encoder_init_process();
    g_app.encoder.accepting = 1;  // queue items without a worker taking them
    Recording& rec = g_app.recording;
    rec.active = 1;
    rec.start_qpc = g_now.load();
    rec.next_heartbeat = g_now + kSecond;
  }
  void TearDown() override {
    clock_set_source(nullptr);
    set_run_trace_folder("");
    g_app.encoder.accepting = 0;
  }

  std::string trace() const { return read_text(dir_.path() + "/frelvanta-runtrace.txt"); }
  int count_in_trace(const std::string& text) const {
    int n = 0;
    const std::string t = trace();
    for (size_t at = t.find(" " + text + "\r\n"); at != std::string::npos; at = t.find(" " + text + "\r\n", at + 1)) ++n;
    return n;
  }

  TempDir dir_;
};

TEST_F(Watchdog, HeartbeatOncePerSecond) {
  g_app.recording.last_frame_time = 1;  // recent frames: no stream ticks in this test
  for (int i = 0; i < 25; ++i) {        // 2.5 s of 100-ms ticks
    g_now += kSecond / 10;
    g_app.recording.last_frame_time = g_now.load();
    watchdog_tick();
  }
  EXPECT_EQ(count_in_trace("heartbeat.video_update"), 2);
  EXPECT_EQ(encoder_pending_count(), 0u);
}

// Stream ticks are queued while no frame came for a quarter of a second, and
// never while paused or after the recording ended.
TEST_F(Watchdog, StreamTicksOnAStillScreen) {
  struct Case {
    const char* what;
    int64_t last_frame_ago;  // ticks before now; -1: no frame yet
    bool paused, active;
    uint32_t queued;
  };
  const Case cases[] = {
      {"no frame yet", -1, false, true, 1},
      {"frame 249 ms ago", kSecond / 1000 * 249, false, true, 0},
      {"frame 250 ms ago", kSecond / 4, false, true, 1},
      {"paused", kSecond, true, true, 0},
      {"not recording", kSecond, false, false, 0},
  };
  for (const Case& c : cases) {
    g_app.encoder.video_queue = EncoderQueue{};
    Recording& rec = g_app.recording;
    rec.active = c.active ? 1 : 0;
    rec.paused = c.paused ? 1 : 0;
    rec.paused_total_qpc = 3 * kSecond;  // the recording clock leaves out paused time
    const int64_t clock = g_now - rec.paused_total_qpc;
    rec.last_frame_time = c.last_frame_ago < 0 ? 0 : clock - c.last_frame_ago;
    watchdog_tick();
    EXPECT_EQ(encoder_pending_count(), c.queued) << c.what;
    EXPECT_EQ(rec.ticks_in_flight.load(), 0u) << c.what;
    EXPECT_EQ(rec.submits_in_flight.load(), 0u) << c.what;
    if (c.queued) {
      const EncoderItem& item = g_app.encoder.video_queue.items[0];
      EXPECT_EQ(item.type, ENCODER_ITEM_TICK) << c.what;
      EXPECT_EQ(item.time, clock) << c.what;
      EXPECT_EQ(item.time_base, static_cast<uint64_t>(kSecond)) << c.what;
      EXPECT_EQ(g_app.encoder.time_base.load(), static_cast<uint64_t>(kSecond)) << c.what;
    }
  }
}

TEST_F(Watchdog, WriteFailureRequestsTheStopOnEveryTick) {
  g_app.encoder.write_failed = 1;
  for (int i = 0; i < 3; ++i) {
    g_now += kSecond / 10;
    watchdog_tick();
  }
  EXPECT_EQ(g_app.recording.write_failed_stop.load(), 1u);
  EXPECT_EQ(count_in_trace("encoder.write_failed"), 3);
  EXPECT_EQ(g_stop_requests, 3);
}

// A worker counts as stalled 8 s after the later of its last finished item
// and the moment work was queued for it; it is reported once.
TEST_F(Watchdog, StallAfterEightSecondsReportedOnce) {
  Encoder& enc = g_app.encoder;
  g_app.recording.last_frame_time = 1;
  enc.worker_running = 1;
  enc.time_base = kSecond;
  enc.stage = ENCODER_STAGE_FINALIZE;
  const int64_t t0 = g_now;
  enc.last_activity = t0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(encoder_enqueue(EncoderItem{ENCODER_ITEM_AUDIO, 0, 0, 0, nullptr, 0}));
  enc.queue_busy_since = t0 - 20 * kSecond;  // queued long ago; the finished item is later

  auto tick_at = [&](int64_t t) {
    g_now = t;
    g_app.recording.last_frame_time = t;  // frames keep coming: no stream ticks
    watchdog_tick();
  };
  tick_at(t0 + 8 * kSecond - kSecond / 10);
  EXPECT_EQ(g_stop_requests, 0);
  EXPECT_EQ(g_app.recording.stall_stop.load(), 0u);
  tick_at(t0 + 8 * kSecond);
  EXPECT_EQ(g_stop_requests, 1);
  EXPECT_EQ(g_app.recording.stall_stop.load(), 1u);
  EXPECT_EQ(count_in_trace("encoder.stalled stage=finalize queue=3"), 1);
  tick_at(t0 + 9 * kSecond);
  EXPECT_EQ(g_stop_requests, 1);
}

TEST_F(Watchdog, NoStallWithoutQueuedWorkOrAfterAPause) {
  Encoder& enc = g_app.encoder;
  enc.worker_running = 1;
  enc.time_base = kSecond;
  const int64_t t0 = g_now;
  enc.last_activity = t0;
  // Nothing queued: an idle worker is not stalled however long it idles.
  g_now = t0 + 60 * kSecond;
  g_app.recording.last_frame_time = g_now - 3 * kSecond;  // would tick; keep the queue empty
  g_app.recording.paused = 1;
  watchdog_tick();
  EXPECT_EQ(g_stop_requests, 0);

  // After a long pause the first work is queued for a worker idle for a
  // minute: measured from the queueing, not from its last item.
  g_app.recording.paused = 0;
  ASSERT_TRUE(encoder_enqueue(EncoderItem{ENCODER_ITEM_AUDIO, 0, 0, 0, nullptr, 0}));
  g_app.recording.last_frame_time = g_now.load();
  watchdog_tick();
  EXPECT_EQ(g_stop_requests, 0);
  g_now += 8 * kSecond;
  g_app.recording.last_frame_time = g_now.load();
  watchdog_tick();
  EXPECT_EQ(g_stop_requests, 1);
}

TEST(EncoderStageName, Table) {
  EXPECT_STREQ(encoder_stage_name(0), "idle");
  EXPECT_STREQ(encoder_stage_name(1), "video.write_sample");
  EXPECT_STREQ(encoder_stage_name(2), "video.stream_tick");
  EXPECT_STREQ(encoder_stage_name(3), "audio.process_input");
  EXPECT_STREQ(encoder_stage_name(9), "audio.flush");
  EXPECT_STREQ(encoder_stage_name(11), "finalize");
  EXPECT_STREQ(encoder_stage_name(7), "idle");
}
}  // namespace
