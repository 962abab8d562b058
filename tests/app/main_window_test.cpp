#include "app/main_window.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "app/startup.h"
#include "app/ui_service.h"

namespace {
struct FakeUi : UiService {
  struct Note {
    std::string text, caption;
    int kind;
  };
  std::vector<Note> notes;
  int tray_adds = 0, tray_deletes = 0;
  int message_box(const std::string&, const std::string&, uint32_t) override { return IDOK; }
  int tray_notification(const std::string& text, const std::string& caption, int kind) override {
    notes.push_back({text, caption, kind});
    return 1;
  }
  void tray_add() override { ++tray_adds; }
  void tray_delete() override { ++tray_deletes; }
};

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
}  // namespace
