// Recording start and stop in-process with the real encoder (software H.264)
// and frame intake, fed by a scripted capture source, for the paths a real
// screen cannot be made to take on demand: a stop before the first frame,
// a stop while paused, a final name that cannot be taken.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/ui_service.h"
#include "app/capture_request.h"
#include "capture/capture.h"
#include "capture/capture_service.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "core/desktop_session.h"
#include "recording/recording.h"
#include "app/recording_control.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "video/encode/encoder.h"

namespace {
constexpr int32_t kWidth = 320, kHeight = 240;

class ScriptedSource : public CaptureSource {
 public:
  explicit ScriptedSource(bool refuse_start) : refuse_start_(refuse_start) {}
  bool start(bool, bool, SourceSink* sink) override {
    if (refuse_start_) return false;
    sink_ = sink;
    return true;
  }
  bool stop() override {
    sink_ = nullptr;
    return true;
  }
  void recreate(int32_t, int32_t) override {}

  // One picture with the given shade, stamped now.
  void deliver(uint8_t shade) {
    if (!sink_) return;
    pixels_.assign(static_cast<size_t>(kWidth) * kHeight * 4, shade);
    SourceFrame f;
    f.image = BgraImage{pixels_.data(), kWidth, kHeight, kWidth * 4};
    f.time = qpc_now();
    f.content_width = kWidth;
    f.content_height = kHeight;
    sink_->frame_arrived(f);
  }

 private:
  bool refuse_start_;
  SourceSink* sink_ = nullptr;
  std::vector<uint8_t> pixels_;
};

class ScriptedService : public CaptureService {
 public:
  ScriptedSource* source = nullptr;
  bool refuse_start = false;  // the next sources cannot start delivering frames
  bool pointer_position(int32_t* x, int32_t* y) override {
    *x = *y = 10;
    return true;
  }
  MonitorId monitor_from_point(int32_t, int32_t) override { return 1; }
  bool monitor_rect(MonitorId, Rect* r) override {
    *r = Rect{0, 0, kWidth, kHeight};
    return true;
  }
  bool monitor_refresh_rate(MonitorId, uint32_t* num, uint32_t* den) override {
    *num = 60;
    *den = 1;
    return true;
  }
  MonitorId monitor_from_window(WindowId) override { return 1; }
  WindowId foreground_window() override { return 0; }
  WindowId parent_window(WindowId) override { return 0; }
  bool is_tool_window(WindowId) override { return false; }
  bool frame_bounds(WindowId, Rect*, int32_t*, int32_t*) override { return false; }
  bool client_rect(WindowId, Rect*) override { return false; }
  uint32_t window_process_id(WindowId) override { return 0; }
  CaptureSource* open_window(const CaptureDevice&, WindowId, int32_t*, int32_t*) override { return nullptr; }
  CaptureSource* open_monitor(const CaptureDevice&, MonitorId, int32_t* w, int32_t* h) override {
    *w = kWidth;
    *h = kHeight;
    source = new ScriptedSource(refuse_start);
    return source;
  }
};

class RecordingFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    g_app.cli_mode = true;
    g_app.qpc_frequency = kQpcFrequency;
    Config& c = g_app.config;
    c.OutputFolder = dir_.path();
    c.HardwareEncoder = 0;
    c.CaptureAudio = 0;
    c.CaptureMicrophone = 0;
    c.WriteDiagnostics = 1;
    c.MinFreeSpaceMB = 1;
    c.OpenFolder = 0;
    encoder_init_process();
    g_app.capture.service = &service_;
    capture_runtime_init();
  }
  void TearDown() override {
    if (g_app.recording.active.load()) recording_stop();
    // A worker a failed start left behind would keep the process from ending.
    if (encoder_has_worker()) {
      encoder_request_stop();
      encoder_wait_worker(5000);
    }
    g_app.capture.service = nullptr;
  }

  void start() {
    g_app.cli_output_path = dir_ / "clip.mp4";
    ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
    ASSERT_EQ(g_app.recording.active.load(), 1u);
    ASSERT_NE(service_.source, nullptr);
  }
  // Frames at about 60 per second for `ms` milliseconds.
  void frames_for(int ms) {
    for (int t = 0; t < ms; t += 16) {
      service_.source->deliver(static_cast<uint8_t>(t));
      std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
  }

  ScriptedService service_;
  TempDir dir_;
};

TEST_F(RecordingFlow, StopBeforeTheFirstFrameLeavesNoFile) {
  start();
  const std::string temp = g_app.recording.temp_path;
  EXPECT_TRUE(exists(temp));
  EXPECT_TRUE(file_is_locked(temp)) << "recovery in another process must leave a live recording alone";
  recording_stop();
  EXPECT_EQ(g_app.recording.active.load(), 0u);
  EXPECT_FALSE(exists(dir_ / "clip.mp4"));
  EXPECT_FALSE(exists(dir_ / "clip.tmp.mp4"));
  EXPECT_TRUE(g_app.recording.output_path.empty());
  EXPECT_TRUE(g_app.recording.temp_path.empty());
  EXPECT_EQ(g_app.exit_code, 3);
  // The report was written before the outcome was known, under the name the file would have had.
  EXPECT_TRUE(exists(dir_ / "clip.mp4.diag.txt"));
  const std::string trace = read_text(dir_ / "clip.mp4.stoptrace.txt");
  EXPECT_NE(trace.find(" cli.message caption=Nothing Recorded\r\n"), std::string::npos) << trace;
}

TEST_F(RecordingFlow, StopWhilePausedFinalisesWhatWasRecorded) {
  start();
  frames_for(1000);
  toggle_pause();
  ASSERT_EQ(g_app.recording.paused.load(), 1u);
  frames_for(500);  // ignored while paused
  const int64_t before = g_app.recording.paused_total_qpc.load();
  recording_stop();
  EXPECT_EQ(g_app.recording.paused.load(), 0u);
  EXPECT_GE(g_app.recording.paused_total_qpc.load() - before, kQpcFrequency * 4 / 10);
  EXPECT_EQ(g_app.exit_code, 0);
  EXPECT_TRUE(exists(dir_ / "clip.mp4"));
  EXPECT_FALSE(exists(dir_ / "clip.tmp.mp4"));
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "clip.mp4").c_str(), &st), 0);
  EXPECT_GT(st.st_size, 1000);
}

TEST_F(RecordingFlow, FinalNameTakenKeepsTheTemporaryFile) {
  start();
  frames_for(300);
  mkdir((dir_ / "clip.mp4").c_str(), 0755);
  write_text(dir_ / "clip.mp4/inside", "x");
  recording_stop();
  EXPECT_EQ(g_app.exit_code, 3);
  EXPECT_TRUE(exists(dir_ / "clip.tmp.mp4"));
  EXPECT_EQ(g_app.recording.output_path, dir_ / "clip.tmp.mp4");  // the folder opened would show it
  const std::string trace = read_text(dir_ / "clip.mp4.stoptrace.txt");
  EXPECT_NE(trace.find(" cli.message caption=Recording Saved With a Temporary Name\r\n"), std::string::npos);
}

// Another user of a shared output folder plants a link at the temporary
// name between the recorder's check of the names and the creation of the
// file (the test hook stands for the race). The link's target stays as it
// was, and the start fails with the reason on the console.
std::string g_plant_target;
void plant_link(const std::string& path) { symlink(g_plant_target.c_str(), path.c_str()); }
void plant_file(const std::string& path) { write_text(path, "another user's file"); }

TEST_F(RecordingFlow, NameTakenBetweenTheCheckAndTheCreationIsNotWrittenThrough) {
  TempDir outside;
  g_plant_target = outside / "precious.bin";
  write_text(g_plant_target, "precious");
  for (void (*hook)(const std::string&) : {plant_link, plant_file}) {
    std::error_code ec;
    std::filesystem::remove(dir_ / "clip.tmp.mp4", ec);
    g_app.cli_output_path = dir_ / "clip.mp4";
    encoder_test_before_create(hook);
    testing::internal::CaptureStderr();
    capture_by_mode(CAPTURE_MONITOR);
    const std::string err = testing::internal::GetCapturedStderr();
    encoder_test_before_create(nullptr);
    EXPECT_EQ(g_app.recording.active.load(), 0u);
    EXPECT_NE(err.find("Frelvanta: Cannot create output mp4 file!"), std::string::npos) << err;
    EXPECT_EQ(read_text(g_plant_target), "precious");
    EXPECT_FALSE(exists(dir_ / "clip.mp4"));
  }
  EXPECT_EQ(read_text(dir_ / "clip.tmp.mp4"), "another user's file");
}

// Links planted at the names of the side files: the stop trace is not
// appended through one, the report replaces its link instead of creating
// the link's target, and the recording itself is saved.
TEST_F(RecordingFlow, LinksAtTheSideFilesAreNotWrittenThrough) {
  TempDir outside;
  const std::string victim = outside / "victim.txt", dangling = outside / "created.txt";
  write_text(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), (dir_ / "clip.mp4.stoptrace.txt").c_str()), 0);
  ASSERT_EQ(symlink(dangling.c_str(), (dir_ / "clip.mp4.diag.txt").c_str()), 0);
  start();
  frames_for(300);
  recording_stop();
  EXPECT_EQ(g_app.exit_code, 0);
  EXPECT_TRUE(exists(dir_ / "clip.mp4"));
  EXPECT_EQ(read_text(victim), "keep");
  EXPECT_FALSE(exists(dangling));
  struct stat st {};
  ASSERT_EQ(lstat((dir_ / "clip.mp4.diag.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_NE(read_text(dir_ / "clip.mp4.diag.txt").find("frame_callback_count="), std::string::npos);
}

// The output folder removed while recording: the file is gone with it, and
// the user is told that the recording was lost and why, not that it was kept.
TEST_F(RecordingFlow, RemovedOutputFolderIsReportedAsLost) {
  const std::string sub = dir_ / "sub";
  g_app.cli_output_path = sub + "/clip.mp4";
  ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
  ASSERT_EQ(g_app.recording.active.load(), 1u);
  frames_for(300);
  std::filesystem::remove_all(sub);
  testing::internal::CaptureStderr();
  recording_stop();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_app.exit_code, 3);
  EXPECT_NE(err.find("Recording Lost: The recording was lost because the output folder was removed or renamed "
                     "while recording"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Folder: " + sub), std::string::npos) << err;
  EXPECT_EQ(err.find("Temporary Name"), std::string::npos) << err;
  EXPECT_TRUE(g_app.recording.output_path.empty());
  EXPECT_FALSE(exists(sub));
}

// Frame delivery that cannot start once the encoder has opened the file:
// the start undoes the encoder's set-up and says why. No file is left and
// no worker holds the encoder, so the next start records.
TEST_F(RecordingFlow, CaptureThatCannotStartUndoesTheEncoderSetUp) {
  service_.refuse_start = true;
  g_app.cli_output_path = dir_ / "clip.mp4";
  testing::internal::CaptureStderr();
  capture_by_mode(CAPTURE_MONITOR);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_app.recording.active.load(), 0u);
  EXPECT_NE(err.find("Error: Cannot record selected monitor!\r\n"), std::string::npos) << err;
  EXPECT_FALSE(encoder_has_worker());
  EXPECT_TRUE(g_app.recording.temp_path.empty());
  EXPECT_FALSE(exists(dir_ / "clip.tmp.mp4"));
  EXPECT_FALSE(exists(dir_ / "clip.mp4"));

  service_.refuse_start = false;
  g_app.cli_output_path = dir_ / "next.mp4";
  ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
  ASSERT_EQ(g_app.recording.active.load(), 1u) << "the encoder is still held by the failed start";
  frames_for(300);
  recording_stop();
  EXPECT_TRUE(exists(dir_ / "next.mp4"));
}

// Every start that fails in a command-line run says why on the console:
// the text the tray would have shown.
TEST_F(RecordingFlow, FailedCommandLineStartsSayWhy) {
  const std::string not_a_folder = dir_ / "passwd";
  write_text(not_a_folder, "x");
  // Names that fit only without the temporary suffix, in a folder that does not exist yet.
  const std::string deep = dir_ / "new";
  auto long_name = [&](size_t total) { return deep + "/" + std::string(total - deep.size() - 5, 'n') + ".mp4"; };
  const char* kPath = "Cannot Start Recording: Cannot prepare output file path. Check output folder/path.";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string output, expected;
  } cases[] = {
      {"existing target", [&] { write_text(dir_ / "clip.mp4", "x"); }, dir_ / "clip.mp4", kPath},
      {"pipe at the output name", [&] { mkfifo((dir_ / "pipe.mp4").c_str(), 0644); }, dir_ / "pipe.mp4", kPath},
      {"link at the output name", [&] { symlink("/nonexistent", (dir_ / "link.mp4").c_str()); }, dir_ / "link.mp4",
       kPath},
      {"folder at the temporary name", [&] { mkdir((dir_ / "dir.tmp.mp4").c_str(), 0755); }, dir_ / "dir.mp4",
       kPath},
      {"output folder is a file", [&] { g_app.config.OutputFolder = not_a_folder; }, "",
       "Cannot Start Recording: Output folder does not exist and could not be created."},
      {"name of 256 units", [] {}, long_name(256), kPath},
      {"name of 259 units", [] {}, long_name(259), kPath},
      {"folder too deep for a timestamp name", [] {}, long_name(250).substr(0, 250) + "/", kPath},
      {"configured folder too deep for a timestamp name",
       [&] { g_app.config.OutputFolder = long_name(250).substr(0, 250); }, "", kPath},
      {"unknown microphone",
       [] {
         g_app.config.CaptureMicrophone = 1;
         g_app.config.MicrophoneDeviceId = "frelvanta.no-such-source";
       },
       dir_ / "mic.mp4", "Warning: Microphone capture failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    g_app.cli_output_path = c.output;
    testing::internal::CaptureStderr();
    capture_by_mode(CAPTURE_MONITOR);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_app.recording.active.load(), 0u);
    EXPECT_NE(err.find(c.expected + "\r\n"), std::string::npos) << err;
    g_app.config.OutputFolder = dir_.path();
    g_app.config.CaptureMicrophone = 0;
  }
  // The long names were refused before any folder was made for them.
  EXPECT_FALSE(exists(deep));
}

// The outcome box of one recording runs a nested event loop; a shortcut
// pressed there starts the next recording. Each recording must keep its own
// temporary file, final name and stop: the second one is saved in full and
// the first one's folder is not opened on the second one's file.
struct RecordingSession : DesktopSession {
  std::vector<std::string> shown;
  void keep_awake(bool) override {}
  void show_in_folder(const std::string& path) override { shown.push_back(path); }
};

TEST_F(RecordingFlow, RecordingStartedFromTheOutcomeBoxKeepsItsOwnFile) {
  FakeUi ui;
  RecordingSession session;
  g_app.cli_mode = false;
  g_app.config.OpenFolder = 1;
  g_ui_service = &ui;
  g_desktop_session = &session;

  start();  // clip.mp4, stopped before any frame: "Nothing Recorded" in a box
  std::string second_temp;
  ui.inside_box = [&] {
    g_app.cli_output_path = dir_ / "second.mp4";
    ASSERT_TRUE(capture_by_mode(CAPTURE_MONITOR));
    second_temp = g_app.recording.temp_path;
    frames_for(400);
  };
  recording_stop();
  g_ui_service = nullptr;  // before any assertion can leave the test

  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Nothing Recorded");
  ASSERT_EQ(g_app.recording.active.load(), 1u) << "the second recording runs on";
  EXPECT_EQ(g_app.recording.temp_path, second_temp);
  EXPECT_EQ(g_app.recording.output_path, dir_ / "second.mp4");
  EXPECT_TRUE(session.shown.empty()) << "nothing of the first recording to show, and the second is not done";

  frames_for(200);
  recording_stop();
  g_desktop_session = nullptr;
  EXPECT_TRUE(exists(dir_ / "second.mp4"));
  EXPECT_FALSE(exists(second_temp)) << "the second recording was left under its temporary name";
  EXPECT_FALSE(exists(dir_ / "clip.mp4"));
  EXPECT_EQ(session.shown, std::vector<std::string>{dir_ / "second.mp4"});
}
}  // namespace
