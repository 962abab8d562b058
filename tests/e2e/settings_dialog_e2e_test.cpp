// End-to-end: the settings dialog of the interactive instance, opened from
// the tray menu on a desktop with a window manager (openbox) and an XEmbed
// tray (trayer), driven by xdotool like a user. The codec and the output
// folder are changed, OK stores them in the INI, and the next recording is
// made with them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "e2e/desktop_support.h"
#include "e2e/e2e_support.h"
#include "e2e/media_probe.h"

namespace {
std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// The settings dialog's client area on screen.
struct DialogGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};
DialogGeometry geometry_of(const std::string& window) {
  DialogGeometry g;
  // xwininfo gives the client's absolute position under a reparenting
  // window manager (xdotool's is off by the frame).
  for (std::string line : split_lines(sh("xwininfo -id " + window))) {
    while (!line.empty() && line[0] == ' ') line.erase(0, 1);
    auto value = [&](const char* key, int* out) {
      if (line.rfind(key, 0) == 0) *out = std::atoi(line.c_str() + std::strlen(key));
    };
    value("Absolute upper-left X:", &g.x);
    value("Absolute upper-left Y:", &g.y);
    value("Width:", &g.width);
    value("Height:", &g.height);
  }
  return g;
}

// Clicks the middle of a control given in dialog units (the dialog is
// 286 x 430 units, so its client size gives the scale).
void click_units(const DialogGeometry& g, double x, double y) {
  const int px = g.x + static_cast<int>(x * g.width / 286.0);
  const int py = g.y + static_cast<int>(y * g.height / 430.0);
  sh("xdotool mousemove " + std::to_string(px) + " " + std::to_string(py) + " click 1");
  sleep_s(0.4);
}

std::vector<std::string> mp4_files(const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& name : split_lines(sh("ls " + folder + " 2>/dev/null")))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp4") == 0) out.push_back(folder + "/" + name);
  return out;
}

class SettingsDialogE2E : public TrayDesktopTest {
 protected:
  static void SetUpTestSuite() { start_desktop(""); }
  static void TearDownTestSuite() { stop_desktop(); }
  void SetUp() override { skip_without_desktop("openbox, trayer and xdotool"); }
};
}  // namespace

TEST_F(SettingsDialogE2E, TrayOpensSettingsAndOkChangesTheNextRecording) {
  const std::string dir = make_temp_dir("settings-dialog");
  struct RemoveAtEnd {
    std::string dir;
    ~RemoveAtEnd() { run_process({"/bin/rm", "-rf", dir}, {}, 20); }
  } remove_at_end{dir};
  const std::string exe = dir + "/frelvanta", ini = dir + "/frelvanta.ini";
  const std::string before_folder = dir + "/videos", after_folder = dir + "/clips";
  const std::string runtime = dir + "/run";
  mkdir(before_folder.c_str(), 0755);
  mkdir(runtime.c_str(), 0700);
  ASSERT_TRUE(copy_file(FV_FRELVANTA_EXE, exe, true));
  write_text(ini, "[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=" + before_folder +
                      "\r\nVideoCodec=H264\r\nCaptureAudio=0\r\nCaptureMicrophone=0\r\nStartDelaySec=0\r\n"
                      "OpenFolder=0\r\nVideoMaxWidth=640\r\nVideoMaxHeight=360\r\nVideoMaxFramerate=30\r\n");
  Background instance;  // declared after the folder's remover, so it ends first
  ASSERT_TRUE(instance.start({exe}, {"XDG_RUNTIME_DIR=" + runtime}));
  ASSERT_TRUE(wait_for([] { return !tray_icon_window().empty(); }, 15)) << "the tray icon did not appear";

  // Right click on the icon, then the menu's second enabled item: Settings.
  sh("xdotool mousemove --window " + tray_icon_window() + " 8 8 click 3");
  sleep_s(0.8);
  sh("xdotool key Down Down Return");
  std::string dialog;
  ASSERT_TRUE(wait_for([&] {
    dialog = first_line(sh("xdotool search --onlyvisible --name '^Frelvanta 3\\.3\\.0, '"));
    return !dialog.empty();
  }, 10)) << "the settings dialog did not open";
  sleep_s(1.5);  // placed and focused by the window manager
  const DialogGeometry g = geometry_of(dialog);
  ASSERT_GT(g.width, 286);

  click_units(g, 110, 175);  // the video codec list (220): open it
  sh("xdotool key Down Return");  // H264 -> H265
  sleep_s(0.3);
  click_units(g, 197, 20);  // the output folder (100)
  sh("xdotool key ctrl+a BackSpace");
  sh("xdotool type --delay 5 '" + after_folder + "'");
  sleep_s(0.3);
  click_units(g, 35, 415);  // OK
  ASSERT_TRUE(wait_for([&] { return sh("xdotool search --onlyvisible --name '^Frelvanta 3\\.3\\.0, '").empty(); }, 5))
      << "the dialog stayed open";

  const std::string stored = read_text(ini);
  EXPECT_NE(stored.find("VideoCodec=H265\r\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("OutputFolder=" + after_folder + "\r\n"), std::string::npos) << stored;
  EXPECT_NE(stored.find("VideoProfile=Main10\r\n"), std::string::npos) << "the new codec's 10-bit entry was selected";

  // The next recording: the monitor shortcut starts and stops it. (The test
  // picture stays above other windows, so it comes only now.)
  Background content;
  ASSERT_TRUE(content.start({FV_TESTCONTENT_EXE, "--no-audio", "--geometry", "1920x600+0+0"}, {}, "ready"));
  sh("xdotool key ctrl+Print");
  ASSERT_TRUE(wait_for([&] { return !mp4_files(after_folder).empty(); }, 10)) << "no recording in the new folder";
  sleep_s(2);
  sh("xdotool key ctrl+Print");
  ASSERT_TRUE(wait_for([&] {
    const auto files = mp4_files(after_folder);
    return files.size() == 1 && files[0].find(".tmp.mp4") == std::string::npos;
  }, 15)) << "the recording was not finished";
  EXPECT_TRUE(mp4_files(before_folder).empty());
  const MediaSummary m = probe_media(mp4_files(after_folder)[0]);
  ASSERT_TRUE(m.opened && m.video.present);
  EXPECT_EQ(m.video.codec, "hevc");
  std::printf("[ figures ] recording after Settings: %s %dx%d, %.2f s\n", m.video.codec.c_str(), m.video.width,
              m.video.height, m.video.duration);

  instance.kill_now(SIGTERM);
  instance.wait(20);
}
