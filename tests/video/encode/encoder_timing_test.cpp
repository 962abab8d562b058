// The worker's timing, pool and queue rules, driven through the recording
// fake writer with a manual clock.
#include <fstream>
#include <sstream>

#include "encoder_unit_fixture.h"
#include "core/trace.h"
#include "video/convert/cpu_converter.h"

namespace {

using Timing = EncoderUnitTest;

// The writer blocked and the worker inside it with the first picture of the
// file: the worker holds the first picture until the second comes, so two
// go in, the second taken from the queue and waiting for the write.
void block_writer_in_first_picture(const ScreenPicture& pic, int64_t t0) {
  encoder_test_block_writer(true);
  const Rect all{0, 0, pic.width, pic.height};
  ASSERT_TRUE(encoder_submit_video(pic.image(), all, t0 - kF60, kTick));
  ASSERT_TRUE(encoder_submit_video(pic.image(), all, t0, kTick));
  ASSERT_TRUE(wait_until([] { return g_app.encoder.stage.load() == ENCODER_STAGE_VIDEO_WRITE; }));
}

// The writer held in the first picture, the second waiting and three more
// queued behind them, and `audio_blocks` blocks of 10 ms of sound waiting
// too. `pic` stays the caller's: the queue refers to it.
void queue_behind_held_writer(const ScreenPicture& pic, int audio_blocks) {
  ASSERT_NO_FATAL_FAILURE(block_writer_in_first_picture(pic, kTick));
  const Rect all{0, 0, pic.width, pic.height};
  for (int k = 1; k <= 3; ++k) ASSERT_TRUE(encoder_submit_video(pic.image(), all, kTick + k * kF60, kTick));
  std::vector<float> block(480 * 2, 0.0f);
  for (int k = 0; k < audio_blocks; ++k)
    ASSERT_TRUE(encoder_submit_audio(block.data(), 480, kTick + k * kTick / 100, kTick));
}

std::vector<int64_t> times(const std::vector<FakeCall>& calls) {
  std::vector<int64_t> out;
  for (const auto& c : calls) out.push_back(c.time);
  return out;
}

TEST_F(Timing, SixtyFpsFramesAreStampedFromTheFirstFrame) {
  ASSERT_TRUE(setup_default());
  const int64_t t0 = 5 * kTick;
  for (int k = 0; k < 4; ++k) write_frame(t0 + k * kF60);
  const auto video = fake.of("video");
  ASSERT_EQ(video.size(), 4u);
  EXPECT_EQ(g_app.encoder.first_video_time.load(), t0);
  EXPECT_EQ(times(video), (std::vector<int64_t>{0, 166'667, 333'334, 500'001}));
  for (const auto& c : video) EXPECT_EQ(c.duration, 166'666);  // truncated, not rounded
  EXPECT_EQ(g_app.encoder.has_video_sample.load(), 1u);
  EXPECT_EQ(g_app.encoder.last_video_time.load(), t0 + 3 * kF60);
}

// The first picture waits for the second: the file's time zero goes a whole
// number of frame lengths before it, so a capture whose steady run only
// starts some way after the first picture (the capture thread was busy with
// the start) has one interval length from the first picture on; the first
// picture fills the slots up to the second. A gap of whole frame lengths
// (content at 30 per second) gets no fill; a still screen (a tick comes
// first) or a gap of a second or more leaves the first picture its time.
TEST_F(Timing, FirstPictureLinesUpWithTheSteadyRunAfterIt) {
  const int64_t t0 = 5 * kTick;
  const int64_t late = t0 + 727'477;  // 4.36 frames after the first
  const int64_t four = 666'667;       // four frame lengths, rounded up
  const struct {
    const char* name;
    bool constant;
    std::vector<int64_t> frames;
    int64_t zero;
    std::vector<std::string> shown;  // one per frame slot from the zero
  } cases[] = {
      {"steady", false, {t0, t0 + kF60, t0 + 2 * kF60}, t0, {"video", "video", "video"}},
      {"30 per second: two frame lengths stay", false, {t0, t0 + 333'334, t0 + 666'667}, t0,
       {"video", "video", "video"}},
      {"steady run starts late", false, {t0, late, late + kF60, late + 2 * kF60}, late - four,
       {"video", "tick", "tick", "tick", "video", "video", "video"}},
      {"steady run starts late, constant rate", true, {t0, late, late + kF60}, late - four,
       {"video", "tick", "tick", "tick", "video", "video"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_app.config.ConstantFrameRate = c.constant ? 1 : 0;
    ASSERT_TRUE(setup_default());
    for (int64_t f : c.frames) write_frame(f);
    EXPECT_EQ(g_app.encoder.first_video_time.load(), c.zero);
    std::vector<std::string> ops;
    std::vector<int64_t> at;
    for (const auto& call : fake.calls) {
      if (call.op != "video" && call.op != "tick") continue;
      ops.push_back(call.op);
      at.push_back(call.time);
    }
    EXPECT_EQ(ops, c.shown);
    ASSERT_GE(at.size(), 2u);
    EXPECT_EQ(at[0], 0);
    const int64_t step = at[1];  // one frame length, or two at 30 per second
    for (size_t n = 1; n < at.size(); ++n) EXPECT_NEAR(at[n] - at[n - 1], step, 1) << n;
    ASSERT_TRUE(stop());
    fake.calls.clear();
  }
  g_app.config.ConstantFrameRate = 0;
  // A still screen: the watchdog's tick writes the first picture at its time.
  ASSERT_TRUE(setup_default());
  write_frame(t0);
  tick(t0 + 3 * kTick / 10);
  EXPECT_EQ(g_app.encoder.first_video_time.load(), t0);
  EXPECT_EQ(times(fake.of("video")), (std::vector<int64_t>{0}));
  ASSERT_TRUE(stop());
  fake.calls.clear();
  // A second or more after the first picture is a real gap.
  ASSERT_TRUE(setup_default());
  write_frame(t0);
  write_frame(t0 + 2 * kTick);
  EXPECT_EQ(g_app.encoder.first_video_time.load(), t0);
  EXPECT_EQ(times(fake.of("video")), (std::vector<int64_t>{0, 2 * kTick}));
  EXPECT_EQ(fake.count("tick"), 0u);
  EXPECT_EQ(fake.of("video")[1].discontinuity, 1u);
}

// Sound that came while the first picture waited is written after it, from
// the time zero on: what lies before the zero is cut, not moved to it.
TEST_F(Timing, SoundBeforeTheTimeZeroIsCut) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  const int64_t t0 = 5 * kTick;
  write_frame(t0);
  audio_block(480, t0);                // 10 ms from the first picture on
  audio_block(480, t0 + kTick / 100);  // the next 10 ms
  EXPECT_EQ(fake.count("input"), 0u) << "waits for the time zero";
  write_frame(t0 + 727'477);           // zero 60'810 after the first picture
  const int64_t zero = t0 + 727'477 - 666'667;
  ASSERT_EQ(g_app.encoder.first_video_time.load(), zero);
  const auto input = fake.of("input");
  ASSERT_EQ(input.size(), 2u);
  const uint32_t cut = 292;  // ceil(6.081 ms x 48 kHz)
  EXPECT_EQ(input[0].time, 0);
  EXPECT_EQ(input[0].length, (480 - cut) * g_app.encoder.audio_block_align);
  EXPECT_EQ(input[1].time, t0 + kTick / 100 - zero);
  EXPECT_EQ(input[1].length, 480 * g_app.encoder.audio_block_align);
  EXPECT_EQ(fake.calls.front().op, "video") << "the picture before its sound";
}

TEST_F(Timing, FramesAfterAShortFreezeCatchUpFourFramesAtATime) {
  ASSERT_TRUE(setup_default());
  const int64_t t0 = 5 * kTick;
  write_frame(t0);
  write_frame(t0 + kF60);
  // Half a second without frames, then frames at the normal rate again.
  const int64_t resume = t0 + kF60 + kTick / 2;
  for (int k = 0; k < 60; ++k) write_frame(resume + k * kF60);
  const auto stamps = times(fake.of("video"));
  ASSERT_EQ(stamps.size(), 62u);
  EXPECT_EQ(stamps[2] - stamps[1], 4 * kF60);  // about 66.7 ms after the previous frame
  EXPECT_EQ(stamps[3] - stamps[2], 4 * kF60);
  // Once caught up, every frame keeps its real time.
  EXPECT_EQ(stamps.back(), resume + 59 * kF60 - t0);
  // Never more than four frames after the previous stamp, never ahead of
  // the real time.
  for (size_t k = 2; k < stamps.size(); ++k) {
    EXPECT_LE(stamps[k] - stamps[k - 1], 4 * kF60) << k;
    EXPECT_LE(stamps[k], resume + static_cast<int64_t>(k - 2) * kF60 - t0) << k;
  }
}

// A second or more without frames (the process stood still): the frames
// after it keep their own times at once, at the full or a lowered rate, and
// the first of them follows a gap.
TEST_F(Timing, FramesAfterAStallKeepTheirTimes) {
  const struct {
    const char* name;
    int64_t step;  // interval of the frames before and after
    int64_t stall;
  } cases[] = {
      {"60 per second, 2 s", kF60, 2 * kTick},
      {"60 per second, 1 s", kF60, kTick},
      {"5 per second (the audio clamp), 10 s", kTick / 5, 10 * kTick},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(setup_default());
    const int64_t t0 = 5 * kTick;
    for (int k = 0; k < 5; ++k) write_frame(t0 + k * c.step);
    const int64_t resume = t0 + 4 * c.step + c.stall;
    for (int k = 0; k < 10; ++k) write_frame(resume + k * c.step);
    const auto video = fake.of("video");
    ASSERT_EQ(video.size(), 15u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(video[5 + k].time, resume + k * c.step - t0) << k;
    EXPECT_EQ(video[5].discontinuity, 1u);
    EXPECT_EQ(video[6].discontinuity, 0u);
    ASSERT_TRUE(stop());
    fake.calls.clear();
  }
}

// ConstantFrameRate: every slot from the first picture on gets one picture,
// the last one again where none came (a still screen, missing frames, a
// stall, a lowered rate), each exactly on its slot; a second picture for a
// slot already filled is let go.
TEST_F(Timing, ConstantFrameRateFillsEverySlot) {
  g_app.config.ConstantFrameRate = 1;
  ASSERT_TRUE(setup_default());
  const int64_t t0 = 5 * kTick;
  write_frame(t0);
  write_frame(t0 + kF60 + 20'000);       // 2 ms late: slot 1
  write_frame(t0 + 4 * kF60);            // slots 2 and 3 repeat slot 1
  write_frame(t0 + 4 * kF60 + 30'000);   // slot 4 again: let go
  tick(t0 + 10 * kF60 + 50'000);         // a still screen: slots 5 to 10 repeat
  write_frame(t0 + 2 * kTick + 5'000);   // after a stall: slot 120
  for (int k = 1; k <= 5; ++k) write_frame(t0 + 2 * kTick + k * kTick / 5);  // 5 per second
  std::vector<std::pair<int64_t, std::string>> shown;
  for (const auto& c : fake.calls) {
    if (c.op == "video" || c.op == "tick") shown.emplace_back(c.time, c.op);
  }
  ASSERT_EQ(shown.size(), 181u);  // slots 0 to 180
  for (size_t n = 0; n < shown.size(); ++n) {
    EXPECT_EQ(shown[n].first, static_cast<int64_t>(n) * kTick / 60) << n;  // exact, never drifting
  }
  EXPECT_EQ(shown[1].second, "video");
  EXPECT_EQ(shown[2].second, "tick");
  EXPECT_EQ(shown[4].second, "video");
  EXPECT_EQ(shown[10].second, "tick");
  EXPECT_EQ(shown[120].second, "video");
  EXPECT_EQ(shown[180].second, "video");
  EXPECT_EQ(fake.of("video").size(), 9u);
  EXPECT_EQ(g_app.encoder.video_free.load(), 0xFFu) << "every picture went back to the pool";
}

TEST_F(Timing, StreamTicksOnAStillScreen) {
  struct Case {
    const char* name;
    std::vector<int64_t> items;  // tick items, counter ticks after the last frame
    std::vector<int64_t> ticks;  // stream ticks sent, 100-ns units from the first frame
    uint64_t duplicates, long_ticks;
    uint32_t discontinuity;
  };
  const Case cases[] = {
      {"300 ms", {3'000'000}, {16 * kF60}, 1, 0, 0},
      {"300 then 400 ms", {3'000'000, 4'000'000}, {16 * kF60, 4'000'000}, 2, 0, 0},
      // Short gap first (+266.7 ms), then the rest is over a second: one step of
      // four frames (+333.3 ms) and a discontinuity on the next frame.
      {"2 s", {20'000'000}, {16 * kF60, 20 * kF60}, 1, 1, 1},
      {"under one frame", {kF60 - 1}, {}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(setup_default());
    const int64_t t0 = 7 * kTick;
    write_frame(t0);
    for (int64_t at : c.items) tick(t0 + at);
    EXPECT_EQ(times(fake.of("tick")), c.ticks);
    EXPECT_EQ(g_app.encoder.video_duplicate_frames.load(), c.duplicates);
    EXPECT_EQ(g_app.encoder.video_stream_ticks.load(), c.long_ticks);
    EXPECT_EQ(g_app.encoder.discontinuity_pending.load(), c.discontinuity);
    EXPECT_EQ(g_app.encoder.stage.load(), static_cast<uint32_t>(ENCODER_STAGE_STREAM_TICK));
    ASSERT_TRUE(stop());
    fake.calls.clear();
  }
}

TEST_F(Timing, NoTickBeforeTheFirstFrameOrAfterOnlyFailedWrites) {
  ASSERT_TRUE(setup_default());
  tick(9 * kTick);
  EXPECT_EQ(fake.count("tick"), 0u);
  // A failed first write fixes the start but shows no picture: still nothing
  // to repeat, and the long-gap rule never passes.
  fake.video_write = MEDIA_E_FAIL;
  write_frame(10 * kTick);  // held until the next item
  tick(20 * kTick);
  EXPECT_EQ(g_app.encoder.write_failed.load(), 1u);
  EXPECT_EQ(g_app.encoder.video_free.load(), 0xFFu);  // the sample went back
  EXPECT_EQ(fake.count("tick"), 0u);
  EXPECT_EQ(g_app.encoder.video_stream_ticks.load(), 0u);
  // The worker goes on with later items.
  fake.video_write = 0;
  write_frame(21 * kTick);
  EXPECT_EQ(g_app.encoder.has_video_sample.load(), 1u);
  EXPECT_EQ(fake.of("video").back().time, 11 * kTick);
}

TEST_F(Timing, NinthFrameIsDroppedAndTheNextWriteAloneIsDiscontinuous) {
  fake.hold_video = true;  // the writer keeps every picture: eight in flight
  ASSERT_TRUE(setup_default());
  ScreenPicture pic(1280, 720);
  const Rect all{0, 0, 1280, 720};
  for (int k = 0; k < 8; ++k) ASSERT_TRUE(encoder_submit_video(pic.image(), all, kTick + k * kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 8; }));
  EXPECT_EQ(g_app.encoder.video_free.load(), 0u);

  EXPECT_FALSE(encoder_submit_video(pic.image(), all, kTick + 8 * kF60, kTick));
  EXPECT_EQ(g_app.encoder.video_sample_wait_failures.load(), 1u);

  fake.release_held(1);  // the writer lets go of one picture
  EXPECT_NE(g_app.encoder.video_free.load(), 0u);
  ASSERT_TRUE(encoder_submit_video(pic.image(), all, kTick + 9 * kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 9; }));
  fake.release_held(1);
  ASSERT_TRUE(encoder_submit_video(pic.image(), all, kTick + 10 * kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 10; }));

  const auto video = fake.of("video");
  for (int k = 0; k < 8; ++k) EXPECT_EQ(video[k].discontinuity, 0u) << k;
  EXPECT_EQ(video[8].discontinuity, 1u);
  EXPECT_EQ(video[9].discontinuity, 0u);
  // Finalisation hands every held picture back before the pool goes away.
  ASSERT_TRUE(stop());
  EXPECT_TRUE(fake.held.empty());
}

TEST_F(Timing, FullQueuesRefuseAndGiveBackWhatTheyWereHanded) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  encoder_test_block_writer(true);
  ScreenPicture pic(64, 64);
  ASSERT_NO_FATAL_FAILURE(block_writer_in_first_picture(pic, kTick));

  for (uint32_t k = 0; k < kEncoderQueueSize; ++k) {
    ASSERT_TRUE(encoder_enqueue({ENCODER_ITEM_TICK, 0, 2 * kTick, kTick, nullptr, 0})) << k;
  }
  EXPECT_FALSE(encoder_enqueue({ENCODER_ITEM_TICK, 0, 2 * kTick, kTick, nullptr, 0}));
  const uint32_t free_before = g_app.encoder.video_free.load();
  EXPECT_FALSE(encoder_submit_video(pic.image(), {0, 0, 64, 64}, 3 * kTick, kTick));
  EXPECT_EQ(g_app.encoder.video_free.load(), free_before);
  EXPECT_EQ(g_app.encoder.discontinuity_pending.load(), 1u);

  std::vector<float> block(480 * 2, 0.0f);
  for (uint32_t k = 0; k < kEncoderQueueSize; ++k) ASSERT_TRUE(encoder_submit_audio(block.data(), 480, kTick, kTick));
  EXPECT_FALSE(encoder_submit_audio(block.data(), 480, kTick, kTick));
  EXPECT_EQ(encoder_pending_count(), 2 * kEncoderQueueSize);

  // Zero frames: nothing to queue, and not a refusal.
  EXPECT_TRUE(encoder_submit_audio(nullptr, 0, kTick, 12345));
  EXPECT_EQ(g_app.encoder.time_base.load(), 12345u);
  EXPECT_EQ(encoder_pending_count(), 2 * kEncoderQueueSize);

  encoder_request_stop();
  EXPECT_FALSE(encoder_enqueue({ENCODER_ITEM_TICK, 0, 2 * kTick, kTick, nullptr, 0}));  // not accepting
  encoder_test_block_writer(false);
  EXPECT_TRUE(encoder_wait_worker(5000));
}

TEST_F(Timing, ResamplerRefusingTwiceDropsOneBlockOnly) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  write_frame(kTick);
  write_frame(kTick + kF60);
  fake.input_script = {MEDIA_E_NOTACCEPTING, MEDIA_E_NOTACCEPTING};
  audio_block(480, kTick);
  EXPECT_EQ(g_app.encoder.audio_backpressure_events.load(), 2u);
  EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 1u);
  EXPECT_EQ(fake.count("input"), 2u);
  EXPECT_EQ(fake.count("audio"), 0u);

  audio_block(480, kTick + kTick / 100);
  EXPECT_EQ(g_app.encoder.audio_backpressure_events.load(), 2u);
  EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 1u);
  EXPECT_EQ(fake.count("audio"), 1u);
  EXPECT_EQ(g_app.encoder.audio_free.load(), 0xFFFFu);  // the written sample came back

  // One refusal: drained, retried, written.
  fake.input_script = {MEDIA_E_NOTACCEPTING};
  audio_block(480, kTick + 2 * kTick / 100);
  EXPECT_EQ(g_app.encoder.audio_backpressure_events.load(), 3u);
  EXPECT_EQ(g_app.encoder.encoder_audio_dropped.load(), 1u);
  EXPECT_EQ(fake.count("audio"), 2u);
}

TEST_F(Timing, AudioBlocksNeverOverlap) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  const int64_t t0 = 3 * kTick;
  write_frame(t0);
  write_frame(t0 + kF60);
  audio_block(480, t0);                  // 10 ms at 48 kHz
  audio_block(480, t0 + kTick / 200);    // starts 5 ms in: moved to the end of the first
  audio_block(480, t0 + kTick);          // a gap stays a gap
  audio_block(480, t0 - kTick);          // before the file's time zero: cut
  EXPECT_EQ(times(fake.of("input")), (std::vector<int64_t>{0, 100'000, 10'000'000}));
  EXPECT_EQ(g_app.encoder.audio_end_time.load(), 10'100'000);
}

TEST_F(Timing, StatisticsAtMostTwiceASecondAfterVideoWrites) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  write_frame(kTick);
  write_frame(kTick + kF60);
  EXPECT_EQ(g_app.encoder.stats_valid.load(), 1u);
  EXPECT_EQ(g_app.encoder.stats_bytes.load(), 1010u);  // both tracks
  EXPECT_EQ(fake.stats_calls, 2);
  g_manual_now += kTick / 2 - 1;
  write_frame(kTick + 2 * kF60);
  tick(kTick + kTick);
  EXPECT_EQ(fake.stats_calls, 2);
  g_manual_now += 1;
  write_frame(kTick + 3 * kF60);
  EXPECT_EQ(fake.stats_calls, 4);
}

TEST_F(Timing, StopWritesQueuedVideoAndFreesQueuedAudio) {
  g_app.config.WriteDiagnostics = 1;
  set_run_trace_folder(dir.path());
  ASSERT_TRUE(setup_default(/*audio=*/true));
  ScreenPicture pic(1280, 720);
  ASSERT_NO_FATAL_FAILURE(queue_behind_held_writer(pic, 10));

  encoder_request_stop();
  encoder_test_block_writer(false);
  ASSERT_TRUE(encoder_wait_worker(5000));
  EXPECT_EQ(fake.count("video"), 5u);
  EXPECT_EQ(fake.count("input"), 0u);
  EXPECT_EQ(fake.count("finalize"), 1u);
  EXPECT_EQ(g_app.encoder.finalize_ok.load(), 1u);
  EXPECT_EQ(g_app.encoder.worker_done.load(), 1u);
  EXPECT_EQ(g_app.encoder.stage.load(), static_cast<uint32_t>(ENCODER_STAGE_IDLE));
  EXPECT_FALSE(g_app.encoder.writer);
  EXPECT_FALSE(encoder_has_worker());

  std::ifstream in(run_trace_path());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("stop.audio_dropped_to_finalize=10\r\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("encoder.worker_started tid="), std::string::npos);
  set_run_trace_folder("");
}

// A slow picture encoder must not hold the sound back: audio waiting behind a
// queue of pictures is written after the picture in progress, not after the
// whole queue.
TEST_F(Timing, WaitingAudioIsWrittenAfterOnePictureNotAfterTheQueue) {
  ASSERT_TRUE(setup_default(/*audio=*/true));
  ScreenPicture pic(1280, 720);
  ASSERT_NO_FATAL_FAILURE(queue_behind_held_writer(pic, 3));
  encoder_test_block_writer(false);
  ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }));
  ASSERT_TRUE(stop());

  std::vector<std::string> order;
  for (const auto& c : fake.calls)
    if (c.op == "video" || c.op == "input") order.push_back(c.op);
  // The first picture waited for the second, which came with it.
  EXPECT_EQ(order,
            (std::vector<std::string>{"video", "video", "input", "input", "input", "video", "video", "video"}));
}

TEST_F(Timing, FinalizeFailureIsReported) {
  fake.finalize_result = MEDIA_E_FAIL;
  ASSERT_TRUE(setup_default());
  ASSERT_TRUE(stop());
  EXPECT_EQ(g_app.encoder.finalize_ok.load(), 0u);
  EXPECT_EQ(g_app.encoder.worker_done.load(), 1u);
}

TEST_F(Timing, ABlockedWriterFreezesStageAndLastActivity) {
  ASSERT_TRUE(setup_default());
  ScreenPicture pic(64, 64);
  ASSERT_NO_FATAL_FAILURE(block_writer_in_first_picture(pic, kTick));
  const int64_t activity = g_app.encoder.last_activity.load();

  // The worker stays inside the held write (it has no other thread to take
  // the tick with), so what a watchdog sees must not move until it returns.
  g_manual_now += 9 * kTick;
  ASSERT_TRUE(encoder_enqueue({ENCODER_ITEM_TICK, 0, 2 * kTick, kTick, nullptr, 0}));
  EXPECT_EQ(g_app.encoder.stage.load(), static_cast<uint32_t>(ENCODER_STAGE_VIDEO_WRITE));
  EXPECT_EQ(g_app.encoder.last_activity.load(), activity);
  EXPECT_EQ(encoder_pending_count(), 1u);
  // The queue went from empty to busy while the worker was stuck.
  EXPECT_EQ(g_app.encoder.queue_busy_since.load(), g_manual_now.load());
  EXPECT_EQ(fake.count("video"), 0u) << "the held write returned";
  EXPECT_EQ(fake.count("tick"), 0u) << "the tick was taken while the write was held";

  encoder_test_block_writer(false);
  ASSERT_TRUE(wait_until([] { return encoder_pending_count() == 0; }));
  ASSERT_TRUE(wait_until([] { return g_app.encoder.last_activity.load() == g_manual_now.load(); }));
  // The tick went out after the picture whose write held it up.
  std::vector<std::string> order;
  {
    std::lock_guard<std::mutex> g(fake.m);
    for (const FakeCall& c : fake.calls) order.push_back(c.op);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"video", "video", "tick"}));
}

// A picture smaller than the recorded area sits top-left on black; a larger
// one is cut at the recorded size.
TEST_F(Timing, ContentRectangleIsCopiedClearedAndClipped) {
  fake.hold_video = true;
  ASSERT_TRUE(setup(config(1280, 720)));
  auto luma = [](const MediaSample* s, int x, int y) { return s->data[0][static_cast<size_t>(y) * s->linesize[0] + x]; };

  ScreenPicture shrunk(1300, 760);
  shrunk.fill(0, 0, 0xFF);                       // red outside the content
  shrunk.rect(8, 31, 1000, 700, 0xFF, 0xFF, 0xFF);  // the window, white
  ASSERT_TRUE(encoder_submit_video(shrunk.image(), {8, 31, 1008, 731}, kTick, kTick));
  ASSERT_TRUE(encoder_submit_video(shrunk.image(), {8, 31, 1008, 731}, kTick + kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 2; }));
  const MediaSample* s = fake.last_video;
  EXPECT_NEAR(luma(s, 10, 10), 235, 2);
  EXPECT_NEAR(luma(s, 990, 690), 235, 2);
  EXPECT_NEAR(luma(s, 1100, 100), 16, 2);
  EXPECT_NEAR(luma(s, 100, 715), 16, 2);

  ScreenPicture grown(1400, 800);
  grown.fill(0, 0, 0);
  grown.rect(0, 0, 1280, 720, 0xFF, 0xFF, 0xFF);
  ASSERT_TRUE(encoder_submit_video(grown.image(), {0, 0, 1400, 800}, kTick + 2 * kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 3; }));
  s = fake.last_video;
  EXPECT_NEAR(luma(s, 0, 0), 235, 2);
  EXPECT_NEAR(luma(s, 1279, 719), 235, 2);
  EXPECT_NEAR(luma(s, 1100, 100), 235, 2);

  // A rectangle outside the picture it points into is kept inside it.
  ASSERT_TRUE(encoder_submit_video(grown.image(), {-50, -50, 5000, 5000}, kTick + 3 * kF60, kTick));
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 4; }));
}

// A device's converter stand-in: the CPU stages behind the seam, counting
// what frame submission asks of it. It has no device, so it refuses a
// picture on one and the frame must come from memory.
class StandInDeviceConverter final : public VideoConverter {
 public:
  explicit StandInDeviceConverter(ComputeContext& context) : cpu_(context) {}
  bool create(const ConverterSetup& s) override { return cpu_.create(s); }
  void clear_input() override {
    ++clears;
    cpu_.clear_input();
  }
  void load_input(const BgraImage& image, Rect box) override {
    ++memory_loads;
    cpu_.load_input(image, box);
  }
  bool load_input(const GpuPicture& picture, Rect) override {
    device_offers += picture.texture != nullptr;
    return false;
  }
  void convert(uint32_t index) override {
    converted.push_back(index);
    cpu_.convert(index);
  }
  bool read_surface(uint32_t index, SurfaceSet& out) override {
    ++reads;
    return cpu_.read_surface(index, out);
  }
  GpuPicture device_surface(uint32_t) const override { return {}; }

  int clears = 0, memory_loads = 0, device_offers = 0, reads = 0;
  std::vector<uint32_t> converted;

 private:
  CpuVideoConverter cpu_;
};

// With a device's converter, frames on the device go through it: the
// picture offered on the device first, from memory when refused, cleared
// before a smaller content, converted into the claimed sample's surface and
// read back into the picture the writer gets. A frame only in memory goes
// through the CPU stages instead (no upload and read-back for nothing).
TEST_F(Timing, DeviceConverterTakesTheFramesAndFillsTheSamples) {
  fake.hold_video = true;
  ASSERT_TRUE(setup(config(1280, 720)));
  Encoder& e = g_app.encoder;
  ComputeContext context(1);
  auto standin = std::make_unique<StandInDeviceConverter>(context);
  ConverterSetup cs;
  cs.in_width = 1280, cs.in_height = 720, cs.out_width = e.output_width, cs.out_height = e.output_height;
  cs.gamma = e.resize.gamma, cs.hd_color = e.convert.hd_color, cs.improved = e.convert.improved;
  cs.format = e.surfaces[0].format, cs.layout = e.surfaces[0].layout, cs.surfaces = kVideoPoolSize;
  ASSERT_TRUE(standin->create(cs));
  StandInDeviceConverter& c = *standin;
  e.device_converter = std::move(standin);
  // The CPU stages' own input must not be what the samples show.
  ScreenPicture red(1280, 720);
  red.fill(0, 0, 0xFF);
  copy_to_texture(e.resize.input_texture, red.image(), Rect{0, 0, 1280, 720});

  auto luma = [](const MediaSample* s, int x, int y) { return s->data[0][static_cast<size_t>(y) * s->linesize[0] + x]; };
  ScreenPicture shrunk(1300, 760);
  shrunk.fill(0, 0, 0xFF);
  shrunk.rect(8, 31, 1000, 700, 0xFF, 0xFF, 0xFF);
  int on_device = 0;  // stands for a texture; the stand-in never reads it
  const GpuPicture picture{&on_device, 1300, 760};
  // Submission converts; the writer gets the first picture once the second
  // one has come (the worker holds the first until then), then both.
  ASSERT_TRUE(encoder_submit_video(shrunk.image(), picture, {8, 31, 1008, 731}, kTick, kTick));
  EXPECT_EQ(c.device_offers, 1);
  EXPECT_EQ(c.memory_loads, 1);
  EXPECT_EQ(c.clears, 1);
  ASSERT_EQ(c.converted.size(), 1u);
  EXPECT_EQ(c.reads, 1);

  // A full-size frame without a picture on the device: the CPU stages.
  ScreenPicture full(1280, 720);
  full.fill(0, 0, 0);
  ASSERT_TRUE(encoder_submit_video(full.image(), {0, 0, 1280, 720}, kTick + kF60, kTick));
  EXPECT_EQ(c.device_offers, 1);
  EXPECT_EQ(c.memory_loads, 1);
  EXPECT_EQ(c.clears, 1);
  EXPECT_EQ(c.converted.size(), 1u);
  EXPECT_EQ(c.reads, 1);
  ASSERT_TRUE(wait_until([&] { return fake.count("video") == 2; }));
  std::vector<MediaSample*> written;
  {
    std::lock_guard<std::mutex> g(fake.m);
    written = fake.held;
  }
  ASSERT_EQ(written.size(), 2u);
  const MediaSample* s = written[0];
  EXPECT_NEAR(luma(s, 10, 10), 235, 2);
  EXPECT_NEAR(luma(s, 1100, 100), 16, 2);
  EXPECT_EQ(s->data[0], e.surfaces[c.converted[0]].data[0]);
  EXPECT_NEAR(luma(written[1], 100, 100), 16, 2);
  EXPECT_NE(written[1]->data[0], written[0]->data[0]);
}

}  // namespace
