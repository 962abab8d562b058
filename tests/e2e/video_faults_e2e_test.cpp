// End-to-end: a fresh install, and a display that changes or goes away under
// a recording. Cases that stop or kill an X server start their own private
// Xvfb, so the display of the rest of the suite is never touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/media_probe.h"

namespace {

bool display_ready() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  return run_process({"/bin/sh", "-c", "xdpyinfo >/dev/null 2>&1"}, {}, 10).exit_code == 0;
}

std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exit_code) + " after " + std::to_string(r.seconds) + " s; output:\n" + r.output;
}

// A private copy of the executable in a folder of its own, so its INI (or
// the lack of one) is this test's alone.
struct Install {
  std::string dir, exe, videos;
  explicit Install(const char* tag) {
    dir = make_temp_dir(tag);
    exe = dir + "/frelvanta";
    videos = dir + "/videos";
    mkdir(videos.c_str(), 0755);
    copy_file(FV_FRELVANTA_EXE, exe, true);
  }
  ~Install() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

class VideoFaultsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!display_ready()) GTEST_SKIP() << "needs a display (scripts/test-env.sh)";
  }
};

// A first start with no INI at all, on a machine whose hardware encoder does
// not open (or that has no GPU): the plain command-line run records.
TEST_F(VideoFaultsE2E, FreshInstallRecordsWithoutAnIni) {
  Install inst("fresh");
  ASSERT_FALSE(exists(inst.dir + "/frelvanta.ini"));
  const std::string out = inst.videos + "/fresh.mp4";
  const RunResult r =
      run_process({inst.exe, "--mode", "monitor", "--duration", "2", "--output", out, "--audio", "off"}, {}, 60);
  ASSERT_EQ(r.exit_code, 0) << describe(r);
  EXPECT_EQ(r.output.find("Cannot find video encoder!"), std::string::npos) << r.output;
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present) << r.output;
  EXPECT_EQ(m.video.codec, "h264");
  EXPECT_NEAR(m.video.duration, 2.0, 0.2);
}

// A display of this test's own, which it may stop or kill.
class PrivateDisplay {
 public:
  bool start() {
    for (int n = 300 + getpid() % 200, tries = 0; tries < 50; ++n, ++tries) {
      if (exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
      name_ = ":" + std::to_string(n);
      if (!server_.start({"/usr/bin/Xvfb", name_, "-screen", "0", "640x480x24", "+extension", "Composite",
                          "+extension", "DAMAGE", "+extension", "RANDR", "-nolisten", "tcp"},
                         {})) {
        continue;
      }
      for (int i = 0; i < 100; ++i) {
        if (run_process({"/bin/sh", "-c", "xdpyinfo >/dev/null 2>&1"}, {"DISPLAY=" + name_}, 5).exit_code == 0) {
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      server_.kill_now(SIGKILL);
      server_.wait(5);
    }
    return false;
  }
  ~PrivateDisplay() {
    if (server_.pid() > 0) {
      server_.kill_now(SIGCONT);
      server_.kill_now(SIGKILL);
      server_.wait(5);
    }
  }
  const std::string& name() const { return name_; }
  Background& server() { return server_; }

 private:
  std::string name_;
  Background server_;
};

// Waits (at most `timeout_s`) until the text appears in the file.
bool wait_for_text(const std::string& path, const std::string& text, double timeout_s) {
  for (int i = 0; i < timeout_s * 20; ++i) {
    if (read_text(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The X server dies under a command-line recording: the recording is
// finished under its final name up to the loss, and the run ends with 3
// (not "terminate called without an active exception" with status 134, nor
// a process that never ends, nor a .tmp.mp4).
TEST_F(VideoFaultsE2E, KilledXServerEndsTheRecordingSavedWithCode3) {
  PrivateDisplay x;
  ASSERT_TRUE(x.start());
  Install inst("xkill");
  write_text(inst.dir + "/frelvanta.ini", "[frelvanta]\r\nHardwareEncoder=0\r\nWriteDiagnostics=1\r\n");
  const std::string out = inst.videos + "/lost.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "60", "--output", out, "--audio", "off"},
                        {"DISPLAY=" + x.name()}));
  ASSERT_TRUE(wait_for_text(inst.dir + "/frelvanta-runtrace.txt", "recording.started", 30)) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto lost = std::chrono::steady_clock::now();
  x.server().kill_now(SIGKILL);
  x.server().wait(5);
  const int code = rec.wait(30);
  const std::string output = read_text(rec.output_file());
  EXPECT_EQ(code, 3) << output;
  EXPECT_LT(seconds_since(lost), 30);
  EXPECT_FALSE(exists(inst.videos + "/lost.tmp.mp4")) << output;
  ASSERT_TRUE(exists(out)) << output;
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present);
  // Two seconds were recorded before the loss; nothing after it.
  EXPECT_GE(m.video.duration, 1.5);
  EXPECT_LE(m.video.duration, 2.0 + seconds_since(lost));
  EXPECT_GT(decode_pictures(out, 640).size(), 0u);
}

// The X server stops answering (SIGSTOP) just before the end of a
// command-line recording: the stop does not wait for it without end, and
// the file is finished as usual (the stop used to hang in the join of the
// capture thread, which waits for a reply that never comes).
TEST_F(VideoFaultsE2E, StoppedXServerDoesNotHoldUpTheStop) {
  PrivateDisplay x;
  ASSERT_TRUE(x.start());
  Install inst("xstop");
  write_text(inst.dir + "/frelvanta.ini", "[frelvanta]\r\nHardwareEncoder=0\r\nWriteDiagnostics=1\r\n");
  const std::string out = inst.videos + "/hung.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "monitor", "--duration", "3", "--output", out, "--audio", "off"},
                        {"DISPLAY=" + x.name()}));
  ASSERT_TRUE(wait_for_text(inst.dir + "/frelvanta-runtrace.txt", "recording.started", 30)) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto stopped = std::chrono::steady_clock::now();
  x.server().kill_now(SIGSTOP);
  // The rest of the length, then the stop's own bounds (2 + 1 + 2 + 4 s).
  const int code = rec.wait(30);
  const double took = seconds_since(stopped);
  x.server().kill_now(SIGCONT);
  const std::string output = read_text(rec.output_file());
  ASSERT_NE(code, -1) << "the run did not end while the X server was stopped";
  EXPECT_EQ(code, 0) << output;
  EXPECT_LT(took, 1 + 9 + 5) << "stop went past its bounds";
  ASSERT_TRUE(exists(out)) << output;
  EXPECT_TRUE(wait_for_text(out + ".stoptrace.txt", "stop.rename_done", 1));
}

// A window that becomes smaller while it is recorded: the capture follows
// it and the file keeps getting new pictures to its end (before, a size
// that changed again between a read and its notification made every later
// read fail, and the rest of the file was one frozen picture).
TEST_F(VideoFaultsE2E, WindowThatShrinksKeepsDelivering) {
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio", "--geometry", "640x480+50+50", "--focus"}, {}, "ready"));
  Install inst("shrink");
  write_text(inst.dir + "/frelvanta.ini", "[frelvanta]\r\nHardwareEncoder=0\r\nWriteDiagnostics=1\r\nMouseCursor=0\r\n");
  const std::string out = inst.videos + "/shrink.mp4";
  Background rec;
  ASSERT_TRUE(rec.start({inst.exe, "--mode", "window", "--duration", "5", "--output", out, "--audio", "off"}, {}));
  ASSERT_TRUE(wait_for_text(inst.dir + "/frelvanta-runtrace.txt", "recording.started", 30)) << read_text(rec.output_file());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Several sizes in a row: the capture sees a size that is already gone
  // again when it reads, the case in which reads used to fail for good.
  ASSERT_EQ(run_process({"/bin/sh", "-c",
                         "xdotool getwindowfocus windowsize 630 470 windowsize 620 460 windowsize 610 450 "
                         "windowsize 600 440 windowsize 590 430 windowsize 580 420 windowsize 570 410 "
                         "windowsize 560 400"},
                        {}, 10)
                .exit_code,
            0);
  const int code = rec.wait(60);
  ASSERT_EQ(code, 0) << read_text(rec.output_file());
  const MediaSummary m = probe_media(out);
  ASSERT_TRUE(m.opened && m.video.present);
  const std::vector<PictureInfo> pictures = decode_pictures(out, 640);
  ASSERT_FALSE(pictures.empty());
  // The content numbers its frames along its top edge: the last second of
  // the file must show frames the content painted after the shrink.
  const double end = pictures.back().time;
  int before = -1, last = -1, distinct_late = 0;
  for (const PictureInfo& p : pictures) {
    if (p.number < 0) continue;
    if (p.time < 1.0) before = std::max(before, p.number);
    if (p.time >= end - 1.0 && p.number > last) {
      last = p.number;
      ++distinct_late;
    }
  }
  EXPECT_GE(distinct_late, 3) << "the end of the file is frozen";
  EXPECT_GT(last, before + 60) << "no frames from after the shrink";
}

}  // namespace
