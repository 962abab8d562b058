// End-to-end: a fresh install, and a display that changes or goes away under
// a recording. Cases that stop or kill an X server start their own private
// Xvfb, so the display of the rest of the suite is never touched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
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

}  // namespace
