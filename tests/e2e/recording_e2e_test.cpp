// End-to-end: the real executable records the real display and sound server
// (Xvfb and PulseAudio under scripts/test-env.sh) into real files, which are
// read back with FFmpeg. Each case is one short command-line run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "e2e/e2e_support.h"
#include "e2e/installation.h"
#include "e2e/media_probe.h"

namespace {
constexpr int kScreenWidth = 1920;

bool environment_ready() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  return run_process({"/bin/sh", "-c", "xdpyinfo >/dev/null 2>&1 && pactl info >/dev/null 2>&1"}, {}, 10)
             .exit_code == 0;
}


// The stop trace's event texts (counter and line end removed), checking
// each line's form on the way.
std::vector<std::string> trace_events(const std::string& path) {
  std::vector<std::string> events;
  for (const std::string& line : split_lines(read_text(path))) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "line without CR LF: " << line;
    const size_t space = line.find(' ');
    EXPECT_TRUE(space != std::string::npos && space > 0 &&
                std::all_of(line.begin(), line.begin() + static_cast<long>(space), ::isdigit))
        << "line without counter: " << line;
    if (space == std::string::npos) continue;
    events.push_back(line.substr(space + 1, line.size() - space - 2));
  }
  return events;
}

// True when `wanted` occur in `events` in this order (other events between).
::testing::AssertionResult in_order(const std::vector<std::string>& events, const std::vector<std::string>& wanted) {
  size_t at = 0;
  for (const std::string& w : wanted) {
    while (at < events.size() && events[at] != w) ++at;
    if (at == events.size()) return ::testing::AssertionFailure() << "missing or out of order: " << w;
    ++at;
  }
  return ::testing::AssertionSuccess();
}

bool has_event_prefix(const std::vector<std::string>& events, const std::string& prefix) {
  return std::any_of(events.begin(), events.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

// Times at which the picture turns white (flash onsets).
std::vector<double> flash_onsets(const std::vector<PictureInfo>& pictures) {
  std::vector<double> onsets;
  for (size_t i = 1; i < pictures.size(); ++i)
    if (pictures[i - 1].mean_luma < 120 && pictures[i].mean_luma >= 120) onsets.push_back(pictures[i].time);
  return onsets;
}

// Times at which a click starts (the tone stays below 0.3).
std::vector<double> click_onsets(const AudioSamples& a) {
  std::vector<double> onsets;
  double last = -10;
  for (size_t i = 0; i < a.samples.size(); ++i) {
    if (std::fabs(a.samples[i]) < 0.6) continue;
    const double t = a.start + static_cast<double>(i) / a.rate;
    if (t - last > 0.5) onsets.push_back(t);
    last = t;
  }
  return onsets;
}

std::string format_ms(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " %+.1f", seconds * 1000);
  return buf;
}

class RecordingE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!environment_ready()) GTEST_SKIP() << "needs a display and a sound server (scripts/test-env.sh)";
  }
};

// Diagnostics off: every trace line is written through to the disk, which
// on a busy machine delays the stop by tens of milliseconds and with it the
// end of the sound (the report and the stop trace are checked below).
TEST_F(RecordingE2E, MonitorWithToneHasFullLengthAndAlignedSound) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--flash-every", "1000"}, {}, "ready"));
  // A small encoded size keeps the encoder cheap on a busy machine; the
  // capture still takes the whole 1920x1080 screen.
  Installation inst("monitor", "VideoMaxWidth=640\r\nVideoMaxHeight=360\r\n", false);
  const std::string out = inst.videos + "/monitor.mp4";
  const RunResult r = inst.record({"--mode", "monitor", "--duration", "5", "--output", out, "--audio", "on", "--mic", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_FALSE(exists(inst.videos + "/monitor.tmp.mp4"));

  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present && m.audio.present);
  EXPECT_EQ(m.video.codec, "h264");
  EXPECT_EQ(m.video.width, 640);
  EXPECT_EQ(m.video.height, 360);
  EXPECT_EQ(m.audio.codec, "aac");
  EXPECT_EQ(m.audio.sample_rate, 48000);
  EXPECT_EQ(m.audio.channels, 2);
  EXPECT_NEAR(m.video.duration, 5.0, 0.1);
  // The sound track starts earlier, by the picture encoder's reorder delay
  // (silence in front), so that both play in step; the two end together,
  // apart from the padding of the last sound frame and, on a loaded
  // machine, the last few pictures that did not come (69 ms seen).
  EXPECT_NEAR(m.audio.start + m.audio.duration, m.video.start + m.video.duration, 0.1);

  const AudioSamples sound = decode_audio(out);
  const double share = tone_share(sound, 440, sound.start + 0.2, sound.start + 4.8);
  EXPECT_GT(share, 0.6) << "the 440 Hz tone is missing";

  const std::vector<PictureInfo> pictures = decode_pictures(out, kScreenWidth);
  const std::vector<double> flashes = flash_onsets(pictures);
  const std::vector<double> clicks = click_onsets(sound);
  ASSERT_GE(flashes.size(), 3u);
  ASSERT_GE(clicks.size(), 3u);
  const double frame = 1.0 / (m.video.frame_rate > 0 ? m.video.frame_rate : 60);
  std::vector<double> offsets;
  std::string each;
  for (double f : flashes) {
    double nearest = 1e9;
    for (double c : clicks) nearest = std::fabs(c - f) < std::fabs(nearest) ? c - f : nearest;
    offsets.push_back(nearest);
    char buf[32];
    std::snprintf(buf, sizeof buf, " %+.1f", nearest * 1000);
    each += buf;
  }
  std::sort(offsets.begin(), offsets.end());
  const double median = offsets[offsets.size() / 2];
  std::printf("[ figures ] click - flash per flash, ms:%s; frame %.1f ms\n", each.c_str(), frame * 1000);
  // About one frame. The offsets of single flashes scatter (pictures are
  // grabbed 20 to 40 ms apart on a loaded machine, and the first flash may
  // fall before the sound starts), the median does not: it measures -12 to
  // -19 ms here on a quiet machine and reached -26 ms on a loaded one, so
  // the bound is two frames. A sound track pulled forward by the picture
  // encoder's reorder delay had medians 24 to 35 ms early; it fails the
  // bound only in part of the runs, so that fault has its own tests.
  EXPECT_LE(std::fabs(median), 2 * frame) << "median click - flash: " << median * 1000 << " ms";
  const double worst = median;
  // Frames the content painted that the file does not have.
  int first = -1, last = -1, seen = 0;
  for (const PictureInfo& p : pictures) {
    if (p.number < 0) continue;
    if (first < 0) first = p.number;
    if (p.number > last) {
      last = p.number;
      ++seen;
    }
  }
  const int dropped = last >= first && first >= 0 ? (last - first + 1) - seen : -1;
  std::printf("[ figures ] video %.3f s, audio %.3f s, A/V (click - flash) %+.1f ms over %zu flashes, "
              "%zu pictures, content frames %d..%d, dropped %d\n",
              m.video.duration, m.audio.duration, worst * 1000, flashes.size(), pictures.size(), first, last,
              dropped);
  RecordProperty("av_offset_ms", std::to_string(worst * 1000));
  RecordProperty("dropped_frames", std::to_string(dropped));

}

// A still screen with a tone: the length comes from stream ticks; the
// diagnostics report and the stop trace of the run are checked line by line.
TEST_F(RecordingE2E, StillScreenKeepsTheFullLengthAndReports) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--still"}, {}, "ready"));
  Installation inst("still");
  const std::string out = inst.videos + "/still.mp4";
  const RunResult r = inst.record({"--mode", "monitor", "--duration", "3", "--output", out, "--audio", "on", "--mic", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.video.present && m.audio.present);
  // Stream ticks follow a still screen 250 ms behind, 100 ms apart.
  EXPECT_GT(m.video.duration, 2.6) << read_text(out + ".stoptrace.txt");
  EXPECT_LT(m.video.duration, 3.3);
  std::printf("[ figures ] still screen, 3 s requested: video %.3f s, audio %.3f s\n", m.video.duration,
              m.audio.duration);

  // The diagnostics report: 24 lines in order, values that fit this run.
  const std::vector<std::string> report = split_lines(read_text(out + ".diag.txt"));
  const char* keys[] = {"config_capture_audio", "config_capture_microphone", "config_application_local_audio",
                        "active_system_audio", "active_microphone", "frame_callback_count",
                        "frame_callback_max_gap_ms", "frame_callback_work_avg_us", "frame_callback_interval_avg_us",
                        "video_duplicate_frames", "video_stream_ticks", "video_sample_wait_failures",
                        "audio_backpressure_events", "mic_backpressure_events", "encoder_audio_dropped",
                        "encoder_mic_dropped", "audio_clock_jump_count", "audio_clock_jump_total_ms",
                        "audio_overflow_count", "audio_near_overflow_count", "audio_max_buffered_bytes",
                        "mic_overflow_count", "mic_near_overflow_count", "mic_max_buffered_bytes"};
  ASSERT_EQ(report.size(), 24u);
  std::map<std::string, long long> value;
  for (size_t i = 0; i < 24; ++i) {
    const std::string& line = report[i];
    ASSERT_EQ(line.rfind(std::string(keys[i]) + "=", 0), 0u) << line;
    ASSERT_EQ(line.back(), '\r');
    value[keys[i]] = std::atoll(line.c_str() + std::strlen(keys[i]) + 1);
  }
  EXPECT_EQ(value["config_capture_audio"], 1);
  EXPECT_EQ(value["config_capture_microphone"], 0);
  EXPECT_EQ(value["active_system_audio"], 1);
  EXPECT_EQ(value["active_microphone"], 0);
  EXPECT_GE(value["frame_callback_count"], 1);
  // Repeated pictures carry the still screen (about 25 in 3 s on a quiet
  // machine; a busy one delivers late damage pictures in place of some).
  EXPECT_GT(value["video_duplicate_frames"] + value["video_stream_ticks"], 0);
  std::printf("[ figures ] pictures %lld, duplicates %lld, stream ticks %lld\n", value["frame_callback_count"],
              value["video_duplicate_frames"], value["video_stream_ticks"]);
  EXPECT_EQ(value["mic_backpressure_events"], 0);
  EXPECT_EQ(value["encoder_mic_dropped"], 0);
  EXPECT_EQ(value["audio_overflow_count"], 0);
  EXPECT_GT(value["audio_max_buffered_bytes"], 0);
  EXPECT_EQ(value["mic_max_buffered_bytes"], 0);

  // The stop trace beside the recording: the start, the length limit, the
  // whole stop sequence in order.
  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(in_order(events, {"recording.started", "message.stop_capture", "stop.begin",
                                "stop.video_timer_stopped", "stop.capture_stopped", "stop.video_state_wait_begin",
                                "stop.video_state_wait_done", "stop.video_encoder_wait_begin",
                                "stop.video_encoder_wait_counts total=0 frame=0 update=0",
                                "stop.video_encoder_wait_done", "stop.audio_drain_begin", "stop.audio_lock_acquired",
                                "stop.audio_drain_done", "stop.diag_begin", "stop.diag_done",
                                "stop.audio_capture_stopped", "stop.encoder_stop_begin", "stop.encoder_stop_done",
                                "stop.rename_done"}));
  EXPECT_TRUE(has_event_prefix(events, "capture.compositor "));
  EXPECT_TRUE(has_event_prefix(events, "timer.video_set ret="));
  EXPECT_TRUE(has_event_prefix(events, "heartbeat.video_update"));
  EXPECT_TRUE(has_event_prefix(events, "timer.limit_stop") || has_event_prefix(events, "frame.limit_stop"));
}


// The focused window is recorded with the sound of its own process only: a
// second program's tone playing at the same time stays out.
TEST_F(RecordingE2E, WindowRecordingHoldsOnlyThatApplicationsSound) {
  Background window, other;
  ASSERT_TRUE(window.start({FV_TESTCONTENT_EXE, "--geometry", "640x480+100+100", "--focus", "--tone", "440"}, {},
                           "ready"));
  ASSERT_TRUE(other.start({FV_TESTCONTENT_EXE, "--no-window", "--tone", "1000"}, {}, "ready"));
  Installation inst("window", "ApplicationLocalAudio=1\r\n");
  const std::string out = inst.videos + "/window.mp4";
  const RunResult r = inst.record({"--mode", "window", "--duration", "3", "--output", out, "--audio", "on", "--mic", "off"});
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.video.present && m.audio.present);
  EXPECT_EQ(m.video.width, 640);
  EXPECT_EQ(m.video.height, 480);
  const AudioSamples sound = decode_audio(out);
  const double own = tone_share(sound, 440, sound.start + 0.5, sound.start + 2.5);
  const double foreign = tone_share(sound, 1000, sound.start + 0.5, sound.start + 2.5);
  std::printf("[ figures ] window recording: share of 440 Hz (own) %.2f, of 1000 Hz (other program) %.3f\n", own,
              foreign);
  EXPECT_GT(own, 0.6);
  EXPECT_LT(foreign, 0.05);
}

TEST_F(RecordingE2E, FullDiskKeepsWhatWasWrittenAndEndsWithCode3) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio"}, {}, "ready"));
  Installation inst("diskfull");
  const std::string out = inst.videos + "/full.mp4";
  const RunResult r = inst.record({"--mode", "monitor", "--duration", "20", "--output", out, "--audio", "off"},
                                  {"LD_PRELOAD=" FV_FAULT_SHIM, "FV_FAULT=enospc", "FV_FAULT_AFTER_WRITES=6"});
  EXPECT_EQ(r.exit_code, 3) << describe(r);
  EXPECT_NE(r.output.find("Recording "), std::string::npos) << r.output;
  // Whichever name the file has, it plays up to the failure.
  const std::string kept = exists(out) ? out : inst.videos + "/full.tmp.mp4";
  ASSERT_TRUE(exists(kept)) << r.output;
  EXPECT_GT(decode_pictures(kept, kScreenWidth).size(), 10u);
  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(in_order(events, {"recording.started", "encoder.write_failed", "message.stop_capture", "stop.begin",
                                "stop.rename_done"}));
  // The write failure ended the recording, not the length limit.
  EXPECT_FALSE(has_event_prefix(events, "timer.limit_stop") || has_event_prefix(events, "frame.limit_stop"))
      << "the write failure did not end the recording";
}

TEST_F(RecordingE2E, StalledEncoderIsAbandonedAndTheFileKept) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio"}, {}, "ready"));
  Installation inst("stall");
  const std::string out = inst.videos + "/stall.mp4";
  const RunResult r = inst.record({"--mode", "monitor", "--duration", "60", "--output", out, "--audio", "off"},
                                  {"LD_PRELOAD=" FV_FAULT_SHIM, "FV_FAULT=stall", "FV_FAULT_AFTER_WRITES=4"},
                                  45);
  EXPECT_EQ(r.exit_code, 3) << describe(r);
  EXPECT_GT(r.seconds, 12) << "8 s without progress, then 4 s waiting for the worker";
  EXPECT_LT(r.seconds, 40);
  EXPECT_FALSE(exists(out));
  EXPECT_TRUE(exists(inst.videos + "/stall.tmp.mp4"));
  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(has_event_prefix(events, "encoder.stalled stage=video.write_sample queue="));
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.rfind("encoder.stalled", 0) == 0; }),
            1);
  EXPECT_TRUE(in_order(events, {"message.stop_capture", "stop.begin", "stop.encoder_stop_begin",
                                "stop.encoder_stop_timeout", "stop.rename_done"}));
}

TEST_F(RecordingE2E, FinalNameThatCannotBeTakenLeavesTheTemporaryFile) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio"}, {}, "ready"));
  Installation inst("rename");
  const std::string out = inst.videos + "/taken.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "3", "--output", out, "--audio", "off"}, {}));
  // Once the recording runs, a folder takes the final name.
  for (int i = 0; i < 100 && !exists(inst.videos + "/taken.tmp.mp4"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  mkdir(out.c_str(), 0755);
  write_text(out + "/keep", "x");
  EXPECT_EQ(rec.wait(30), 3) << read_text(rec.output_file());
  EXPECT_NE(read_text(rec.output_file()).find("Recording Saved With a Temporary Name: "), std::string::npos)
      << read_text(rec.output_file());
  ASSERT_TRUE(exists(inst.videos + "/taken.tmp.mp4"));
  EXPECT_GT(probe_media(inst.videos + "/taken.tmp.mp4").video.duration, 2.5);
}

TEST_F(RecordingE2E, KilledRecordingIsRecoveredAtTheNextStart) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio"}, {}, "ready"));
  Installation inst("killed");
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "30", "--audio", "off"}, {}));
  // Four seconds of recording, counted from the file's creation: start-up
  // takes a varying time on a busy machine.
  const auto temp_exists = [&] {
    for (const std::string& name : split_lines(run_process({"/bin/ls", inst.videos}, {}, 5).output))
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".tmp.mp4") == 0) return true;
    return false;
  };
  for (int i = 0; i < 200 && !temp_exists(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  rec.kill_now(SIGKILL);
  rec.wait(10);
  std::string temp;
  for (const std::string& name : split_lines(run_process({"/bin/ls", inst.videos}, {}, 5).output))
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".tmp.mp4") == 0) temp = inst.videos + "/" + name;
  ASSERT_FALSE(temp.empty()) << "no temporary file after the kill";
  // A file touched in the last ten seconds may still be live; age it instead of waiting.
  struct timeval old[2];
  gettimeofday(&old[0], nullptr);
  old[0].tv_sec -= 60;
  old[1] = old[0];
  utimes(temp.c_str(), old);

  const RunResult again = inst.record({"--mode", "monitor", "--duration", "1", "--audio", "off"});
  EXPECT_EQ(again.exit_code, 0) << describe(again);
  EXPECT_FALSE(exists(temp));
  const std::string recovered = temp.substr(0, temp.size() - 8) + ".mp4";
  ASSERT_TRUE(exists(recovered)) << run_process({"/bin/ls", "-l", inst.videos}, {}, 5).output;
  const std::vector<PictureInfo> pictures = decode_pictures(recovered, kScreenWidth);
  ASSERT_FALSE(pictures.empty());
  const double played = pictures.back().time - pictures.front().time;
  std::printf("[ figures ] killed 4 s after the file appeared; recovered file decodes %.2f s (%zu pictures)\n",
              played, pictures.size());
  // Fragments are at most a second long, and the first picture follows the
  // file's creation by a moment.
  EXPECT_GT(played, 2.0);
}

// The terminal closing (SIGHUP) ends a command-line recording as the other
// termination requests do: finished, under its final name, exit 0.
TEST_F(RecordingE2E, HangUpFinishesAndSavesTheRecording) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio"}, {}, "ready"));
  Installation inst("hangup");
  const std::string out = inst.videos + "/hangup.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "30", "--output", out, "--audio", "off"}, {}));
  for (int i = 0; i < 200 && !exists(inst.videos + "/hangup.tmp.mp4"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  rec.kill_now(SIGHUP);
  EXPECT_EQ(rec.wait(20), 0) << read_text(rec.output_file());
  EXPECT_FALSE(exists(inst.videos + "/hangup.tmp.mp4"));
  ASSERT_TRUE(exists(out));
  // A finished file that plays; how much it holds depends on how busy the machine is.
  const MediaSummary m = probe_media(out);
  EXPECT_TRUE(m.opened && m.video.present);
  EXPECT_GT(m.video.duration, 0.0);
}

// The recorder stands still (SIGSTOP) for eight seconds and runs on to its
// 16-s limit. Picture and sound keep the real timeline: the file holds 16 s
// of each, and the sound after the stall is not pushed late by what the
// server had held back (before, it ran seconds longer than the picture and
// late for good).
TEST_F(RecordingE2E, StalledProcessKeepsPictureAndSoundTogether) {
  Background content;
  // Once the flashes come at their period: the clicks before the stall set
  // the timeline that those after it are held to.
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--flash-every", "1000"}, {}, "flashing"));
  Installation inst("stall", "VideoMaxWidth=640\r\nVideoMaxHeight=360\r\n", false);
  const std::string out = inst.videos + "/stall.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "16", "--output", out, "--audio", "on",
                         "--mic", "off"},
                        {}));
  for (int i = 0; i < 200 && !exists(inst.videos + "/stall.tmp.mp4"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Times in the file's time (the file began a little before its temporary
  // name appeared, so these are a little early).
  const auto started = std::chrono::steady_clock::now();
  auto since_start = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const double stopped = since_start();
  rec.kill_now(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(8000));
  rec.kill_now(SIGCONT);
  const double resumed = since_start();
  ASSERT_EQ(rec.wait(40), 0) << read_text(rec.output_file());

  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present && m.audio.present);
  EXPECT_NEAR(m.video.duration, 16.0, 0.2);
  EXPECT_NEAR(m.audio.start + m.audio.duration, m.video.start + m.video.duration, 0.15);

  const AudioSamples sound = decode_audio(out);
  const std::vector<double> flashes = flash_onsets(decode_pictures(out, kScreenWidth));
  const std::vector<double> clicks = click_onsets(sound);
  const double frame = 1.0 / (m.video.frame_rate > 0 ? m.video.frame_rate : 60);
  auto before = [&](double t) { return t > 0.5 && t < stopped - 0.2; };
  // From one second after the recording continued (the first second is
  // left to the sound the server kept, which is read meanwhile).
  auto after = [&](double t) { return t > resumed + 1.2; };
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  auto list = [](const std::vector<double>& v) {
    std::string text;
    for (double x : v) text += format_ms(x);
    return text;
  };

  // Each click within a few frames of its flash. The flash is painted at
  // the moment the test content reckons its click leaves the sound server,
  // and its picture is taken up to a frame later; on a busy machine that
  // reckoning is itself off by tens of milliseconds (the server's figure
  // for how far its null output renders ahead), before the stall as after
  // it, so it bounds the offset but does not measure it to a frame.
  // One flash without its click is let through (the content leaves out a
  // click whose latency it cannot read, and its flash may still be painted
  // from an earlier reading on a busy machine); it does not count in the
  // medians below.
  std::vector<double> offsets_before, offsets_after;
  int unpaired = 0;
  for (double f : flashes) {
    if (!before(f) && !after(f)) continue;
    double nearest = 1e9;
    for (double c : clicks) nearest = std::fabs(c - f) < std::fabs(nearest) ? c - f : nearest;
    if (std::fabs(nearest) >= 0.1) {
      ++unpaired;
      std::printf("[ figures ] flash at %.3f s has no click within 100 ms (nearest %+.1f ms)\n", f, nearest * 1000);
      continue;
    }
    (before(f) ? offsets_before : offsets_after).push_back(nearest);
  }
  EXPECT_LE(unpaired, 1) << "flashes without their clicks";
  // The sound's own timeline: the clicks come every second by the content's
  // clock, so those after the stall lie where the clicks before it put
  // them, unless the stall moved the sound against the clock. Sound timed by
  // what the server handed over after the stall, or by the latency it
  // reported during that hand-over, was 10 to 120 ms off and took seconds
  // to come back. The bound is a frame and a half: the clicks before the
  // stall carry the sound's settling after the start (up to 15 ms seen on
  // a busy machine).
  std::vector<double> grid_before, grid_after;
  double first = -1;
  for (double c : clicks) {
    if (!before(c)) continue;
    if (first < 0) first = c;
    grid_before.push_back(c - first - std::round(c - first));
  }
  const double base = first + median(grid_before);
  for (double c : clicks)
    if (after(c)) grid_after.push_back(c - base - std::round(c - base));
  std::printf("[ figures ] video %.3f s, audio %.3f s, stopped at %.1f s for 8 s, click - flash before:%s, "
              "from 1 s after the stall:%s; clicks off the grid before:%s, after:%s (ms)\n",
              m.video.duration, m.audio.duration, stopped, list(offsets_before).c_str(), list(offsets_after).c_str(),
              list(grid_before).c_str(), list(grid_after).c_str());
  ASSERT_GE(offsets_after.size(), 2u);
  ASSERT_GE(grid_before.size(), 1u);
  ASSERT_GE(grid_after.size(), 2u);
  EXPECT_LE(std::fabs(median(grid_after)), 1.5 * frame) << "the sound moved against the clock across the stall";
  // The picture keeps its timeline too: the click - flash offset after the
  // stall stays within two frames of the one before it (pictures caught up
  // four frame lengths at a time after the stall were two frames behind).
  if (!offsets_before.empty()) {
    EXPECT_LE(std::fabs(median(offsets_after) - median(offsets_before)), 2 * frame)
        << "click - flash moved across the stall";
  }
}
}  // namespace

namespace {
// The sound server of a run whose test environment started it privately
// (scripts/test-env.sh), which a test may take away and bring back.
struct SoundServer {
  static bool controllable() {
    const char* script = std::getenv("FV_TEST_ENV_SCRIPT");
    const char* pidfile = std::getenv("FV_SOUND_SERVER_PIDFILE");
    return script && *script && pidfile && *pidfile;
  }
  static bool run(const char* action) {
    const std::string script = std::getenv("FV_TEST_ENV_SCRIPT");
    return run_process({script, "--sound-server", action}, {}, 30).exit_code == 0;
  }
  static pid_t pid() {
    const std::string text = read_text(std::getenv("FV_SOUND_SERVER_PIDFILE"));
    return static_cast<pid_t>(std::atol(text.c_str()));
  }
};

// Waits (at most 20 s) until the run's stop trace holds `event`.
bool wait_for_event(const std::string& trace, const std::string& event) {
  for (int i = 0; i < 400; ++i) {
    for (const std::string& line : split_lines(read_text(trace)))
      if (line.find(" " + event) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// A 640x360 monitor recording of `seconds` with sound while the test content
// plays a 440 Hz tone over a still picture; `started` once its stop trace
// says the recording runs.
struct ToneRecording {
  Background content, rec;
  Installation inst;
  std::string out;
  bool started = false;
  ToneRecording(const char* name, const char* seconds)
      : inst(name, "VideoMaxWidth=640\r\nVideoMaxHeight=360\r\n"), out(inst.videos + "/" + name + ".mp4") {
    started = content.start({FV_TESTCONTENT_EXE, "--still", "--tone", "440"}, {}, "ready") &&
              rec.start({inst.exe, "--mode", "monitor", "--duration", seconds, "--output", out, "--audio", "on",
                         "--mic", "off"},
                        {}) &&
              wait_for_event(out + ".stoptrace.txt", "recording.started");
  }
};

double seconds_since(const std::chrono::steady_clock::time_point& t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The sound server dies three seconds into the recording and is back a
// second and a half later: the file keeps its full length, the sound
// resumes, the trace and the message say what happened, and the file is
// saved as usual.
TEST_F(RecordingE2E, SoundServerRestartedMidRecordingKeepsLengthAndResumes) {
  if (!SoundServer::controllable()) GTEST_SKIP() << "the sound server was not started by scripts/test-env.sh";
  ToneRecording t("restart", "11");
  Background& rec = t.rec;
  const std::string& out = t.out;
  ASSERT_TRUE(t.started) << read_text(rec.output_file());
  // The recording does not wait for the first sound: an output that was
  // rendering far ahead (the test's null sink renders up to two seconds at
  // a time) hands a new stream its first packet that much later, silence in
  // the file until then. The loss comes after that.
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  ASSERT_TRUE(SoundServer::run("kill"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(SoundServer::run("start"));
  const int code = rec.wait(40);
  const std::string output = read_text(rec.output_file());
  EXPECT_EQ(code, 0) << output;
  EXPECT_NE(output.find("Sound Interrupted: "), std::string::npos) << output;

  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.video.present && m.audio.present) << output;
  std::printf("[ figures ] server killed at 3 s, back 1.5 s later: video %.3f s from %.3f, audio %.3f s from %.3f\n",
              m.video.duration, m.video.start, m.audio.duration, m.audio.start);
  EXPECT_GT(m.video.duration, 10.5);
  EXPECT_GT(m.audio.duration, 10.5) << "the sound track ends early";
  EXPECT_NEAR(m.audio.start + m.audio.duration, m.video.start + m.video.duration, 0.15);
  const AudioSamples sound = decode_audio(out);
  // "Before" is the half second ahead of the loss.
  const double before = tone_share(sound, 440, sound.start + 2.3, sound.start + 2.9);
  const double after = tone_share(sound, 440, sound.start + 9.0, sound.start + 10.5);
  std::printf("[ figures ] share of the 440 Hz tone before the loss %.2f, after the return %.2f\n", before, after);
  EXPECT_GT(before, 0.6);
  EXPECT_GT(after, 0.6) << "the sound did not resume";

  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(in_order(events, {"recording.started", "audio.stream_lost stream=system", "stop.begin",
                                "stop.rename_done"}));
  // A restarting server may refuse the first reopen and drop the new stream
  // once more, so the stop counts at least one interruption, not exactly one.
  EXPECT_TRUE(has_event_prefix(events, "stop.audio_interrupted count="));
  EXPECT_FALSE(has_event_prefix(events, "stop.audio_interrupted count=0"));
  EXPECT_TRUE(has_event_prefix(events, "audio.stream_restored stream=system gap_ms="));
}

// The sound server dies two seconds into the recording and is not back
// before the recording ends: the sound track still runs to the end of the
// picture (silence from the loss on), as the message says.
TEST_F(RecordingE2E, SoundServerGoneForGoodKeepsTheTrackToTheEnd) {
  if (!SoundServer::controllable()) GTEST_SKIP() << "the sound server was not started by scripts/test-env.sh";
  ToneRecording t("gone", "6");
  Background& rec = t.rec;
  const std::string& out = t.out;
  ASSERT_TRUE(t.started) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  ASSERT_TRUE(SoundServer::run("kill"));
  const int code = rec.wait(40);
  ASSERT_TRUE(SoundServer::run("start"));  // for the tests after this one
  const std::string output = read_text(rec.output_file());
  EXPECT_EQ(code, 0) << output;
  EXPECT_NE(output.find("Sound Interrupted: "), std::string::npos) << output;

  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.video.present && m.audio.present) << output;
  std::printf("[ figures ] server killed at 2 s, not back: video %.3f s from %.3f, audio %.3f s from %.3f\n",
              m.video.duration, m.video.start, m.audio.duration, m.audio.start);
  EXPECT_GT(m.video.duration, 5.5);
  EXPECT_NEAR(m.audio.start + m.audio.duration, m.video.start + m.video.duration, 0.15)
      << read_text(out + ".stoptrace.txt");
  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(in_order(events, {"recording.started", "audio.stream_lost stream=system", "stop.begin",
                                "stop.rename_done"}));
  EXPECT_TRUE(has_event_prefix(events, "audio.silence_to_end ms="));
}

// The sound server stops answering (SIGSTOP) just before the recording
// ends: the stop still ends within its bounds (2 s for video, 1 s for the
// audio lock, 2 s of draining, 4 s for the encoder), and the file is saved.
TEST_F(RecordingE2E, HungSoundServerDuringStopDoesNotHoldTheStop) {
  if (!SoundServer::controllable()) GTEST_SKIP() << "the sound server was not started by scripts/test-env.sh";
  ToneRecording t("hung", "3");
  Background& rec = t.rec;
  const std::string& out = t.out;
  ASSERT_TRUE(t.started) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const pid_t server = SoundServer::pid();
  ASSERT_GT(server, 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{server};
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  const auto stopped_at = std::chrono::steady_clock::now();
  const int code = rec.wait(40);
  const double took = seconds_since(stopped_at);
  kill(server, SIGCONT);
  const std::string output = read_text(rec.output_file());
  std::printf("[ figures ] sound server stopped 0.5 s before the end; the run ended %.2f s later\n", took);
  EXPECT_EQ(code, 0) << output;
  EXPECT_LT(took, 9.5) << "the stop waited on the hung sound server";
  const std::vector<std::string> events = trace_events(out + ".stoptrace.txt");
  EXPECT_TRUE(in_order(events, {"stop.begin", "stop.audio_lock_acquired", "stop.audio_drain_done",
                                "stop.encoder_stop_done", "stop.rename_done"}));
  const MediaSummary m = probe_media(out);
  EXPECT_TRUE(m.video.present && m.audio.present);
  EXPECT_GT(m.video.duration, 2.5);
}
}  // namespace
