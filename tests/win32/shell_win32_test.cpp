// The interactive shell on the system's windowing under Wine: the hidden
// main window's loop hands posted messages, timers and a registered global
// shortcut to the core's dispatcher; the tray icon follows the main window;
// a shortcut starts a recording after the countdown and the same shortcut
// stops and saves it; the tray menu's Exit ends the loop through the
// shutdown sequence.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "app/hotkey_service.h"
#include "app/main_window.h"
#include "app/shortcuts.h"
#include "app/startup.h"
#include "app/toolkit.h"
#include "app/tray_menu.h"
#include "core/ui_service.h"
#include "app/win32/main_window_win32.h"
#include "app/win32/paused_icon_win32.h"
#include "app/win32/ui_service_win32.h"
#include "capture/capture.h"
#include "core/trace.h"
#include "platform/clock.h"
#include "support/fake_ui.h"
#include "video/encode/encoder.h"
#include "video/encode/media_writer.h"
#include "win32_temp.h"

namespace {
bool contains(const std::vector<std::string>& v, const std::string& s) {
  for (const std::string& e : v)
    if (e == s) return true;
  return false;
}

// Presses `vk` with the modifiers down, as the keyboard would.
void press(std::vector<WORD> modifiers, WORD vk) {
  std::vector<INPUT> in;
  auto key = [&in](WORD k, bool up) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = k;
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.push_back(i);
  };
  for (WORD m : modifiers) key(m, false);
  key(vk, false);
  key(vk, true);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) key(*it, true);
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// Waits until `done` holds, at most `ms`; whether it came true.
template <class Condition>
bool wait_until(Condition done, DWORD ms) {
  for (DWORD waited = 0; !done(); waited += 50) {
    if (waited >= ms) return false;
    Sleep(50);
  }
  return true;
}

// The names in `folder` that end in `suffix`.
std::vector<std::string> files_ending(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(to_wide(folder)), ec)) {
    const std::string name = to_utf8(entry.path().filename().wstring());
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      out.push_back(name);
  }
  return out;
}

class ShellWin32Test : public ::testing::Test {
 protected:
  // As the process start-up does: the capture runtime, the encoder's
  // process-wide parts, the clock and the audio and watchdog workers.
  void SetUp() override {
    app_reset();
    main_window_reset();
    g_app.config.StartDelaySec = 1;  // the capture comes from the countdown's timer
    g_ui_service = &tray_;
    capture_runtime_init();
    encoder_init_process();
    g_app.qpc_frequency = kQpcFrequency;
    ASSERT_TRUE(start_worker_threads());
    loop_ = toolkit_create_message_loop();
    ASSERT_NE(loop_, nullptr);
    g_app.main_window = loop_.get();
    main_window_created();
    toolkit_install_hotkeys();
  }
  void TearDown() override {
    stop_worker_threads();
    unregister_shortcuts();
    g_app.main_window = nullptr;
    g_ui_service = nullptr;
  }

  // Runs the loop on this thread; the loop must end within `ms`.
  void run_until_quit(DWORD ms) {
    HWND window = main_window_handle();
    std::thread watchdog([this, ms, window] {
      if (WaitForSingleObject(done_, ms) == WAIT_OBJECT_0) return;
      ADD_FAILURE() << "the loop did not end";
      PostMessageW(window, WM_CLOSE, 0, 0);
    });
    loop_->run();
    SetEvent(done_);
    watchdog.join();
  }

  FakeUi tray_;
  std::unique_ptr<MessageLoop> loop_;
  HANDLE done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// A shortcut pressed on the keyboard reaches the main window and starts the
// countdown; its timer starts the recording of the monitor; the same
// shortcut pressed again stops it, and the file is saved under its final
// name with nothing to report. Explorer's restart brings the icon back; the
// menu's Exit ends everything. The file goes to the Linux tools when the
// wrapper (run_recording_check.sh) sets FV_RECORDING_OUT.
TEST_F(ShellWin32Test, ShortcutCountdownRecordsStopsTrayAndExit) {
  if (!media_platform_can_write()) GTEST_SKIP() << "this build has no writer for recordings";
  ASSERT_NE(FindWindowW(kInteractiveClass, nullptr), nullptr);
  Win32TempDir videos;
  Config& c = g_app.config;
  c.OutputFolder = videos.path();
  c.CaptureAudio = 0;
  c.CaptureMicrophone = 0;
  c.VideoMaxWidth = 640;
  c.VideoMaxHeight = 360;
  c.OpenFolder = 0;
  c.ShowRecordingBorder = 0;
  c.HardwareEncoder = 0;  // the first-run default here: no hardware encoder
  c.WriteDiagnostics = 1;
  set_run_trace_folder(videos.path());
  ASSERT_TRUE(register_shortcuts()) << "Wine refused a default shortcut";
  SetForegroundWindow(main_window_handle());

  // Ctrl + Print Screen: the monitor shortcut.
  press({VK_CONTROL}, VK_SNAPSHOT);
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  bool started = false, stopped = false;
  // The user, on another thread: once pictures are being written, a second
  // or so more, then the shortcut again; then a restarted Explorer and the
  // tray menu. Conditions, with generous bounds, for a busy machine.
  std::thread user([&] {
    started = wait_until([] { return g_app.encoder.has_video_sample.load() != 0; }, 60000);
    if (started) {
      Sleep(1500);
      press({VK_CONTROL}, VK_SNAPSHOT);
      stopped = wait_until([] { return g_app.recording.active.load() == 0; }, 60000);
    }
    PostMessageW(main_window_handle(), taskbar_created, 0, 0);
    tray_.menu_choice = TRAY_CMD_EXIT;
    PostMessageW(main_window_handle(), MSG_TRAY_CALLBACK, 0, TRAY_EVENT_RBUTTONUP);
  });
  run_until_quit(180000);
  user.join();

  const std::vector<std::string>& e = tray_.events;
  const std::string all = ::testing::PrintToString(e);
  const std::string trace = read_bytes(run_trace_path());
  ASSERT_TRUE(started) << all << "\n" << trace;
  EXPECT_TRUE(stopped) << all << "\n" << trace;
  // The countdown's tooltip, then the recording's, then idle again.
  const auto at = [&e](const std::string& s) { return static_cast<size_t>(std::find(e.begin(), e.end(), s) - e.begin()); };
  EXPECT_LT(at("tip Starting monitor capture in 1..."), at("tip Recording")) << all;
  EXPECT_LT(at("tip Recording"), e.size()) << all;
  EXPECT_EQ(std::count(e.begin(), e.end(), "tip Recording"), 1) << all;
  // A clean save has nothing to say: no box, no balloon.
  for (const std::string& s : e) {
    EXPECT_NE(s.rfind("box|", 0), 0u) << s;
    EXPECT_NE(s.rfind("tray|", 0), 0u) << s;
  }
  // Added at creation and again after the taskbar came back, removed at exit.
  EXPECT_EQ(std::count(e.begin(), e.end(), "add"), 2) << all;
  // No dialogs are installed in this test: Settings and Donate are off.
  EXPECT_NE(at("menu 1 0(off) 3(off) 4(off) 2"), e.size()) << all;
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e.back(), "delete");
  EXPECT_EQ(g_app.countdown.countdown_mode, 0u);

  // One finished file under its final name: fragments after an empty index.
  EXPECT_TRUE(files_ending(videos.path(), ".tmp.mp4").empty());
  const std::vector<std::string> saved = files_ending(videos.path(), ".mp4");
  ASSERT_EQ(saved.size(), 1u) << trace;
  const std::string file = videos / saved[0];
  const std::string bytes = read_bytes(file);
  EXPECT_GT(bytes.size(), 1024u);  // a still desktop codes small
  EXPECT_EQ(bytes.substr(4, 4), "ftyp");
  EXPECT_LT(bytes.find("moov"), bytes.find("moof"));
  EXPECT_NE(bytes.find("moof"), std::string::npos);
  const std::string stop_trace = read_bytes(file + ".stoptrace.txt");
  const size_t begin = stop_trace.find("stop.begin"), renamed = stop_trace.find("stop.rename_done");
  EXPECT_NE(begin, std::string::npos) << stop_trace;
  EXPECT_NE(renamed, std::string::npos) << stop_trace;
  EXPECT_LT(begin, renamed) << stop_trace;
  if (const char* out = std::getenv("FV_RECORDING_OUT"))
    EXPECT_TRUE(CopyFileW(to_wide(file).c_str(), to_wide(path_join(out, "shortcut.mp4")).c_str(), FALSE));
}

// Messages posted from other threads arrive in order, a stop request with no
// recording does nothing, and WM_CLOSE from outside shuts down.
TEST_F(ShellWin32Test, PostedMessagesAndCloseFromOutside) {
  std::thread other([] {
    post_main_window_message(MSG_ALREADY_RUNNING, 0, 0);
    post_stop_request();
    post_main_window_message(WM_HOTKEY, 4, 0);  // pause while idle: nothing
    PostMessageW(FindWindowW(kInteractiveClass, nullptr), WM_CLOSE, 0, 0);
  });
  run_until_quit(10000);
  other.join();
  const std::vector<std::string>& e = tray_.events;
  ASSERT_GE(e.size(), 3u) << ::testing::PrintToString(e);
  EXPECT_EQ(e[e.size() - 2], "tray|Frelvanta|Frelvanta is already running!|1") << ::testing::PrintToString(e);
  EXPECT_EQ(e.back(), "delete");
}

// The system's notification area: the icon exists from tray_add to
// tray_delete, and a balloon can be shown only while it does.
TEST_F(ShellWin32Test, SystemTrayIconLifetime) {
  Win32UiService shell;
  EXPECT_EQ(shell.tray_notification("before", "", NOTIFY_INFO), 0);
  shell.tray_add();
  shell.tray_set_icon(TrayIconState::kRecording);
  shell.tray_set_tip("Recording");
  EXPECT_NE(shell.tray_notification("Frelvanta is already running!", "Frelvanta", NOTIFY_INFO), 0);
  EXPECT_NE(shell.tray_notification("Cannot record selected monitor!", "Error", NOTIFY_ERROR), 0);
  shell.tray_delete();
  EXPECT_EQ(shell.tray_notification("after", "", NOTIFY_INFO), 0);
  post_main_window_message(WM_CLOSE, 0, 0);
  run_until_quit(10000);
}

// An executable without a paused icon on a 16 x 16 tray: two white bars 3
// wide and 5 high at x 3 to 6 and 7 to 10, outlined in black, over the
// recording icon's own picture.
TEST(PausedIconWin32, BarsOverTheRecordingIcon) {
  constexpr int kSize = 16;
  constexpr uint32_t kRed = 0x00FF0000u;
  std::vector<uint32_t> red(kSize * kSize, kRed);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = CreateBitmap(kSize, kSize, 1, 32, red.data());
  info.hbmMask = CreateBitmap(kSize, kSize, 1, 1, std::vector<uint8_t>(kSize * kSize / 8, 0).data());
  HICON recording = CreateIconIndirect(&info);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  ASSERT_NE(recording, nullptr);

  HICON paused = make_paused_icon_win32(recording);
  ASSERT_NE(paused, nullptr);
  ICONINFO made{};
  ASSERT_TRUE(GetIconInfo(paused, &made));
  ASSERT_NE(made.hbmColor, nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = kSize;
  bi.bmiHeader.biHeight = -kSize;  // top row first
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> px(kSize * kSize);
  HDC dc = GetDC(nullptr);
  ASSERT_EQ(GetDIBits(dc, made.hbmColor, 0, kSize, px.data(), &bi, DIB_RGB_COLORS), kSize);
  ReleaseDC(nullptr, dc);
  DeleteObject(made.hbmColor);
  DeleteObject(made.hbmMask);
  DestroyIcon(paused);
  DestroyIcon(recording);

  auto at = [&px](int x, int y) { return px[size_t(y) * kSize + size_t(x)] & 0xFFFFFFu; };
  struct Probe {
    int x, y;
    uint32_t rgb;
  } probes[] = {
      {3, 5, 0xFFFFFF},  {5, 9, 0xFFFFFF},  {7, 5, 0xFFFFFF},  {9, 9, 0xFFFFFF},   // the bars
      {6, 7, 0x000000},  {2, 7, 0x000000},  {10, 7, 0x000000}, {4, 4, 0x000000},  {8, 10, 0x000000},  // outline
      {1, 7, kRed},      {11, 7, kRed},     {4, 3, kRed},      {0, 0, kRed},      {15, 15, kRed},     // untouched
  };
  for (const Probe& p : probes) EXPECT_EQ(at(p.x, p.y), p.rgb) << "at " << p.x << "," << p.y;
}
}  // namespace
