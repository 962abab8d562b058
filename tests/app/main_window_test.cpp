#include "app/main_window.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/app_state.h"
#include "app/startup.h"
#include "app/shell_dialogs.h"
#include "app/tray_menu.h"
#include "core/desktop_session.h"
#include "core/ui_service.h"
#include "support/fake_ui.h"

namespace {
struct FakeLoop : MessageLoop {
  std::vector<uint32_t> posted;
  int quits = 0;
  void post(uint32_t msg, uintptr_t, intptr_t) override { posted.push_back(msg); }
  void set_timer(uintptr_t, uint32_t) override {}
  void kill_timer(uintptr_t) override {}
  void quit() override { ++quits; }
  void run() override {}
};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    app_reset();
    main_window_reset();
    g_ui_service = &ui;
    g_app.main_window = &loop;
  }
  void TearDown() override {
    if (g_app.audio_thread.joinable() || g_app.watchdog_thread.joinable()) stop_worker_threads();
    g_ui_service = nullptr;
    app_reset();
  }
  FakeUi ui;
  FakeLoop loop;
};

TEST_F(MainWindow, SecondInstanceShowsTheNotification) {
  main_window_proc(MSG_ALREADY_RUNNING, 0, 0);
  ASSERT_EQ(ui.notes.size(), 1u);
  EXPECT_EQ(ui.notes[0].text, "Frelvanta is already running!");
  EXPECT_EQ(ui.notes[0].caption, "Frelvanta");
  EXPECT_EQ(ui.notes[0].kind, NOTIFY_INFO);
}

TEST_F(MainWindow, TrayOnlyInInteractiveMode) {
  main_window_created();
  EXPECT_EQ(ui.tray_adds, 1);
  g_app.cli_mode = true;
  main_window_created();
  EXPECT_EQ(ui.tray_adds, 1);
}

TEST_F(MainWindow, CloseRunsTheShutdownOnceAndJoinsTheWorkers) {
  ASSERT_TRUE(start_worker_threads());
  ASSERT_TRUE(g_app.audio_thread.joinable());
  ASSERT_TRUE(g_app.watchdog_thread.joinable());
  // Ticks before the quit are consumed, never left pending forever.
  g_app.audio_tick_pending.exchange(1);
  g_app.audio_wake_event->set();
  main_window_proc(WM_CLOSE, 0, 0);
  main_window_proc(WM_CLOSE, 0, 0);  // a second close finds the window gone
  EXPECT_FALSE(g_app.audio_thread.joinable());
  EXPECT_FALSE(g_app.watchdog_thread.joinable());
  EXPECT_EQ(g_app.audio_wake_event, nullptr);
  EXPECT_EQ(g_app.watchdog_wake_event, nullptr);
  EXPECT_EQ(g_app.audio_quit.load(), 1u);
  EXPECT_EQ(ui.tray_deletes, 1);
  EXPECT_EQ(loop.quits, 1);
}

TEST_F(MainWindow, AbandonedEncoderSkipsTheJoin) {
  ASSERT_TRUE(start_worker_threads());
  g_app.skip_worker_join = 1;
  main_window_proc(WM_CLOSE, 0, 0);
  EXPECT_TRUE(g_app.audio_thread.joinable());
  EXPECT_EQ(g_app.audio_quit.load(), 0u);
  EXPECT_EQ(loop.quits, 1);
  g_app.skip_worker_join = 0;
}

TEST_F(MainWindow, StopRequestIsPostedFromAnyThread) {
  std::thread([] { post_stop_request(); }).join();
  ASSERT_EQ(loop.posted.size(), 1u);
  EXPECT_EQ(loop.posted[0], 1026u);
  g_app.main_window = nullptr;
  post_stop_request();  // no window yet: dropped
  EXPECT_EQ(loop.posted.size(), 1u);
}

TEST(CommandLineOverrides, InMemoryTable) {
  struct Case {
    bool audio_given, audio, mic_given, mic;
    uint32_t duration;
    uint32_t CaptureAudio, CaptureMicrophone, EnableLimitLength, LimitLength;
  };
  // Loaded: CaptureAudio 1, CaptureMicrophone 1, EnableLimitLength 1, LimitLength 45.
  const Case cases[] = {
      {false, false, false, false, 0, 1, 1, 1, 45},
      {true, false, false, false, 0, 0, 1, 1, 45},
      {true, true, true, false, 0, 1, 0, 1, 45},
      {false, false, false, false, 30, 1, 1, 1, 30},
      {false, false, false, false, 86400, 1, 1, 1, 86400},
  };
  for (const Case& c : cases) {
    app_reset();
    g_app.config.CaptureMicrophone = 1;
    g_app.config.EnableLimitLength = 1;
    g_app.config.LimitLength = 45;
    g_app.config.StartDelaySec = 5;
    g_app.cli_audio_given = c.audio_given;
    g_app.cli_audio = c.audio;
    g_app.cli_mic_given = c.mic_given;
    g_app.cli_mic = c.mic;
    g_app.cli_duration_sec = c.duration;
    apply_command_line_overrides();
    EXPECT_EQ(g_app.config.StartDelaySec, 0u);
    EXPECT_EQ(g_app.config.OpenFolder, 0u);
    EXPECT_EQ(g_app.config.CaptureAudio, c.CaptureAudio);
    EXPECT_EQ(g_app.config.CaptureMicrophone, c.CaptureMicrophone);
    EXPECT_EQ(g_app.config.EnableLimitLength, c.EnableLimitLength);
    EXPECT_EQ(g_app.config.LimitLength, c.LimitLength);
  }
  // A duration of 0 leaves a disabled limit disabled.
  app_reset();
  g_app.config.EnableLimitLength = 0;
  apply_command_line_overrides();
  EXPECT_EQ(g_app.config.EnableLimitLength, 0u);
  app_reset();
}

struct FolderSession : DesktopSession {
  std::vector<std::string> shown;
  void keep_awake(bool) override {}
  void show_in_folder(const std::string& path) override { shown.push_back(path); }
};

TEST_F(MainWindow, PauseShortcutTogglesStateIconAndTip) {
  g_app.recording.active = 1;
  main_window_proc(WM_HOTKEY, 4, 0);
  EXPECT_EQ(g_app.recording.paused.load(), 1u);
  main_window_proc(WM_HOTKEY, 4, 0);
  EXPECT_EQ(g_app.recording.paused.load(), 0u);
  EXPECT_EQ(ui.icons, (std::vector<TrayIconState>{TrayIconState::kPaused, TrayIconState::kRecording}));
  EXPECT_EQ(ui.tips, (std::vector<std::string>{"Recording (PAUSED)", "Recording"}));
  EXPECT_TRUE(loop.posted.empty());
  g_app.recording.active = 0;
}

TEST_F(MainWindow, CaptureShortcutWhileRecordingAsksForTheStop) {
  g_app.recording.active = 1;
  for (uintptr_t id : {1, 2, 3}) main_window_proc(WM_HOTKEY, id, 0);
  EXPECT_EQ(loop.posted, (std::vector<uint32_t>{MSG_STOP_REQUEST, MSG_STOP_REQUEST, MSG_STOP_REQUEST}));
  g_app.recording.active = 0;
}

TEST_F(MainWindow, ShortcutsIdleWithoutEffect) {
  // Pause with nothing recorded; any shortcut while a capture request runs.
  main_window_proc(WM_HOTKEY, 4, 0);
  g_app.capture_request_active = 1;
  for (uintptr_t id : {1, 2, 3, 4}) main_window_proc(WM_HOTKEY, id, 0);
  EXPECT_TRUE(loop.posted.empty());
  EXPECT_TRUE(ui.icons.empty());
  EXPECT_EQ(g_app.recording.active.load(), 0u);
}

TEST_F(MainWindow, RightClickShowsTheMenuForTheState) {
  auto settings_enabled = [&] { return ui.menus.back().at(2).enabled; };
  g_show_settings_dialog = [](Config*) { return 0; };
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  ASSERT_EQ(ui.menus.size(), 1u);
  EXPECT_TRUE(settings_enabled());
  g_app.recording.active = 1;
  main_window_proc(MSG_TRAY_CALLBACK, 0, 0x10000 | TRAY_EVENT_RBUTTONUP);  // only the low word counts
  ASSERT_EQ(ui.menus.size(), 2u);
  EXPECT_FALSE(settings_enabled());
  g_app.recording.active = 0;
  g_show_settings_dialog = nullptr;
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  EXPECT_FALSE(settings_enabled()) << "no dialog in this build: present but disabled";
}

TEST_F(MainWindow, SettingsFromDoubleClickOnlyWhenIdle) {
  static int opened;
  opened = 0;
  g_show_settings_dialog = [](Config*) {
    ++opened;
    return 0;  // cancelled: nothing saved, shortcuts untouched
  };
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_LBUTTONDBLCLK);
  EXPECT_EQ(opened, 1);
  g_app.recording.active = 1;
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_LBUTTONDBLCLK);
  EXPECT_EQ(opened, 1);
  g_app.recording.active = 0;
  g_show_settings_dialog = nullptr;
}

TEST_F(MainWindow, ExitFromTheMenuRunsTheShutdown) {
  ui.menu_choice = TRAY_CMD_EXIT;
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  EXPECT_EQ(ui.tray_deletes, 1);
  EXPECT_EQ(loop.quits, 1);
}

TEST_F(MainWindow, BalloonClickShowsTheLastRecording) {
  FolderSession session;
  g_desktop_session = &session;
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_BALLOON_CLICK);  // nothing recorded yet
  g_app.recording.output_path = "/videos/clip.mp4";
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_BALLOON_CLICK);
  g_desktop_session = nullptr;
  EXPECT_EQ(session.shown, std::vector<std::string>{"/videos/clip.mp4"});
}

TEST_F(MainWindow, TrayComingBackShowsTheStateIconWithThePlainTip) {
  g_app.recording.active = 1;
  g_app.recording.paused = 1;
  main_window_proc(MSG_TASKBAR_CREATED, 0, 0);
  EXPECT_EQ(ui.tray_adds, 1);
  EXPECT_EQ(ui.icons, std::vector<TrayIconState>{TrayIconState::kPaused});
  EXPECT_EQ(ui.tips, std::vector<std::string>{"Frelvanta"});
  g_app.recording.active = 0;
  g_app.recording.paused = 0;
}

// A session without global shortcuts: one notice, and the menu's extra
// items act as the shortcuts would.
TEST_F(MainWindow, DesktopWithoutShortcutsSaysSoOnceAndTheMenuStandsIn) {
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  EXPECT_EQ(ui.menus.back().size(), 5u) << "shortcuts work: the specified menu only";
  shortcuts_unavailable();
  shortcuts_unavailable();
  ASSERT_EQ(ui.notices.size(), 1u);
  EXPECT_NE(ui.notices[0].find("shortcuts are not available"), std::string::npos) << ui.notices[0];
  EXPECT_NE(ui.notices[0].find("tray menu"), std::string::npos) << ui.notices[0];

  g_app.recording.active = 1;
  ui.menu_choice = TRAY_CMD_PAUSE;
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  EXPECT_EQ(ui.menus.back().size(), 10u);
  EXPECT_EQ(g_app.recording.paused.load(), 1u);
  ui.menu_choice = TRAY_CMD_CAPTURE_WINDOW;  // a capture item while recording stops it
  main_window_proc(MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  EXPECT_EQ(loop.posted, std::vector<uint32_t>{MSG_STOP_REQUEST});
  g_app.recording.active = 0;
  g_app.recording.paused = 0;
}

TEST_F(MainWindow, DesktopWithoutTraySaysOnceHowToReachIt) {
  main_window_created();
  EXPECT_TRUE(ui.notices.empty());
  ui.has_tray = false;
  main_window_created();
  ASSERT_EQ(ui.notices.size(), 1u);
  EXPECT_NE(ui.notices[0].find("Ctrl + PrtScr"), std::string::npos);
  EXPECT_NE(ui.notices[0].find("To exit Frelvanta"), std::string::npos);
}
}  // namespace
